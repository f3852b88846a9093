/* Prepared calls and messages: signatures walked once, arguments converted
   into storage sized by their call kinds, apply inside an exception frame. */
#include "bridge.h"

#include <cstring>
#include <new>
#include <unordered_map>

namespace zelbridge {

unsigned methodListsEpoch = 0;

namespace {

/* The type encoding of ZelObjC_LookupMethod's emergency record. */
const char emergencyTypes[] = "v8@8:12";

/* A method record as it was when its signature was prepared. */
struct PreparedMethod {
  SEL sel = nullptr;
  const char *types = nullptr;
  IMP imp = nullptr;
  unsigned epoch = 0;
  bool missing = false; /* a record for a selector nothing implements */
  std::unique_ptr<Signature> signature;
};

std::unordered_map<Method, PreparedMethod> &preparedMethods() {
  static auto *methods = new std::unordered_map<Method, PreparedMethod>;
  return *methods;
}

bool current(const PreparedMethod &entry, Method method) {
  return entry.sel == method->method_name &&
         entry.types == method->method_types &&
         entry.imp == method->method_imp && entry.epoch == methodListsEpoch;
}

bool isArrayType(const char *type) {
  return *objc_skip_type_qualifiers(type) == '[';
}

/* Kind and size for apply, and a type the bridge converts both ways.
   An array argument travels as a pointer: its element count matters only
   when a list is given for it, so an array too large to convert is still
   taken here. */
bool fillSlot(const char *type, bool argument, Slot &slot, int &offset,
              std::string &error) {
  slot.type = type;
  slot.val.data = nullptr;
  int flags = argument ? APPLY_PROMOTE | APPLY_ARRAY_AS_POINTER : 0;
  if (!zelObjC_TypeToApplyVal(type, flags, &slot.val) ||
      (argument && slot.val.kind == APPLY_VOID)) {
    if (slot.val.kind == APPLY_VOID || checkType(type, TypeUse::convert, error))
      error = "unsupported type encoding " +
              quoteType(objc_skip_type_qualifiers(type));
    return false; /* with the check's reason where it has one */
  }
  if (slot.val.kind != APPLY_VOID) {
    TypeCheck check;
    bool array = argument && isArrayType(type);
    if (!checkType(type, TypeUse::convert, check, error) &&
        !(array && check.tooMany))
      return false;
  }
  slot.offset = offset;
  if (slot.val.kind == APPLY_VOID)
    return true;
  offset += argument && isArrayType(type) ? 4 : storageSize(type);
  return true;
}

/* The text after the last type of a signature, when that text is a
   member name with no type behind it. */
bool danglingName(const char *type) {
  const char *body = objc_skip_type_qualifiers(type);
  return *type == '"' && !*body;
}

/* Arguments beyond the bounds would only exhaust the stack apply copies
   them onto. */
bool withinArgumentBounds(const Signature &signature, std::string &error) {
  long long bytes = 0;
  for (const Slot &slot : signature.arguments)
    bytes += (slot.val.size + 3) / 4 * 4;
  if (signature.arguments.size() > static_cast<size_t>(maxArguments)) {
    error = "signature " + quote(signature.text) + " has more than " +
            std::to_string(maxArguments) + " arguments";
    return false;
  }
  if (bytes > maxArgumentBytes) {
    error = "signature " + quote(signature.text) + " passes " +
            std::to_string(bytes) + " bytes of arguments, more than " +
            std::to_string(maxArgumentBytes);
    return false;
  }
  return true;
}

std::string notUnderstood(id receiver, SEL sel) {
  return describe(receiver) + " does not respond to " + sel_getName(sel);
}

/* The record to trust for types: the emergency record only carries the
   implementation, the real types are in the class's method lists. */
Method typedRecord(Class cls, SEL sel, Method found) {
  if (!found->method_types || !*found->method_types)
    return nullptr; /* the multithreaded not-found record */
  if (std::strcmp(found->method_types, emergencyTypes) == 0)
    return class_getInstanceMethod(cls, sel);
  return found;
}

/* A value that stands for a pointer itself: nil, an object, or pointer
   text ("0x..."). A plain integer is not one: it would be taken for an
   address by mistake. */
bool isPointerValue(Script &script, ScriptValue value) {
  Handle handle;
  if (script.isNil(value, false) || script.getHandle(value, handle))
    return true;
  Arena arena;
  const char *text = script.getText(value, arena);
  void *pointer = nullptr;
  return text[0] == '0' && (text[1] == 'x' || text[1] == 'X') &&
         parsePointer(text, pointer);
}

bool charArray(const char *element) {
  char letter = *objc_skip_type_qualifiers(element);
  return letter == 'c' || letter == 'C';
}

/* A value that is a text rather than a list of other length: not a list,
   or a list of one item that is the value's own text (a word, in a
   language where every text reads as a list). */
bool plainWord(Script &script, ScriptValue value,
               const std::vector<ScriptValue> &items) {
  if (items.size() != 1)
    return false;
  Arena arena;
  return std::strcmp(script.getText(value, arena),
                     script.getText(items[0], arena)) == 0;
}

/* A text of at most count bytes, as a zero-filled char array. */
bool textArray(Script &script, ScriptValue value, long long count,
               char *storage, Arena &arena) {
  const char *text = script.getText(value, arena);
  size_t length = std::strlen(text);
  if (length > static_cast<size_t>(count))
    return false;
  void *array = arena.bytes(static_cast<size_t>(count));
  std::memcpy(array, text, length);
  std::memcpy(storage, &array, sizeof array);
  return true;
}

/* An array argument: a pointer value, a list of exactly its element
   count converted into a copy, or for an array of chars a text of at
   most that many bytes. */
bool arrayArgument(Script &script, const Slot &slot, ScriptValue value,
                   char *storage, Arena &arena, std::string &error) {
  if (isPointerValue(script, value))
    return toC(script, value, "^v", storage, true, arena, error);
  const char *body = objc_skip_type_qualifiers(slot.type);
  long long count = 0;
  const char *element = nullptr;
  bool counted = arrayCount(body, count, element);
  if (!counted) /* only a pointer can stand for it */
    return checkType(slot.type, TypeUse::convert, error);
  std::vector<ScriptValue> items;
  bool list = script.getItems(value, items);
  if (list && counted && items.size() == static_cast<size_t>(count)) {
    if (!checkType(slot.type, TypeUse::convert, error))
      return false;
    void *array = arena.bytes(static_cast<size_t>(storageSize(slot.type)));
    if (toC(script, value, slot.type, array, false, arena, error)) {
      std::memcpy(storage, &array, sizeof array);
      return true;
    }
    if (!charArray(element))
      return false;
  }
  bool chars = charArray(element);
  if (chars && counted && (!list || plainWord(script, value, items)) &&
      textArray(script, value, count, storage, arena))
    return true;
  error = "expected a pointer or a list of " + std::to_string(count) +
          " elements" +
          (chars ? " or a text of at most " + std::to_string(count) + " bytes"
                 : std::string()) +
          " for " + quoteType(body) + " but got " + [&] {
            Arena text;
            return quote(script.getText(value, text));
          }();
  return false;
}

/* Converts one argument into its slot. */
bool convertArgument(Script &script, const Slot &slot, ScriptValue value,
                     char *storage, Arena &arena, std::string &error) {
  if (!isArrayType(slot.type))
    return toC(script, value, slot.type, storage, true, arena, error);
  return arrayArgument(script, slot, value, storage, arena, error);
}

ScriptValue resultValue(Script &script, const Slot &slot, const char *storage,
                        std::string &error) {
  if (slot.val.kind == APPLY_VOID)
    return script.newNil();
  if (*slot.type == '@' || *slot.type == '#') { /* as fromC, with no walk */
    id object = nil;
    std::memcpy(&object, storage, sizeof object);
    return object ? script.newHandle(handleFor(object)) : script.newNil();
  }
  return fromC(script, slot.type, storage, error);
}

/* The call itself: fixed leading arguments (receiver and selector) are
   stored directly, the rest converted from script values. */
bool invoke(Script &script, const Signature &signature, void *fn,
            const void *const *fixed, int fixedCount, ScriptValue *args,
            int argc, ScriptValue &result, std::string &error) {
  const size_t count = signature.arguments.size();
  if (argc < 0 || static_cast<size_t>(argc + fixedCount) != count) {
    size_t wanted = count - static_cast<size_t>(fixedCount);
    error = "expected " + std::to_string(wanted) +
            (wanted == 1 ? " argument, got " : " arguments, got ") +
            std::to_string(argc);
    return false;
  }
  NativeDepth depth;
  if (!depth.entered(error))
    return false;
  alignas(8) char local[256];
  std::unique_ptr<char[]> heap;
  char *buffer = local;
  if (signature.bufferSize > static_cast<int>(sizeof local)) {
    heap.reset(
        new (std::nothrow) char[static_cast<size_t>(signature.bufferSize)]);
    if (!heap) {
      error = "out of memory for the call's " +
              std::to_string(signature.bufferSize) + " bytes";
      return false;
    }
    buffer = heap.get();
  }
  /* Converted arguments and aggregate results may leave bytes unwritten
     (padding, a union's tail); fixed arguments and a scalar result fill
     all they use. */
  if (static_cast<int>(count) != fixedCount ||
      signature.result.val.kind == APPLY_AGGREGATE)
    std::memset(buffer, 0, static_cast<size_t>(signature.bufferSize));
  ApplyVal localVals[16];
  std::unique_ptr<ApplyVal[]> heapVals;
  ApplyVal *vals = localVals;
  if (count > 16) {
    heapVals.reset(new ApplyVal[count]); /* at most maxArguments */
    vals = heapVals.get();
  }
  Arena arena;
  const Slot *slots = signature.arguments.data();
  for (size_t i = 0; i < count; ++i) {
    vals[i] = slots[i].val;
    vals[i].data = buffer + slots[i].offset;
  }
  for (int i = 0; i < fixedCount; ++i)
    std::memcpy(vals[i].data, &fixed[i], sizeof(void *));
  for (size_t i = static_cast<size_t>(fixedCount); i < count; ++i)
    if (!convertArgument(script, slots[i],
                         args[i - static_cast<size_t>(fixedCount)],
                         static_cast<char *>(vals[i].data), arena, error))
      return false;
  ApplyVal resultVal = signature.result.val;
  resultVal.data = buffer + signature.result.offset;
  id exception = nil;
  if (!guardedApply(fn, &resultVal, static_cast<int>(count), vals,
                    &exception)) {
    error = exceptionMessage(exception);
    return false;
  }
  result = resultValue(script, signature.result,
                       buffer + signature.result.offset, error);
  return result != nullptr;
}

bool sendWith(Script &script, id receiver, Class cls, SEL sel, IMP imp,
              ScriptValue *args, int argc, ScriptValue &result,
              std::string &error) {
  IMP found = nullptr;
  const Signature *signature =
      methodSignature(cls, sel, receiver, found, error);
  if (!signature)
    return false;
  return callMethod(script, *signature, imp ? imp : found, receiver, sel, args,
                    argc, result, error);
}

/* Signatures given by scripts, prepared once per text (a few hundred
   distinct texts at most are kept). */
const Signature *typedSignature(const char *types, std::string &error) {
  static auto *prepared =
      new std::unordered_map<std::string, std::unique_ptr<Signature>>;
  auto found = prepared->find(types);
  if (found != prepared->end())
    return found->second.get();
  auto signature = prepare(types, error);
  if (!signature)
    return nullptr;
  if (signature->arguments.size() < 2) {
    error =
        "method signature " + quote(types) + " has no receiver and selector";
    return nullptr;
  }
  if (prepared->size() >= 512)
    prepared->clear();
  return (*prepared)[types] = std::move(signature), (*prepared)[types].get();
}

} // namespace

bool sendTyped(Script &script, const char *types, id receiver, SEL sel,
               ScriptValue *args, int argc, ScriptValue &result,
               std::string &error) {
  const Signature *signature = typedSignature(types, error);
  if (!signature)
    return false;
  if (!receiver) {
    result = script.newNil();
    return true;
  }
  Method method = ZelObjC_LookupMethod(receiver->isa, sel);
  if (!class_getInstanceMethod(receiver->isa, sel)) {
    error = notUnderstood(receiver, sel);
    return false;
  }
  return callMethod(script, *signature, method->method_imp, receiver, sel, args,
                    argc, result, error);
}

bool guardedApply(void *fn, ApplyVal *result, int argc, ApplyVal *argv,
                  id *exception) {
  volatile bool ok = true;
  NS_DURING
  apply(fn, result, argc, argv);
  NS_HANDLER
  *exception = localException;
  ok = false;
  NS_ENDHANDLER
  if (!ok)
    recordFailure(*exception);
  return ok;
}

std::string exceptionMessage(id exception) {
  id name = objc_send(exception, "name");
  id reason = objc_send(exception, "reason");
  const char *nameText = name ? objc_send<const char *>(name, "cString") : "";
  const char *reasonText =
      reason ? objc_send<const char *>(reason, "cString") : "";
  return std::string(nameText ? nameText : "") + ": " +
         (reasonText ? reasonText : "");
}

std::unique_ptr<Signature> prepare(const char *types, std::string &error) {
  auto signature = std::make_unique<Signature>();
  signature->text = types;
  const char *type = signature->text.c_str();
  int offset = 0;
  if (!*type) {
    error = "empty signature";
    return nullptr;
  }
  if (!fillSlot(type, false, signature->result, offset, error))
    return nullptr;
  for (type = objc_skip_argspec(type); *type; type = objc_skip_argspec(type)) {
    if (danglingName(type)) {
      error = "malformed signature " + quote(signature->text) +
              ": a quoted name with no type after it";
      return nullptr;
    }
    if (signature->arguments.size() >= static_cast<size_t>(maxArguments)) {
      error = "signature " + quote(signature->text) + " has more than " +
              std::to_string(maxArguments) + " arguments";
      return nullptr;
    }
    Slot slot;
    if (!fillSlot(type, true, slot, offset, error))
      return nullptr;
    signature->arguments.push_back(slot);
  }
  if (!withinArgumentBounds(*signature, error))
    return nullptr;
  signature->bufferSize = offset;
  return signature;
}

const Signature *methodSignature(Class cls, SEL sel, id receiver, IMP &imp,
                                 std::string &error) {
  Method method = ZelObjC_LookupMethod(cls, sel);
  /* A loop sends one message again: the last record is tried first (the
     table never moves its entries). */
  static Method lastMethod = nullptr;
  static PreparedMethod *lastEntry = nullptr;
  if (method == lastMethod && current(*lastEntry, method) &&
      !lastEntry->missing) {
    imp = method->method_imp;
    return lastEntry->signature.get();
  }
  auto &prepared = preparedMethods();
  auto found = prepared.find(method);
  if (found != prepared.end() && current(found->second, method)) {
    if (found->second.missing) {
      error = notUnderstood(receiver, sel);
      return nullptr;
    }
    lastMethod = method;
    lastEntry = &found->second;
    imp = method->method_imp;
    return found->second.signature.get();
  }
  Method typed = typedRecord(cls, sel, method);
  bool missing = !typed || !class_getInstanceMethod(cls, sel);
  if (missing && method == typed) { /* a forwarding record: remember it */
    PreparedMethod &entry = prepared[method];
    entry = PreparedMethod{method->method_name,
                           method->method_types,
                           method->method_imp,
                           methodListsEpoch,
                           true,
                           nullptr};
  }
  if (missing) {
    error = notUnderstood(receiver, sel);
    return nullptr;
  }
  auto signature = prepare(typed->method_types, error);
  if (!signature)
    return nullptr;
  if (signature->arguments.size() < 2) {
    error = "method signature " + quote(typed->method_types) +
            " has no receiver and selector";
    return nullptr;
  }
  PreparedMethod &entry = prepared[typed];
  entry = PreparedMethod{typed->method_name,
                         typed->method_types,
                         typed->method_imp,
                         methodListsEpoch,
                         false,
                         std::move(signature)};
  imp = method->method_imp; /* the emergency record's is the one to run */
  return entry.signature.get();
}

/* Memory for a value's copy (up to the bounds' hundreds of megabytes) may
   run out: that is an error for the script, not an exception into the
   language's C frames. */
bool call(Script &script, const Signature &signature, void *fn,
          ScriptValue *args, int argc, ScriptValue &result,
          std::string &error) {
  try {
    return invoke(script, signature, fn, nullptr, 0, args, argc, result, error);
  } catch (const std::bad_alloc &) {
    error = "out of memory for the call's arguments";
    return false;
  }
}

bool callMethod(Script &script, const Signature &signature, IMP imp,
                id receiver, SEL sel, ScriptValue *args, int argc,
                ScriptValue &result, std::string &error) {
  const void *fixed[2] = {receiver, sel};
  try {
    return invoke(script, signature, reinterpret_cast<void *>(imp), fixed, 2,
                  args, argc, result, error);
  } catch (const std::bad_alloc &) {
    error = "out of memory for the call's arguments";
    return false;
  }
}

namespace {

/* The object a result value holds, or nil. */
id resultObject(Script &script, ScriptValue result) {
  Handle handle;
  id object = nil;
  std::string error;
  if (result && script.getHandle(result, handle))
    resolve(handle, object, error);
  return object;
}

} // namespace

bool send(Script &script, id receiver, SEL sel, ScriptValue *args, int argc,
          ScriptValue &result, std::string &error) {
  if (!receiver) { /* as in Objective-C, nil answers nil */
    result = script.newNil();
    return true;
  }
  Family family = familyOf(sel);
  if (family == Family::retain || family == Family::release ||
      family == Family::autorelease)
    return countedSend(script, family, receiver, argc, result, error);
  bool consumed = family == Family::init && consumeOwned(receiver);
  bool ok = sendWith(script, receiver, receiver->isa, sel, nullptr, args, argc,
                     result, error);
  if (!ok && consumed)
    restoreOwned(receiver);
  if (ok && (family == Family::owning || consumed))
    if (id object = resultObject(script, result))
      adoptOwned(object);
  return ok;
}

bool sendSuper(Script &script, id receiver, SEL sel, ScriptValue *args,
               int argc, ScriptValue &result, std::string &error) {
  if (!receiver) {
    result = script.newNil();
    return true;
  }
  Class owner = runningOwner(receiver);
  Class start = (owner ? owner : receiver->isa)->super_class;
  if (!start) {
    error = describe(receiver) + " has no superclass";
    return false;
  }
  return sendWith(script, receiver, start, sel, nullptr, args, argc, result,
                  error);
}

bool sendFormer(Script &script, id receiver, SEL sel, ScriptValue *args,
                int argc, ScriptValue &result, std::string &error) {
  if (!receiver) {
    result = script.newNil();
    return true;
  }
  /* Inside the script method of that selector, what the running
     definition displaced, so that any number of definitions chain to the
     original one. */
  if (const MethodFrame *frame = runningFrame(receiver, sel)) {
    IMP former = formerOf(*frame);
    if (!former) {
      error =
          describe(receiver) + " has no former method for " + sel_getName(sel);
      return false;
    }
    return sendWith(script, receiver, frame->owner, sel, former, args, argc,
                    result, error);
  }
  /* Inside another script method, the method displaced in its own class; a
     subclass's instance would otherwise find the running one again. */
  Class owner = runningOwner(receiver);
  id target = owner ? reinterpret_cast<id>(owner) : receiver;
  SEL query = sel_registerName(owner ? "formerInstanceMethodForSelector:"
                                     : "formerMethodForSelector:");
  if (!class_getInstanceMethod(target->isa, query)) {
    error = notUnderstood(target, query);
    return false;
  }
  IMP former = objc_send<IMP>(target, query, sel);
  if (!former) {
    error =
        describe(receiver) + " has no former method for " + sel_getName(sel);
    return false;
  }
  return sendWith(script, receiver, owner ? owner : receiver->isa, sel, former,
                  args, argc, result, error);
}

} // namespace zelbridge
