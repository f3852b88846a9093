/* Script values to C values and back, by type encoding. */
#include "bridge.h"

#include <cerrno>
#include <cfloat>
#include <climits>
#include <cstdint>
#include <cstring>

namespace zelbridge {

namespace {

const char *typeBody(const char *type) {
  return objc_skip_type_qualifiers(type);
}

bool unsupported(const char *type, std::string &error) {
  error = "unsupported type encoding " + quoteType(typeBody(type));
  return false;
}

int memberCount(const char *body) {
  int count = 0;
  eachMember(body, [&](const char *, int) { return ++count, true; });
  return count;
}

std::string quoted(Script &script, ScriptValue value) {
  Arena arena;
  return quote(script.getText(value, arena));
}

bool valueIn(Script &script, ScriptValue value, const char *type, void *storage,
             bool promoted, Arena &arena, std::string &error);
ScriptValue valueOut(Script &script, const char *type, const void *storage,
                     std::string &error);

/* ---- integers ---- */

bool integerIn(Script &script, ScriptValue value, long long low, long long high,
               const char *type, long long &out, std::string &error) {
  if (!script.getInteger(value, out)) {
    error = "expected integer but got " + quoted(script, value);
    return false;
  }
  if (out < low || out > high) {
    error = "integer " + std::to_string(out) + " does not fit type " +
            quoteType(type);
    return false;
  }
  return true;
}

/* q and Q from their decimal (or 0x) text, through zelObjC_strtoull. */
bool wideFrom(Script &script, ScriptValue value, bool isSigned, void *storage,
              std::string &error) {
  Arena arena;
  const char *text = script.getText(value, arena);
  const char *digits = text;
  while (*digits == ' ')
    ++digits;
  bool negative = *digits == '-';
  if (negative || *digits == '+')
    ++digits;
  char *end = nullptr;
  errno = 0;
  unsigned long long magnitude = zelObjC_strtoull(digits, &end, 0);
  bool overflow = errno == ERANGE;
  bool parsed = end != digits && *end == '\0' && *digits != '-' &&
                *digits != '+' && *digits != ' ';
  if (!parsed && !overflow) {
    error = "expected integer but got " + quote(text);
    return false;
  }
  bool fits = !overflow;
  if (isSigned)
    fits = fits && magnitude <= (negative ? 1ULL << 63 : (1ULL << 63) - 1);
  else
    fits = fits && (!negative || magnitude == 0);
  if (!fits) {
    error = "integer " + cut(text) + " does not fit type \"" +
            (isSigned ? "q" : "Q") + "\"";
    return false;
  }
  unsigned long long bits = negative ? 0ULL - magnitude : magnitude;
  std::memcpy(storage, &bits, sizeof bits);
  return true;
}

template <typename T> void store(void *storage, T value) {
  std::memcpy(storage, &value, sizeof value);
}

template <typename T> T load(const void *storage) {
  T value;
  std::memcpy(&value, storage, sizeof value);
  return value;
}

/* An integer of a type narrower than 64 bits, stored in its own width or
   as an int when promoted. */
bool smallIntegerFrom(Script &script, ScriptValue value, const char *type,
                      void *storage, bool promoted, std::string &error) {
  long long number = 0;
  bool ok = false;
  switch (*type) {
  case 'c': { /* BOOL: a truth value where the text is no integer */
    bool truth = false;
    if (!script.getInteger(value, number) && script.getBoolean(value, truth)) {
      if (promoted)
        store(storage, static_cast<int32_t>(truth));
      else
        store(storage, static_cast<signed char>(truth));
      return true;
    }
  }
    ok = integerIn(script, value, SCHAR_MIN, SCHAR_MAX, type, number, error);
    if (ok && !promoted)
      store(storage, static_cast<signed char>(number));
    break;
  case 'C':
    ok = integerIn(script, value, 0, UCHAR_MAX, type, number, error);
    if (ok && !promoted)
      store(storage, static_cast<unsigned char>(number));
    break;
  case 's':
    ok = integerIn(script, value, SHRT_MIN, SHRT_MAX, type, number, error);
    if (ok && !promoted)
      store(storage, static_cast<short>(number));
    break;
  case 'S':
    ok = integerIn(script, value, 0, USHRT_MAX, type, number, error);
    if (ok && !promoted)
      store(storage, static_cast<unsigned short>(number));
    break;
  case 'i':
  case 'l':
    ok = integerIn(script, value, INT32_MIN, INT32_MAX, type, number, error);
    promoted = true;
    break;
  default: /* I L */
    ok = integerIn(script, value, 0, UINT32_MAX, type, number, error);
    promoted = true;
    break;
  }
  if (ok && promoted)
    store(storage, static_cast<uint32_t>(number));
  return ok;
}

bool realFrom(Script &script, ScriptValue value, bool single, void *storage,
              std::string &error) {
  double number = 0;
  if (!script.getDouble(value, number)) {
    error = "expected floating-point number but got " + quoted(script, value);
    return false;
  }
  if (!single) {
    store(storage, number);
    return true;
  }
  if (number > FLT_MAX || number < -FLT_MAX) {
    if (number == number && number - number == number - number) {
      error = "number " + quoted(script, value) + " does not fit type \"f\"";
      return false;
    }
  }
  store(storage, static_cast<float>(number));
  return true;
}

/* ---- pointers, objects, selectors ---- */

bool pointerFrom(Script &script, ScriptValue value, void *storage,
                 std::string &error) {
  Handle handle;
  void *pointer = nullptr;
  if (script.getHandle(value, handle)) {
    id object = nil;
    if (!resolve(handle, object, error))
      return false;
    pointer = object;
  } else if (!script.isNil(value, false)) {
    Arena arena;
    long long number = 0;
    if (!parsePointer(script.getText(value, arena), pointer)) {
      if (!script.getInteger(value, number) || number < INT32_MIN ||
          number > UINT32_MAX) {
        error = "expected pointer but got " + quoted(script, value);
        return false;
      }
      pointer = reinterpret_cast<void *>(static_cast<uintptr_t>(number));
    }
  }
  store(storage, pointer);
  return true;
}

bool objectArgument(Script &script, ScriptValue value, void *storage,
                    Arena &arena, std::string &error) {
  Handle handle;
  id object = nil;
  if (script.getHandle(value, handle)) {
    if (!resolve(handle, object, error))
      return false;
  } else if (script.structuredValues()) {
    /* Numbers, arrays and maps of the language stand for Foundation's. */
    if (!structuredObject(script, value, object, error))
      return false;
  } else if (!script.isNil(value, false)) {
    /* Any other value stands for a string. */
    const char *text = cString(script, value, arena, error);
    if (!text)
      return false;
    object = objc_send_class("NSString", "stringWithCString:", text);
  }
  store(storage, object);
  return true;
}

bool classArgument(Script &script, ScriptValue value, void *storage,
                   std::string &error) {
  id object = nil;
  if (!objectFrom(script, value, true, object, error))
    return false;
  store(storage, object);
  return true;
}

bool textArgument(Script &script, ScriptValue value, bool selector,
                  void *storage, Arena &arena, std::string &error) {
  if (script.isNil(value, !selector)) {
    store<void *>(storage, nullptr);
    return true;
  }
  const char *text = cString(script, value, arena, error);
  if (!text)
    return false;
  if (selector)
    store(storage, sel_registerName(text));
  else /* a copy for the call: C may write into it, the value stays */
    store(storage, arena.keep(text, std::strlen(text)));
  return true;
}

bool itemsOf(Script &script, ScriptValue value, size_t count, const char *what,
             std::vector<ScriptValue> &items, std::string &error) {
  if (!script.getItems(value, items) || items.size() != count) {
    error = "expected a list of " + std::to_string(count) + " " + what +
            " but got " + quoted(script, value);
    return false;
  }
  return true;
}

/* The conversions below run on a type that checkType accepted: each
   member walked lies inside the storage the aggregate measures. */
bool structFrom(Script &script, ScriptValue value, const char *body,
                char *storage, Arena &arena, std::string &error) {
  std::vector<ScriptValue> items;
  if (!itemsOf(script, value, static_cast<size_t>(memberCount(body)), "members",
               items, error))
    return false;
  size_t index = 0;
  return eachMember(body, [&](const char *member, int offset) {
    return valueIn(script, items[index++], member, storage + offset, false,
                   arena, error);
  });
}

bool arrayFrom(Script &script, ScriptValue value, const char *body,
               char *storage, Arena &arena, std::string &error) {
  long long count = 0;
  const char *element = nullptr;
  arrayCount(body, count, element);
  std::vector<ScriptValue> items;
  if (!itemsOf(script, value, static_cast<size_t>(count), "elements", items,
               error))
    return false;
  int stride = objc_aligned_size(element);
  for (size_t i = 0; i < items.size(); ++i)
    if (!valueIn(script, items[i], element, storage + i * size_t(stride), false,
                 arena, error))
      return false;
  return true;
}

bool unionFrom(Script &script, ScriptValue value, const char *body,
               char *storage, Arena &arena, std::string &error) {
  return valueIn(script, value, firstMember(body), storage, false, arena,
                 error);
}

/* ---- back to script values ---- */

void discardAll(Script &script, const std::vector<ScriptValue> &items) {
  for (ScriptValue item : items)
    script.discard(item);
}

ScriptValue structValue(Script &script, const char *body, const char *storage,
                        std::string &error) {
  std::vector<ScriptValue> items;
  bool ok = eachMember(body, [&](const char *member, int offset) {
    ScriptValue item = valueOut(script, member, storage + offset, error);
    if (item)
      items.push_back(item);
    return item != nullptr;
  });
  if (!ok) {
    discardAll(script, items);
    return nullptr;
  }
  return script.newList(items.data(), static_cast<int>(items.size()));
}

ScriptValue arrayValue(Script &script, const char *body, const char *storage,
                       std::string &error) {
  long long count = 0;
  const char *element = nullptr;
  arrayCount(body, count, element);
  int stride = objc_aligned_size(element);
  std::vector<ScriptValue> items;
  for (long long i = 0; i < count; ++i) {
    ScriptValue item = valueOut(script, element, storage + i * stride, error);
    if (!item) {
      discardAll(script, items);
      return nullptr;
    }
    items.push_back(item);
  }
  return script.newList(items.data(), static_cast<int>(count));
}

ScriptValue objectValue(Script &script, id object) {
  if (!object)
    return script.newNil();
  return script.newHandle(handleFor(object));
}

ScriptValue wideValue(Script &script, const void *storage, bool isSigned) {
  char digits[24];
  if (isSigned)
    zelObjC_lltostr(load<long long>(storage), digits);
  else
    zelObjC_ulltostr(load<unsigned long long>(storage), digits);
  return script.newWideInteger(digits);
}

bool valueIn(Script &script, ScriptValue value, const char *type, void *storage,
             bool promoted, Arena &arena, std::string &error) {
  const char *body = typeBody(type);
  char *bytes = static_cast<char *>(storage);
  switch (*body) {
  case 'c':
  case 'C':
  case 's':
  case 'S':
  case 'i':
  case 'I':
  case 'l':
  case 'L':
    return smallIntegerFrom(script, value, body, storage, promoted, error);
  case 'q':
  case 'Q':
    return wideFrom(script, value, *body == 'q', storage, error);
  case 'f':
  case 'd':
    return realFrom(script, value, *body == 'f', storage, error);
  case '*':
    return textArgument(script, value, false, storage, arena, error);
  case ':':
    return textArgument(script, value, true, storage, arena, error);
  case '@':
    return objectArgument(script, value, storage, arena, error);
  case '#':
    return classArgument(script, value, storage, error);
  case '^':
  case '?':
    return pointerFrom(script, value, storage, error);
  case '{':
    return structFrom(script, value, body, bytes, arena, error);
  case '[':
    return arrayFrom(script, value, body, bytes, arena, error);
  case '(':
    return unionFrom(script, value, body, bytes, arena, error);
  default:
    return unsupported(type, error);
  }
}

ScriptValue valueOut(Script &script, const char *type, const void *storage,
                     std::string &error) {
  const char *body = typeBody(type);
  const char *bytes = static_cast<const char *>(storage);
  switch (*body) {
  case 'c':
    return script.newInteger(load<signed char>(storage));
  case 'C':
    return script.newInteger(load<unsigned char>(storage));
  case 's':
    return script.newInteger(load<short>(storage));
  case 'S':
    return script.newInteger(load<unsigned short>(storage));
  case 'i':
  case 'l':
    return script.newInteger(load<int32_t>(storage));
  case 'I':
  case 'L':
    return script.newInteger(load<uint32_t>(storage));
  case 'q':
    return wideValue(script, storage, true);
  case 'Q':
    return wideValue(script, storage, false);
  case 'f':
    return script.newDouble(load<float>(storage));
  case 'd':
    return script.newDouble(load<double>(storage));
  case '*': {
    const char *text = load<const char *>(storage);
    return text ? script.newText(text) : script.newNil();
  }
  case ':': {
    SEL sel = load<SEL>(storage);
    return sel ? script.newText(sel_getName(sel)) : script.newNil();
  }
  case '@':
  case '#':
    return objectValue(script, load<id>(storage));
  case '^':
  case '?': {
    void *pointer = load<void *>(storage);
    return pointer ? script.newPointer(pointer) : script.newNil();
  }
  case '{':
    return structValue(script, body, bytes, error);
  case '[':
    return arrayValue(script, body, bytes, error);
  case '(':
    return valueOut(script, firstMember(body), storage, error);
  default:
    break;
  }
  unsupported(type, error);
  return nullptr;
}

} // namespace

const char *cString(Script &script, ScriptValue value, Arena &arena,
                    std::string &error) {
  size_t length = 0;
  const char *text = script.getBytes(value, arena, length);
  if (std::memchr(text, '\0', length)) {
    error =
        "text with a NUL byte (after " + quote(text) + ") cannot be a C string";
    return nullptr;
  }
  return text;
}

const char *Script::getBytes(ScriptValue value, Arena &arena, size_t &length) {
  const char *text = getText(value, arena);
  length = std::strlen(text);
  return text;
}

int storageSize(const char *type) {
  int size = objc_aligned_size(type);
  return size < 4 ? 4 : roundUp(size, 4);
}

/* Both directions check the whole type first, so that a value is never
   half converted for a type whose walk and measure disagree. */
bool toC(Script &script, ScriptValue value, const char *type, void *storage,
         bool promoted, Arena &arena, std::string &error) {
  if (!checkType(type, TypeUse::convert, error))
    return false;
  return valueIn(script, value, type, storage, promoted, arena, error);
}

ScriptValue fromC(Script &script, const char *type, const void *storage,
                  std::string &error) {
  if (!checkType(type, TypeUse::convert, error))
    return nullptr;
  return valueOut(script, type, storage, error);
}

} // namespace zelbridge
