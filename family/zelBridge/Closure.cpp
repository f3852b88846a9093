/* Script bodies behind C entry points: libffi closures that convert their
   arguments, run the body and convert its result, for methods and
   callbacks alike. */
#include "bridge.h"

#include <Foundation/Foundation.h>

#include <ffi.h>

#include <cstdlib>
#include <cstring>

namespace zelbridge {

namespace {

ffi_type *scalarType(int kind) {
  switch (kind) {
  case APPLY_VOID:
    return &ffi_type_void;
  case APPLY_CHAR:
    return &ffi_type_sint8;
  case APPLY_UCHAR:
    return &ffi_type_uint8;
  case APPLY_SHORT:
    return &ffi_type_sint16;
  case APPLY_USHORT:
    return &ffi_type_uint16;
  case APPLY_INT:
  case APPLY_LONG:
    return &ffi_type_sint32;
  case APPLY_UINT:
  case APPLY_ULONG:
    return &ffi_type_uint32;
  case APPLY_LONGLONG:
    return &ffi_type_sint64;
  case APPLY_ULONGLONG:
    return &ffi_type_uint64;
  case APPLY_FLOAT:
    return &ffi_type_float;
  case APPLY_DOUBLE:
    return &ffi_type_double;
  default:
    return &ffi_type_pointer;
  }
}

/* Aggregates are described to libffi by size and alignment only: on this
   platform they travel as bytes on the stack and come back through the
   hidden pointer, so their members never matter to it. */
ffi_type *typeFor(ScriptClosure &method, const Slot &slot) {
  if (slot.val.kind != APPLY_AGGREGATE)
    return scalarType(slot.val.kind);
  auto type = std::make_unique<ffi_type>();
  type->size = static_cast<size_t>(objc_aligned_size(slot.type));
  int alignment = objc_alignof_type(slot.type);
  type->alignment = static_cast<unsigned short>(alignment > 0 ? alignment : 1);
  type->type = FFI_TYPE_STRUCT;
  type->elements = method.aggregateElements;
  method.aggregates.push_back(std::move(type));
  return method.aggregates.back().get();
}

/* Writes the converted result where libffi wants it: integers narrower than
   a register widened to one. */
void storeResult(const Slot &slot, const char *converted, void *ret) {
  switch (slot.val.kind) {
  case APPLY_CHAR:
    *static_cast<ffi_sarg *>(ret) =
        *reinterpret_cast<const signed char *>(converted);
    break;
  case APPLY_UCHAR:
    *static_cast<ffi_arg *>(ret) =
        *reinterpret_cast<const unsigned char *>(converted);
    break;
  case APPLY_SHORT: {
    short value;
    std::memcpy(&value, converted, sizeof value);
    *static_cast<ffi_sarg *>(ret) = value;
    break;
  }
  case APPLY_USHORT: {
    unsigned short value;
    std::memcpy(&value, converted, sizeof value);
    *static_cast<ffi_arg *>(ret) = value;
    break;
  }
  case APPLY_VOID:
    break;
  default:
    std::memcpy(ret, converted,
                static_cast<size_t>(objc_aligned_size(slot.type)));
    break;
  }
}

bool argumentValues(Script &script, const Signature &signature, void **args,
                    std::vector<ScriptValue> &values, std::string &error) {
  for (const Slot &slot : signature.arguments) {
    /* Arrays arrive as pointers to their first element. */
    bool array = *objc_skip_type_qualifiers(slot.type) == '[';
    ScriptValue value =
        fromC(script, array ? "^v" : slot.type, args[values.size()], error);
    if (!value) {
      for (ScriptValue each : values)
        script.discard(each);
      values.clear();
      return false;
    }
    values.push_back(value);
  }
  return true;
}

bool convertResult(ScriptClosure &method, ScriptValue value, void *ret,
                   std::string &error) {
  const Slot &slot = method.signature->result;
  if (slot.val.kind == APPLY_VOID)
    return true;
  Script &script = method.body->script();
  /* C strings of the result, members of a struct or array included, live
     until the next call. */
  Arena texts;
  std::vector<char> converted(static_cast<size_t>(storageSize(slot.type)));
  if (!toC(script, value, slot.type, converted.data(), false, texts, error))
    return false;
  method.resultTexts = std::move(texts);
  storeResult(slot, converted.data(), ret);
  return true;
}

/* The object a method answers, which must outlive the method's pool. */
id objectResult(ScriptClosure &method, void *ret) {
  char kind = *objc_skip_type_qualifiers(method.signature->result.type);
  id object = nil;
  if (kind == '@')
    std::memcpy(&object, ret, sizeof object);
  return object;
}

/* Runs the body; a failure comes back as a malloc'd reason, so that the
   exception can be raised once every C++ object here is gone. */
char *runBody(ScriptClosure &method, void *ret, void **args, void *&original) {
  std::string error;
  try {
    NativeDepth depth;
    if (!depth.entered(error))
      return strdup(error.c_str());
    if (!pthread_equal(method.thread, pthread_self()))
      return strdup(method.callback
                        ? "a callback was called on another thread than "
                          "its interpreter's"
                        : "a script method was called on another thread "
                          "than its interpreter's");
    Script &script = method.body->script();
    /* What the call makes is not needed once its result is converted, and
       what it autoreleases goes with its own pool. */
    size_t mark = script.mark();
    id pool = openPool();
    std::vector<ScriptValue> values;
    bool ok = argumentValues(script, *method.signature, args, values, error);
    if (ok) {
      id self = nil;
      if (!method.callback)
        std::memcpy(&self, args[0], sizeof self);
      methodFrames().push_back(
          MethodFrame{self, method.owner, method.sel, method.imp});
      ScriptValue result = nullptr;
      ++method.running;
      ok = method.body->run(values.data(), static_cast<int>(values.size()),
                            result, error);
      if (!ok) /* the script's own error, for a caller of the same script */
        original = script.keepFailure();
      --method.running;
      methodFrames().pop_back();
      ok = ok && convertResult(method, result, ret, error);
    }
    script.release(mark);
    id answer = ok ? objectResult(method, ret) : nil;
    if (answer)
      retainObject(answer);
    closePool(pool);
    if (answer) /* for the caller, in the caller's pool */
      autoreleaseObject(answer);
    if (ok)
      return nullptr;
  } catch (const std::exception &failure) {
    error = failure.what();
  }
  if (error.empty())
    error = "script method failed";
  return strdup(error.c_str());
}

[[noreturn]] void raiseFailure(ScriptClosure &method, char *reason,
                               void *original) {
  const char *name = method.body->exceptionName();
  id nameString = objc_send_class("NSString", "stringWithCString:", name);
  id reasonString = objc_send_class(
      "NSString", "stringWithCString:", reason ? reason : "out of memory");
  free(reason);
  id exception = objc_send_class(
      "NSException", "exceptionWithName:reason:userInfo:", nameString,
      reasonString, nil);
  if (original)
    carryFailure(exception, method.body->script(), original);
  objc_send<void>(exception, "raise");
  abort();
}

/* The closure's entry: nothing with a destructor lives here, since the
   raise leaves this frame with a longjmp. */
void closureEntry(ffi_cif *, void *ret, void **args, void *data) {
  ScriptClosure *method = static_cast<ScriptClosure *>(data);
  void *original = nullptr;
  char *failure = runBody(*method, ret, args, original);
  if (failure)
    raiseFailure(*method, failure, original);
}

} // namespace

bool prepareClosure(ScriptClosure &method, void *&code, std::string &error) {
  const Signature &signature = *method.signature;
  for (const Slot &slot : signature.arguments)
    method.argumentTypes.push_back(typeFor(method, slot));
  ffi_type *resultType = typeFor(method, signature.result);
  if (ffi_prep_cif(&method.cif, FFI_DEFAULT_ABI,
                   static_cast<unsigned>(method.argumentTypes.size()),
                   resultType, method.argumentTypes.data()) != FFI_OK) {
    error = "libffi cannot describe " + quote(signature.text);
    return false;
  }
  void *closure = method.closure =
      ffi_closure_alloc(sizeof(ffi_closure), &code);
  if (!closure) {
    error = "out of memory for a method closure";
    return false;
  }
  if (ffi_prep_closure_loc(static_cast<ffi_closure *>(closure), &method.cif,
                           closureEntry, &method, code) != FFI_OK) {
    ffi_closure_free(closure);
    error = "libffi cannot make a closure for " + quote(signature.text);
    return false;
  }
  return true;
}

} // namespace zelbridge
