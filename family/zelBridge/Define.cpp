/* Classes and methods defined by scripts: method implementations are libffi
   closures that convert their arguments and run the script's body. */
#include "bridge.h"

#include <ffi.h>

#include <cstdlib>
#include <cstring>

namespace zelbridge {

namespace {

/* Everything one script method needs for as long as the process runs: its
   implementation may be reached as a former method after redefinition. */
struct ScriptMethod {
  std::unique_ptr<Signature> signature;
  std::unique_ptr<MethodBody> body;
  Class owner = nullptr;
  ffi_cif cif;
  std::vector<ffi_type *> argumentTypes;
  std::vector<std::unique_ptr<ffi_type>> aggregates;
  ffi_type *aggregateElements[2] = {&ffi_type_uint8, nullptr};
  std::string lastText; /* a C string result lives until the next call */
};

ffi_type *scalarType(int kind) {
  switch (kind) {
  case APPLY_VOID: return &ffi_type_void;
  case APPLY_CHAR: return &ffi_type_sint8;
  case APPLY_UCHAR: return &ffi_type_uint8;
  case APPLY_SHORT: return &ffi_type_sint16;
  case APPLY_USHORT: return &ffi_type_uint16;
  case APPLY_INT:
  case APPLY_LONG: return &ffi_type_sint32;
  case APPLY_UINT:
  case APPLY_ULONG: return &ffi_type_uint32;
  case APPLY_LONGLONG: return &ffi_type_sint64;
  case APPLY_ULONGLONG: return &ffi_type_uint64;
  case APPLY_FLOAT: return &ffi_type_float;
  case APPLY_DOUBLE: return &ffi_type_double;
  default: return &ffi_type_pointer;
  }
}

/* Aggregates are described to libffi by size and alignment only: on this
   platform they travel as bytes on the stack and come back through the
   hidden pointer, so their members never matter to it. */
ffi_type *typeFor(ScriptMethod &method, const Slot &slot) {
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
    *static_cast<ffi_sarg *>(ret) = *reinterpret_cast<const signed char *>(converted);
    break;
  case APPLY_UCHAR:
    *static_cast<ffi_arg *>(ret) = *reinterpret_cast<const unsigned char *>(converted);
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
    std::memcpy(ret, converted, static_cast<size_t>(objc_aligned_size(slot.type)));
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

bool convertResult(ScriptMethod &method, ScriptValue value, void *ret,
                   std::string &error) {
  const Slot &slot = method.signature->result;
  if (slot.val.kind == APPLY_VOID)
    return true;
  Script &script = method.body->script();
  Arena arena;
  std::vector<char> converted(static_cast<size_t>(storageSize(slot.type)));
  if (!toC(script, value, slot.type, converted.data(), false, arena, error))
    return false;
  if (*objc_skip_type_qualifiers(slot.type) == '*') {
    const char *text = nullptr;
    std::memcpy(&text, converted.data(), sizeof text);
    if (text) {
      method.lastText = text;
      text = method.lastText.c_str();
      std::memcpy(converted.data(), &text, sizeof text);
    }
  }
  storeResult(slot, converted.data(), ret);
  return true;
}

/* Runs the body; a failure comes back as a malloc'd reason, so that the
   exception can be raised once every C++ object here is gone. */
char *runBody(ScriptMethod &method, void *ret, void **args) {
  std::string error;
  try {
    NativeDepth depth;
    if (!depth.entered(error))
      return strdup(error.c_str());
    Script &script = method.body->script();
    std::vector<ScriptValue> values;
    if (argumentValues(script, *method.signature, args, values, error)) {
      id self = nil;
      std::memcpy(&self, args[0], sizeof self);
      methodFrames().push_back(MethodFrame{self, method.owner});
      ScriptValue result = nullptr;
      bool ok = method.body->run(values.data(),
                                 static_cast<int>(values.size()), result,
                                 error);
      methodFrames().pop_back();
      if (ok && convertResult(method, result, ret, error))
        return nullptr;
    }
  } catch (const std::exception &failure) {
    error = failure.what();
  }
  if (error.empty())
    error = "script method failed";
  return strdup(error.c_str());
}

[[noreturn]] void raiseFailure(const char *name, char *reason) {
  id nameString = objc_send_class("NSString", "stringWithCString:", name);
  id reasonString = objc_send_class("NSString", "stringWithCString:",
                                    reason ? reason : "out of memory");
  free(reason);
  id exception = objc_send_class("NSException",
                                 "exceptionWithName:reason:userInfo:",
                                 nameString, reasonString, nil);
  objc_send<void>(exception, "raise");
  abort();
}

/* The closure's entry: nothing with a destructor lives here, since the
   raise leaves this frame with a longjmp. */
void closureEntry(ffi_cif *, void *ret, void **args, void *data) {
  ScriptMethod *method = static_cast<ScriptMethod *>(data);
  char *failure = runBody(*method, ret, args);
  if (failure)
    raiseFailure(method->body->exceptionName(), failure);
}

bool prepareClosure(ScriptMethod &method, void *&code, std::string &error) {
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
  void *closure = ffi_closure_alloc(sizeof(ffi_closure), &code);
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

/* A method list of one record (malloc'd; the runtime keeps it). */
objc_method_list *singleMethodList(SEL sel, const char *types, void *code) {
  auto *list =
      static_cast<objc_method_list *>(calloc(1, sizeof(objc_method_list)));
  if (!list)
    return nullptr;
  list->method_count = 1;
  list->method_list[0].method_name = sel;
  list->method_list[0].method_types = types;
  list->method_list[0].method_imp =
      reinterpret_cast<IMP>(reinterpret_cast<void (*)(void)>(code));
  return list;
}

/* {================ Instance-variable descriptions ================ */

/* Widths past this are refused: a bitfield is read into 32 bits. */
constexpr long long maxBitfieldWidth = 32;

bool descriptionFault(const char *ivars, const std::string &why,
                      std::string &error) {
  error = "instance variables " + quote(ivars) + ": " + why;
  return false;
}

/* The name of a member at p (after its opening quote), for messages. */
std::string memberName(const char *name, const char *close) {
  return quote(std::string(name, close));
}

/* One bitfield member's digits; false past maxBitfieldWidth. */
bool bitfieldDigits(const char *&p, long long &width) {
  width = 0;
  for (++p; *p >= '0' && *p <= '9'; ++p)
    if ((width = width * 10 + (*p - '0')) > maxBitfieldWidth)
      return false;
  return true;
}

/* Walks a description as ZelObjC_NewClass reads it ("{Name=members}",
   each member an optional quoted name and a type, a bitfield its `b` and
   digits) and counts its members (-1 for a description without a member
   list). False with the reason when a member would be dropped or could
   not be converted where it lies: a name without a type, a type whose
   walks disagree, nesting past the bound, text cut short or past the
   closing brace. */
bool checkDescription(const char *ivars, int &members, std::string &error) {
  if (*ivars != '{') {
    error = "instance variables must be a struct encoding, not " +
            quote(ivars);
    return false;
  }
  const char *p = ivars + std::strcspn(ivars, "=}");
  members = -1;
  if (*p != '=') {
    if (*p == '}' && !p[1])
      return true;
    return descriptionFault(ivars, *p ? "text after the closing }"
                                      : "no closing }", error);
  }
  members = 0;
  for (++p;;) {
    std::string name;
    const char *type = p;
    if (*p == '"') {
      const char *close = std::strchr(p + 1, '"');
      if (!close)
        return descriptionFault(ivars, "a name without its closing quote",
                                error);
      name = memberName(p + 1, close);
      type = close + 1;
    }
    const char *body = objc_skip_type_qualifiers(type);
    if (!*body || (*body == '}' && !name.empty()))
      return descriptionFault(
          ivars, name.empty() ? "no closing }" : "variable " + name +
                                                     " has no type",
          error);
    if (*body == '}')
      return body[1] ? descriptionFault(ivars, "text after the closing }",
                                        error)
                     : true;
    if (*body == 'b') {
      long long width = 0;
      p = body;
      if (!bitfieldDigits(p, width))
        return descriptionFault(ivars, "bitfield " + name +
                                           " wider than 32 bits", error);
    } else {
      std::string fault;
      if (!checkType(type, TypeUse::layout, fault))
        return descriptionFault(ivars, fault, error);
      p = objc_skip_typespec(type);
    }
    ++members;
  }
}

/* The class has exactly the members the description gave, each inside the
   instance by the room the bridge reads and writes. */
bool laidOutAsDescribed(Class cls, int members, std::string &error) {
  struct objc_ivar_list *list = cls->ivars;
  int made = list ? list->ivar_count : -1;
  if (made != members) {
    error = "its description has " + std::to_string(members) +
            " variables but the class got " + std::to_string(made);
    return false;
  }
  for (int i = 0; i < made; ++i) {
    const struct objc_ivar &ivar = list->ivar_list[i];
    long long room = *objc_skip_type_qualifiers(ivar.ivar_type) == 'b'
                         ? 1
                         : objc_sizeof_type(ivar.ivar_type);
    if (ivar.ivar_offset < 0 || room < 0 ||
        ivar.ivar_offset + room > cls->instance_size) {
      error = "variable " + quote(ivar.ivar_name) + " would lie outside "
              "the instance";
      return false;
    }
  }
  return true;
}

/* }================================================================ */

} // namespace

Class defineClass(const char *name, Class superclass, const char *ivars,
                  std::string &error) {
  if (!*name) {
    error = "a class needs a name";
    return nullptr;
  }
  if (objc_lookUpClass(name)) {
    error = "a class named " + cut(name) + " exists already";
    return nullptr;
  }
  if (ivars && !*ivars)
    ivars = nullptr;
  int members = -1;
  if (ivars && !checkDescription(ivars, members, error))
    return nullptr;
  Class cls = ZelObjC_NewClass(name, superclass, ivars);
  if (!cls) {
    error = "cannot make class " + cut(name) +
            ": out of memory, or its instances would pass 2 GB";
    return nullptr;
  }
  if (!laidOutAsDescribed(cls, members, error)) {
    ZelObjC_DestroyClass(cls);
    error = "cannot make class " + cut(name) + ": " + error;
    return nullptr;
  }
  return cls;
}

bool defineMethod(Class cls, bool classSide, SEL sel, const char *types,
                  std::unique_ptr<MethodBody> body, std::string &error) {
  auto method = std::make_unique<ScriptMethod>();
  method->signature = prepare(types, error);
  if (!method->signature)
    return false;
  if (method->signature->arguments.size() < 2) {
    error = "method signature " + quote(types) +
            " has no receiver and selector";
    return false;
  }
  const Slot &result = method->signature->result;
  if (result.val.kind == APPLY_AGGREGATE && holdsCString(result.type)) {
    error = "method signature " + quote(types) + " answers a C string "
            "inside an aggregate: nothing would own its text";
    return false;
  }
  method->body = std::move(body);
  method->owner = classSide ? cls->isa : cls;
  void *code = nullptr;
  if (!prepareClosure(*method, code, error))
    return false;
  objc_method_list *list =
      singleMethodList(sel, method->signature->text.c_str(), code);
  if (!list) {
    error = "out of memory for a method list";
    return false;
  }
  class_addMethods(method->owner, list);
  zelObjC_FlushCaches(cls, sel);
  ++methodListsEpoch;
  method.release(); /* lives as long as the class may run it */
  return true;
}

} // namespace zelbridge
