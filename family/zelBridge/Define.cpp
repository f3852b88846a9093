/* Classes and methods defined by scripts: method implementations are libffi
   closures that convert their arguments and run the script's body. */
#include "bridge.h"

#include <ffi.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace zelbridge {

namespace {

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
    error = "instance variables must be a struct encoding, not " + quote(ivars);
    return false;
  }
  const char *p = ivars + std::strcspn(ivars, "=}");
  members = -1;
  if (*p != '=') {
    if (*p == '}' && !p[1])
      return true;
    return descriptionFault(
        ivars, *p ? "text after the closing }" : "no closing }", error);
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
          ivars,
          name.empty() ? "no closing }" : "variable " + name + " has no type",
          error);
    if (*body == '}')
      return body[1]
                 ? descriptionFault(ivars, "text after the closing }", error)
                 : true;
    if (*body == 'b') {
      long long width = 0;
      p = body;
      if (!bitfieldDigits(p, width))
        return descriptionFault(
            ivars, "bitfield " + name + " wider than 32 bits", error);
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
      error = "variable " + quote(ivar.ivar_name) +
              " would lie outside "
              "the instance";
      return false;
    }
  }
  return true;
}

/* }================================================================ */

/* A selector's colons count its arguments: "moveBy:to:" takes two. */
bool selectorFits(SEL sel, const Signature &signature, std::string &error) {
  const char *name = sel_getName(sel);
  if (!*name) {
    error = "a method needs a selector";
    return false;
  }
  size_t colons = 0;
  for (const char *c = name; *c; ++c)
    colons += *c == ':';
  size_t arguments = signature.arguments.size() - 2;
  if (colons == arguments)
    return true;
  error = "selector " + quote(name) + " takes " + std::to_string(colons) +
          " arguments but the types " + quote(signature.text) + " give " +
          std::to_string(arguments);
  return false;
}

/* The types of a method the class (or its metaclass) already answers for
   the selector, or of the selector in a protocol it adopts; null when
   neither has one. */
const char *knownTypes(Class owner, bool classSide, SEL sel) {
  if (Method method = class_getInstanceMethod(owner, sel))
    return method->method_types;
  Class cls = classSide ? reinterpret_cast<Class>(objc_lookUpClass(owner->name))
                        : owner;
  for (; cls; cls = cls->super_class)
    for (objc_protocol_list *list = cls->protocols; list; list = list->next)
      for (int i = 0; i < list->count; ++i) {
        auto *protocol = reinterpret_cast<Protocol *>(list->list[i]);
        objc_method_description *description =
            ZelObjC_LookupProtocolMethod(protocol, sel, classSide ? NO : YES);
        if (description && description->types)
          return description->types;
      }
  return nullptr;
}

/* The types with their frame offsets: each argument at the sum of the
   promoted sizes before it (4-byte slots), the frame their total. Offsets
   given must be those; an encoding without any gets them. */
bool withOffsets(const std::string &types, std::string &out,
                 std::string &error) {
  std::vector<std::string> parts;
  std::vector<long> given;
  bool anyGiven = false;
  for (const char *type = types.c_str(); *type;) {
    const char *end = objc_skip_typespec(type);
    if (end == type)
      break;
    parts.emplace_back(type, end);
    char *digits = nullptr;
    long offset = std::strtol(end, &digits, 10);
    anyGiven = anyGiven || digits != end;
    given.push_back(digits != end ? offset : -1);
    type = digits;
  }
  long frame = 0;
  std::vector<long> offsets;
  for (size_t i = 1; i < parts.size(); ++i) {
    offsets.push_back(frame);
    int size = objc_promoted_size(parts[i].c_str());
    frame += (std::max(size, 4) + 3) / 4 * 4;
  }
  out = parts.empty() ? "" : parts[0] + std::to_string(frame);
  for (size_t i = 1; i < parts.size(); ++i)
    out += parts[i] + std::to_string(offsets[i - 1]);
  if (!anyGiven || out == types)
    return true;
  error = "the offsets of " + quote(types) +
          " do not fit its arguments' sizes (" + quote(out) + " would)";
  return false;
}

} // namespace

bool methodTypes(Class cls, bool classSide, SEL sel, const char *given,
                 std::string &types, std::string &error) {
  Class owner = classSide ? cls->isa : cls;
  const char *known = knownTypes(owner, classSide, sel);
  if (!given) {
    if (!known) {
      error = std::string("no types given for ") + cut(sel_getName(sel)) +
              ", and neither " + cut(cls->name) +
              " nor a protocol it adopts has such a method";
      return false;
    }
    types = known;
    return true;
  }
  if (!withOffsets(given, types, error))
    return false;
  Method existing = class_getInstanceMethod(owner, sel);
  if (existing && existing->method_types &&
      !zelObjC_CompatibleTypes(types.c_str(), existing->method_types)) {
    error = "types " + quote(types) + " do not fit " +
            quote(existing->method_types) + " of the method " +
            cut(sel_getName(sel)) + " they would replace";
    return false;
  }
  return true;
}

bool adoptProtocols(Class cls, const std::vector<Protocol *> &protocols,
                    std::string &error) {
  if (protocols.empty())
    return true;
  size_t bytes =
      sizeof(objc_protocol_list) + (protocols.size() - 1) * sizeof(id);
  auto *list = static_cast<objc_protocol_list *>(std::calloc(1, bytes));
  if (!list) {
    error = "out of memory for the protocols of " + cut(cls->name);
    return false;
  }
  list->count = static_cast<int>(protocols.size());
  for (size_t i = 0; i < protocols.size(); ++i)
    list->list[i] = reinterpret_cast<id>(protocols[i]);
  list->next = cls->protocols;
  cls->protocols = list;
  return true;
}

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
  noteScriptClass(cls);
  return cls;
}

bool defineMethod(Class cls, bool classSide, SEL sel, const char *types,
                  std::unique_ptr<MethodBody> body, std::string &error) {
  auto method = std::make_unique<ScriptClosure>();
  method->signature = prepare(types, error);
  if (!method->signature)
    return false;
  if (method->signature->arguments.size() < 2) {
    error =
        "method signature " + quote(types) + " has no receiver and selector";
    return false;
  }
  if (!selectorFits(sel, *method->signature, error))
    return false;
  method->body = std::move(body);
  method->owner = classSide ? cls->isa : cls;
  void *code = nullptr;
  if (!prepareClosure(*method, code, error))
    return false;
  method->sel = sel;
  method->imp = reinterpret_cast<IMP>(reinterpret_cast<void (*)(void)>(code));
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
