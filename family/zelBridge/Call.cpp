/* Prepared calls and messages: signatures walked once, arguments converted
   into storage sized by their call kinds, apply inside an exception frame. */
#include "bridge.h"

#include <cstring>
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

bool fillSlot(const char *type, bool argument, Slot &slot, int &offset,
              std::string &error) {
  slot.type = type;
  slot.val.data = nullptr;
  int flags = argument ? APPLY_PROMOTE | APPLY_ARRAY_AS_POINTER : 0;
  if (!zelObjC_TypeToApplyVal(type, flags, &slot.val) ||
      (argument && slot.val.kind == APPLY_VOID)) {
    const char *body = objc_skip_type_qualifiers(type);
    error = "unsupported type encoding \"" +
            std::string(body, objc_skip_typespec(body)) + "\"";
    return false;
  }
  slot.offset = offset;
  offset += slot.val.kind == APPLY_VOID ? 0 : storageSize(type);
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

bool isArrayType(const char *type) {
  return *objc_skip_type_qualifiers(type) == '[';
}

/* Converts one argument into its slot; arrays go through a pointer to a
   converted copy (or a pointer given as such). */
bool convertArgument(Script &script, const Slot &slot, ScriptValue value,
                     char *storage, Arena &arena, std::string &error) {
  if (!isArrayType(slot.type))
    return toC(script, value, slot.type, storage, true, arena, error);
  std::vector<ScriptValue> items;
  if (script.isNil(value, false) || !script.getItems(value, items) ||
      items.size() == 1)
    return toC(script, value, "^v", storage, true, arena, error);
  void *array = arena.bytes(static_cast<size_t>(storageSize(slot.type)));
  if (!toC(script, value, slot.type, array, false, arena, error))
    return false;
  std::memcpy(storage, &array, sizeof array);
  return true;
}

ScriptValue resultValue(Script &script, const Slot &slot, const char *storage,
                        std::string &error) {
  if (slot.val.kind == APPLY_VOID)
    return script.newNil();
  return fromC(script, slot.type, storage, error);
}

/* The call itself: fixed leading arguments (receiver and selector) are
   stored directly, the rest converted from script values. */
bool invoke(Script &script, const Signature &signature, void *fn,
            const void *const *fixed, int fixedCount, ScriptValue *args,
            int argc, ScriptValue &result, std::string &error) {
  const size_t count = signature.arguments.size();
  if (static_cast<size_t>(argc + fixedCount) != count) {
    error = "wrong # args: expected " + std::to_string(count - fixedCount) +
            ", got " + std::to_string(argc);
    return false;
  }
  alignas(8) char local[256];
  std::unique_ptr<char[]> heap;
  char *buffer = local;
  if (signature.bufferSize > static_cast<int>(sizeof local)) {
    heap.reset(new char[static_cast<size_t>(signature.bufferSize)]);
    buffer = heap.get();
  }
  std::memset(buffer, 0, static_cast<size_t>(signature.bufferSize));
  ApplyVal localVals[16];
  std::unique_ptr<ApplyVal[]> heapVals;
  ApplyVal *vals = localVals;
  if (count > 16) {
    heapVals.reset(new ApplyVal[count]);
    vals = heapVals.get();
  }
  Arena arena;
  for (size_t i = 0; i < count; ++i) {
    const Slot &slot = signature.arguments[i];
    vals[i] = slot.val;
    char *storage = buffer + slot.offset;
    vals[i].data = storage;
    if (static_cast<int>(i) < fixedCount)
      std::memcpy(storage, &fixed[i], sizeof(void *));
    else if (!convertArgument(script, slot, args[i - fixedCount], storage,
                              arena, error))
      return false;
  }
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
  return callMethod(script, *signature, imp ? imp : found, receiver, sel,
                    args, argc, result, error);
}

} // namespace

bool guardedApply(void *fn, ApplyVal *result, int argc, ApplyVal *argv,
                  id *exception) {
  volatile bool ok = true;
  NS_DURING
    apply(fn, result, argc, argv);
  NS_HANDLER
    *exception = localException;
    ok = false;
  NS_ENDHANDLER
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
    Slot slot;
    if (!fillSlot(type, true, slot, offset, error))
      return nullptr;
    signature->arguments.push_back(slot);
  }
  signature->bufferSize = offset;
  return signature;
}

const Signature *methodSignature(Class cls, SEL sel, id receiver, IMP &imp,
                                 std::string &error) {
  Method method = ZelObjC_LookupMethod(cls, sel);
  auto &prepared = preparedMethods();
  auto found = prepared.find(method);
  if (found != prepared.end() && current(found->second, method)) {
    if (found->second.missing) {
      error = notUnderstood(receiver, sel);
      return nullptr;
    }
    imp = method->method_imp;
    return found->second.signature.get();
  }
  Method typed = typedRecord(cls, sel, method);
  bool missing = !typed || !class_getInstanceMethod(cls, sel);
  if (missing && method == typed) { /* a forwarding record: remember it */
    PreparedMethod &entry = prepared[method];
    entry = PreparedMethod{method->method_name, method->method_types,
                           method->method_imp, methodListsEpoch, true,
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
    error = std::string("method signature \"") + typed->method_types +
            "\" has no receiver and selector";
    return nullptr;
  }
  PreparedMethod &entry = prepared[typed];
  entry = PreparedMethod{typed->method_name, typed->method_types,
                         typed->method_imp, methodListsEpoch, false,
                         std::move(signature)};
  imp = method->method_imp; /* the emergency record's is the one to run */
  return entry.signature.get();
}

bool call(Script &script, const Signature &signature, void *fn,
          ScriptValue *args, int argc, ScriptValue &result,
          std::string &error) {
  return invoke(script, signature, fn, nullptr, 0, args, argc, result, error);
}

bool callMethod(Script &script, const Signature &signature, IMP imp,
                id receiver, SEL sel, ScriptValue *args, int argc,
                ScriptValue &result, std::string &error) {
  const void *fixed[2] = {receiver, sel};
  return invoke(script, signature, reinterpret_cast<void *>(imp), fixed, 2,
                args, argc, result, error);
}

bool send(Script &script, id receiver, SEL sel, ScriptValue *args, int argc,
          ScriptValue &result, std::string &error) {
  if (!receiver) { /* as in Objective-C, nil answers nil */
    result = script.newNil();
    return true;
  }
  return sendWith(script, receiver, receiver->isa, sel, nullptr, args, argc,
                  result, error);
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
  /* Inside a script method, the method it displaced in its own class; a
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
    error = describe(receiver) + " has no former method for " +
            sel_getName(sel);
    return false;
  }
  return sendWith(script, receiver, owner ? owner : receiver->isa, sel,
                  former, args, argc, result, error);
}

/* ---- frames of running script methods ---- */

std::vector<MethodFrame> &methodFrames() {
  static auto *frames = new std::vector<MethodFrame>;
  return *frames;
}

Class runningOwner(id receiver) {
  auto &frames = methodFrames();
  for (auto frame = frames.rbegin(); frame != frames.rend(); ++frame)
    if (frame->self == receiver)
      return frame->owner;
  return nullptr;
}

} // namespace zelbridge
