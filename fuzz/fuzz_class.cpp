// Classes made from arbitrary instance-variable descriptions: made,
// subclassed, described, instantiated with every variable written by its
// own type, rebuilt from their own description and destroyed again,
// leaving the class table as it was. The same description defined through
// the bridge core keeps every member it has, and each variable written
// through the core's instance-variable path stays inside its own bytes.
// Each input runs inside an autorelease pool, as a bridge's calls do.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include <Foundation/Foundation.h>
#include <zelObjCRuntime/zelObjCRuntime.h>

#include "fake_script.h"
#include "value_maker.h"

namespace {

constexpr long maxInstanceSize = 1 << 20;

Class rootClass() { return reinterpret_cast<Class>(objc_getClass("NSObject")); }

// Every variable lies inside the instance by the room its own type
// measures; each byte of it is read and written again in a real instance,
// which the address sanitizer watches.
void writeEveryVariable(Class cls) {
  for (Class c = cls; c; c = c->super_class) {
    struct objc_ivar_list *ivars = c->ivars;
    for (int i = 0; ivars && i < ivars->ivar_count; ++i) {
      const struct objc_ivar &ivar = ivars->ivar_list[i];
      long size = objc_sizeof_type(ivar.ivar_type);
      if (size < 0 || ivar.ivar_offset < 0 ||
          ivar.ivar_offset + size > cls->instance_size)
        std::abort();
    }
  }
  // Sizes of members wrap at 32 bits; an instance is made only where its
  // size is one that memory can hold.
  if (cls->instance_size < 0 || cls->instance_size > maxInstanceSize)
    return;
  id object = objc_send(reinterpret_cast<id>(cls), "new");
  if (!object)
    return;
  volatile char *bytes = reinterpret_cast<char *>(object);
  for (Class c = cls; c; c = c->super_class) {
    struct objc_ivar_list *ivars = c->ivars;
    for (int i = 0; ivars && i < ivars->ivar_count; ++i) {
      const struct objc_ivar &ivar = ivars->ivar_list[i];
      long end = ivar.ivar_offset + objc_sizeof_type(ivar.ivar_type);
      for (long k = ivar.ivar_offset; k < end; ++k)
        bytes[k] = bytes[k];
    }
  }
  objc_send<void>(object, "release");
}

void exercise(Class cls) {
  const char *layout = ZelObjC_IVarStruct(cls);
  if (layout)
    (void)std::strlen(layout);
  struct objc_ivar_list *ivars = cls->ivars;
  for (int i = 0; ivars && i < ivars->ivar_count; ++i) {
    const char *name = ivars->ivar_list[i].ivar_name;
    if (name && !ZelObjC_GetInstanceVariable(cls, name))
      std::abort(); // a variable of the class is not found by its name
  }
  ZelObjC_GetInstanceVariable(cls->isa, "isa");
  writeEveryVariable(cls);
}

bool sameVariable(const struct objc_ivar &a, const struct objc_ivar &b) {
  return std::strcmp(a.ivar_name, b.ivar_name) == 0 &&
         std::strcmp(a.ivar_type, b.ivar_type) == 0 &&
         a.ivar_offset == b.ivar_offset;
}

// A root class made from a class's own description has the same
// variables at the same offsets (after NSObject's own) and the same size.
void rebuildFromDescription(Class cls, const std::string &name) {
  if (cls->name[0] == '!' || !cls->ivars)
    return; // a hidden class is described as its superclass
  if (std::strpbrk(cls->name, "=}"))
    return; // the description's name part would end inside the name
  const std::string own = ZelObjC_IVarStruct(cls);
  Class rebuilt = ZelObjC_NewClass(name.c_str(), nullptr, own.c_str());
  if (!rebuilt)
    std::abort();
  if (rebuilt->instance_size != cls->instance_size || !rebuilt->ivars)
    std::abort();
  int inherited = rebuilt->ivars->ivar_count - cls->ivars->ivar_count;
  if (inherited < 0)
    std::abort();
  for (int i = 0; i < cls->ivars->ivar_count; ++i)
    if (!sameVariable(cls->ivars->ivar_list[i],
                      rebuilt->ivars->ivar_list[inherited + i]))
      std::abort();
  if (!ZelObjC_DestroyClass(rebuilt))
    std::abort();
}

void destroy(Class cls, const std::string &name) {
  if (!ZelObjC_DestroyClass(cls))
    std::abort();
  if (objc_lookUpClass(name.c_str()))
    std::abort(); // the name must be free again
}

// The members of a description, counted by its grammar alone (-1 when
// it has no member list): an optional quoted name, then a type, a
// bitfield being its `b` and digits.
int describedMembers(const char *description) {
  const char *p = description + std::strcspn(description, "=}");
  if (*p != '=')
    return -1;
  int count = 0;
  for (++p; *p;) {
    if (*p == '"') {
      const char *close = std::strchr(p + 1, '"');
      if (!close)
        break;
      p = close + 1;
    }
    const char *body = objc_skip_type_qualifiers(p);
    if (!*body || *body == '}')
      break;
    if (*body == 'b')
      for (p = body + 1; *p >= '0' && *p <= '9'; ++p) {
      }
    else
      p = objc_skip_typespec(p);
    ++count;
  }
  return count;
}

bool namedOnce(Class cls, const char *name) {
  int uses = 0;
  for (int i = 0; i < cls->ivars->ivar_count; ++i)
    uses += std::strcmp(cls->ivars->ivar_list[i].ivar_name, name) == 0;
  return uses == 1 && *name;
}

// Writes the variable through the core; no byte outside its own room
// (for a bitfield: the bytes its bits can reach) changes.
void writeThroughCore(fake::Script &script, id object, long size,
                      const struct objc_ivar &ivar, Choices &choices) {
  const char *body = objc_skip_type_qualifiers(ivar.ivar_type);
  long room = *body == 'b' ? (std::atol(body + 1) + 7) / 8 + 1
                           : objc_sizeof_type(ivar.ivar_type);
  const auto *bytes = reinterpret_cast<const unsigned char *>(object);
  std::string before(reinterpret_cast<const char *>(bytes), size_t(size));
  Maker maker(script, choices);
  ScriptValue value =
      *body == 'b' ? script.integer(1) : maker.value(ivar.ivar_type, 0);
  std::string error;
  bool written =
      zelbridge::setIvar(script, object, ivar.ivar_name, value, error);
  for (long k = 0; k < size; ++k)
    if ((k < ivar.ivar_offset || k >= ivar.ivar_offset + room) &&
        bytes[k] != static_cast<unsigned char>(before[size_t(k)]))
      std::abort();
  ScriptValue back = nullptr;
  if (written &&
      !zelbridge::getIvar(script, object, ivar.ivar_name, back, error))
    std::abort(); // what was written reads back
}

// Defined through the core, a class keeps every member its description
// has; a description the core refuses gets a reason.
void throughCore(const std::string &name, const std::string &ivars) {
  std::string error;
  Class cls =
      zelbridge::defineClass(name.c_str(), rootClass(), ivars.c_str(), error);
  if (!cls) {
    if (error.empty())
      std::abort();
    return;
  }
  int made = cls->ivars ? cls->ivars->ivar_count : -1;
  if (made != describedMembers(ivars.c_str()))
    std::abort(); // a member was dropped
  if (cls->ivars && cls->instance_size <= maxInstanceSize) {
    id object = objc_send(reinterpret_cast<id>(cls), "new");
    fake::Script script;
    Choices choices(reinterpret_cast<const std::uint8_t *>(ivars.data()),
                    ivars.size());
    for (int i = 0; object && i < made; ++i)
      if (namedOnce(cls, cls->ivars->ivar_list[i].ivar_name))
        writeThroughCore(script, object, cls->instance_size,
                         cls->ivars->ivar_list[i], choices);
    objc_send<void>(object, "release");
  }
  destroy(cls, name);
}

void run(const std::string &name, const std::string &ivars) {
  throughCore(name + "Core", ivars);
  Class cls = ZelObjC_NewClass(name.c_str(), rootClass(), ivars.c_str());
  if (!cls)
    return;
  if (reinterpret_cast<Class>(objc_lookUpClass(name.c_str())) != cls)
    std::abort();
  exercise(cls);
  rebuildFromDescription(cls, name + "Rebuilt");

  // A subclass lays its variables out after the class's own, and keeps
  // the class from being destroyed while it is registered.
  const std::string subName = name + "Sub";
  Class sub = ZelObjC_NewClass(subName.c_str(), cls, ivars.c_str());
  if (sub) {
    if (sub->instance_size < cls->instance_size)
      std::abort();
    exercise(sub);
    if (ZelObjC_DestroyClass(cls))
      std::abort();
    destroy(sub, subName);
  }
  destroy(cls, name);
}

} // namespace

// The first line is the class name (a leading '!' makes it a hidden
// class); the rest describes its variables.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  std::string input(reinterpret_cast<const char *>(data), size);
  input = input.substr(0, input.find('\0'));
  const std::size_t newline = input.find('\n');
  if (newline == std::string::npos)
    return 0;
  std::string line = input.substr(0, newline);
  const bool hidden = !line.empty() && line[0] == '!';
  const std::string name =
      (hidden ? "!ZelFuzz" : "ZelFuzz") + line.substr(hidden ? 1 : 0);
  id pool = objc_send(objc_send_class("NSAutoreleasePool", "alloc"), "init");
  run(name, input.substr(newline + 1));
  objc_send<void>(pool, "release");
  return 0;
}
