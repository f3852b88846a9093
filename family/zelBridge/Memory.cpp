/* The raw commands: C memory read and written by type encoding, and
   callbacks (script functions behind C function pointers). They write
   where the script tells them: that is their purpose. Blocks they
   allocate are known, so reads and writes inside one are kept inside it
   and only such blocks are freed. */
#include "bridge.h"

#include <cstdlib>
#include <cstring>
#include <map>

namespace zelbridge {

namespace {

/* The blocks `memory alloc` and `memory new` made: start and size. */
std::map<const char *, size_t> &blocks() {
  static auto *made = new std::map<const char *, size_t>;
  return *made;
}

/* Largest block a script may allocate at once. */
constexpr long long maxBlock = 256LL * 1024 * 1024;

bool pointerArgument(Script &script, ScriptValue value, char *&pointer,
                     std::string &error) {
  void *found = nullptr;
  Arena arena;
  if (!toC(script, value, "^v", &found, false, arena, error))
    return false;
  if (!found) {
    error = "expected a pointer but got a null one";
    return false;
  }
  pointer = static_cast<char *>(found);
  return true;
}

/* Inside a known block, the bytes must fit it. */
bool fits(const char *pointer, long long bytes, std::string &error) {
  auto &known = blocks();
  auto after = known.upper_bound(pointer);
  if (after == known.begin())
    return true;
  auto block = std::prev(after);
  const char *end = block->first + block->second;
  if (pointer >= end)
    return true;
  if (bytes <= end - pointer)
    return true;
  error = "memory " + formatPointer(pointer) + ": " + std::to_string(bytes) +
          " bytes run past the end of its block of " +
          std::to_string(block->second);
  return false;
}

bool countArgument(Script &script, ScriptValue value, long long low,
                   long long high, const char *what, long long &out,
                   std::string &error) {
  if (script.getInteger(value, out) && out >= low && out <= high)
    return true;
  error = std::string("expected ") + what + " but got " +
          quote(textOf(script, value));
  return false;
}

/* The size of one value of the type (its checks first). */
bool typeSize(Script &script, ScriptValue value, std::string &type,
              long long &size, std::string &error) {
  type = textOf(script, value);
  auto signature = prepare(("v0" + type).c_str(), error);
  if (!signature)
    return false;
  if (signature->arguments.size() != 1) {
    error = "expected one type but got " + quote(type);
    return false;
  }
  size = objc_aligned_size(type.c_str());
  if (size <= 0) {
    error = "unsupported type encoding " + quote(type);
    return false;
  }
  return true;
}

char *allocate(long long size, std::string &error) {
  char *block = static_cast<char *>(std::calloc(1, static_cast<size_t>(size)));
  if (!block)
    error = "out of memory for " + std::to_string(size) + " bytes";
  else
    blocks()[block] = static_cast<size_t>(size);
  return block;
}

/* ---- memory ---- */

bool memoryAlloc(Script &script, ScriptValue *args, int, ScriptValue &result,
                 std::string &error) {
  long long size = 0;
  if (!countArgument(script, args[0], 1, maxBlock, "a size in bytes", size,
                     error))
    return false;
  char *block = allocate(size, error);
  if (!block)
    return false;
  result = script.newPointer(block);
  return true;
}

bool memoryFree(Script &script, ScriptValue *args, int, ScriptValue &result,
                std::string &error) {
  char *pointer = nullptr;
  if (!pointerArgument(script, args[0], pointer, error))
    return false;
  auto found = blocks().find(pointer);
  if (found == blocks().end()) {
    error = "no memory block " + formatPointer(pointer) +
            " made by memory alloc or memory new";
    return false;
  }
  blocks().erase(found);
  std::free(pointer);
  result = script.newNil();
  return true;
}

/* POINTER TYPE ?COUNT? */
bool memoryRead(Script &script, ScriptValue *args, int argc,
                ScriptValue &result, std::string &error) {
  char *pointer = nullptr;
  std::string type;
  long long size = 0, count = 1;
  if (!pointerArgument(script, args[0], pointer, error) ||
      !typeSize(script, args[1], type, size, error) ||
      (argc > 2 &&
       !countArgument(script, args[2], 0, maxItems, "a count", count, error)) ||
      !fits(pointer, size * count, error))
    return false;
  if (argc == 2) {
    result = fromC(script, type.c_str(), pointer, error);
    return result != nullptr;
  }
  std::vector<ScriptValue> items;
  for (long long i = 0; i < count; ++i) {
    ScriptValue item = fromC(script, type.c_str(), pointer + i * size, error);
    if (!item)
      return false;
    items.push_back(item);
  }
  result = script.newList(items.data(), static_cast<int>(items.size()));
  return true;
}

bool writeValue(Script &script, char *pointer, const std::string &type,
                long long size, ScriptValue value, std::string &error) {
  if (*objc_skip_type_qualifiers(type.c_str()) == '*') {
    error = "cannot write a C string into memory: nothing would own it "
            "(write its bytes with a [Nc] type)";
    return false;
  }
  Arena arena;
  std::vector<char> converted(static_cast<size_t>(size) + 8);
  if (!toC(script, value, type.c_str(), converted.data(), false, arena, error))
    return false;
  std::memcpy(pointer, converted.data(), static_cast<size_t>(size));
  return true;
}

/* POINTER TYPE VALUE */
bool memoryWrite(Script &script, ScriptValue *args, int, ScriptValue &result,
                 std::string &error) {
  char *pointer = nullptr;
  std::string type;
  long long size = 0;
  if (!pointerArgument(script, args[0], pointer, error) ||
      !typeSize(script, args[1], type, size, error) ||
      !fits(pointer, size, error) ||
      !writeValue(script, pointer, type, size, args[2], error))
    return false;
  result = script.newNil();
  return true;
}

/* TYPE ?VALUE?: zeroed room for one value, for out-parameters. */
bool memoryNew(Script &script, ScriptValue *args, int argc, ScriptValue &result,
               std::string &error) {
  std::string type;
  long long size = 0;
  if (!typeSize(script, args[0], type, size, error))
    return false;
  char *block = allocate(size, error);
  if (!block)
    return false;
  if (argc > 1 && !writeValue(script, block, type, size, args[1], error)) {
    blocks().erase(block);
    std::free(block);
    return false;
  }
  result = script.newPointer(block);
  return true;
}

/* POINTER ?LENGTH?: the bytes up to the NUL, or LENGTH bytes. */
bool memoryString(Script &script, ScriptValue *args, int argc,
                  ScriptValue &result, std::string &error) {
  char *pointer = nullptr;
  long long length = 0;
  if (!pointerArgument(script, args[0], pointer, error) ||
      (argc > 1 &&
       !countArgument(script, args[1], 0, maxBlock, "a length", length, error)))
    return false;
  if (argc == 1) {
    result = script.newText(pointer);
    return true;
  }
  if (!fits(pointer, length, error))
    return false;
  result = script.newBytes(pointer, static_cast<size_t>(length));
  return true;
}

/* POINTER N: the pointer N bytes further. */
bool memoryOffset(Script &script, ScriptValue *args, int, ScriptValue &result,
                  std::string &error) {
  char *pointer = nullptr;
  long long offset = 0;
  if (!pointerArgument(script, args[0], pointer, error) ||
      !countArgument(script, args[1], INT32_MIN, INT32_MAX, "a byte offset",
                     offset, error))
    return false;
  result = script.newPointer(pointer + offset);
  return true;
}

/* ---- callbacks ---- */

std::map<void *, ScriptClosure *> &callbacks() {
  static auto *made = new std::map<void *, ScriptClosure *>;
  return *made;
}

void freeCallback(ScriptClosure *closure) {
  ffi_closure_free(closure->closure);
  delete closure;
}

} // namespace

ScriptValue Script::newBytes(const char *bytes, size_t length) {
  return newText(std::string(bytes, length).c_str());
}

/* TYPES BODY: a C function pointer that runs the body. */
bool callbackNew(Script &script, ScriptValue *args, int, ScriptValue &result,
                 std::string &error) {
  auto closure = std::make_unique<ScriptClosure>();
  std::string types = textOf(script, args[0]);
  closure->callback = true;
  closure->signature = prepare(types.c_str(), error);
  if (!closure->signature)
    return false;
  if (!bodyIsFunction(script, args[1], error))
    return false;
  int arguments = static_cast<int>(closure->signature->arguments.size());
  closure->body =
      script.newBody(args + 1, types.c_str(), arguments, false, error);
  void *code = nullptr;
  if (!closure->body || !prepareClosure(*closure, code, error))
    return false;
  callbacks()[code] = closure.release();
  result = script.newPointer(code);
  return true;
}

namespace {

bool callbackFree(Script &script, ScriptValue *args, int, ScriptValue &result,
                  std::string &error) {
  char *pointer = nullptr;
  if (!pointerArgument(script, args[0], pointer, error))
    return false;
  auto found = callbacks().find(pointer);
  if (found == callbacks().end()) {
    error = "no callback " + formatPointer(pointer);
    return false;
  }
  if (found->second->running) {
    error = "callback " + formatPointer(pointer) + " is running";
    return false;
  }
  freeCallback(found->second);
  callbacks().erase(found);
  result = script.newNil();
  return true;
}

} // namespace

void freeCallbacks(Script &script) {
  for (auto entry = callbacks().begin(); entry != callbacks().end();) {
    ScriptClosure *closure = entry->second;
    if (&closure->body->script() == &script && !closure->running) {
      freeCallback(closure);
      entry = callbacks().erase(entry);
    } else {
      ++entry;
    }
  }
}

const Command memoryCommands[] = {
    {"alloc", "SIZE", 1, 1, memoryAlloc, nullptr,
     "a zeroed block of SIZE bytes (its pointer)"},
    {"free", "POINTER", 1, 1, memoryFree, nullptr,
     "frees a block made by alloc or new"},
    {"read", "POINTER TYPE ?COUNT?", 2, 3, memoryRead, nullptr,
     "the value of the type there, or a list of COUNT of them"},
    {"write", "POINTER TYPE VALUE", 3, 3, memoryWrite, nullptr,
     "writes the value there as the type"},
    {"new", "TYPE ?VALUE?", 1, 2, memoryNew, nullptr,
     "zeroed room for one value of the type (an out-parameter)"},
    {"string", "POINTER ?LENGTH?", 1, 2, memoryString, nullptr,
     "the text up to the NUL, or LENGTH bytes"},
    {"offset", "POINTER N", 2, 2, memoryOffset, nullptr,
     "the pointer N bytes further"},
    {nullptr, nullptr, 0, 0, nullptr, nullptr, nullptr}};

const Command callbackCommands[] = {
    {"new", "TYPES BODY", 2, 2, callbackNew, nullptr,
     "a C function pointer running the body", true},
    {"free", "POINTER", 1, 1, callbackFree, nullptr, "frees a callback"},
    {nullptr, nullptr, 0, 0, nullptr, nullptr, nullptr}};

} // namespace zelbridge
