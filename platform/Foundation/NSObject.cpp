/* The root class NSObject. Instances hold only isa; retain counts beyond
   the first live in a table keyed by address, so that any block the
   runtime allocates can be an object. */
#include <mutex>
#include <stdint.h>
#include <string.h>
#include "foundation.h"

using namespace objc_module_records;

namespace {

/* Object address -> retains beyond the first (absent means none). */
NSMapTable *retainTable = nullptr;
std::mutex retainLock;

NSMapTable *retains() {
  if (!retainTable)
    retainTable = NSCreateMapTable(NSNonOwnedPointerMapKeyCallBacks,
                                   NSNonOwnedPointerMapValueCallBacks, 64);
  return retainTable;
}

unsigned extraRetainsLocked(id obj) {
  return static_cast<unsigned>(
      reinterpret_cast<uintptr_t>(NSMapGet(retains(), obj)));
}

void setExtraRetainsLocked(id obj, unsigned count) {
  if (count == 0)
    NSMapRemove(retains(), obj);
  else
    NSMapInsert(retains(), obj, reinterpret_cast<void *>(uintptr_t{count}));
}

/* ---- instance methods ---- */

id Object_init(id self, SEL) { return self; }

void Object_dealloc(id self, SEL) { object_dispose(self); }

id Object_retain(id self, SEL) {
  std::lock_guard<std::mutex> guard(retainLock);
  setExtraRetainsLocked(self, extraRetainsLocked(self) + 1);
  return self;
}

/* Answers true when the last reference went away. */
bool dropReference(id self) {
  std::lock_guard<std::mutex> guard(retainLock);
  unsigned extra = extraRetainsLocked(self);
  if (extra == 0)
    return true;
  setExtraRetainsLocked(self, extra - 1);
  return false;
}

void Object_release(id self, SEL) {
  if (dropReference(self))
    objc_send<void>(self, "dealloc");
}

id Object_autorelease(id self, SEL) {
  objc_send<void>(objc_getClass("NSAutoreleasePool"), "addObject:", self);
  return self;
}

unsigned Object_retainCount(id self, SEL) {
  std::lock_guard<std::mutex> guard(retainLock);
  return extraRetainsLocked(self) + 1;
}

id Object_copy(id self, SEL) {
  return objc_send(self, "copyWithZone:", NSDefaultMallocZone());
}

id Object_copyWithZone(id self, SEL, NSZone *zone) {
  return object_copyFromZone(self, 0, zone);
}

id Object_self(id self, SEL) { return self; }

NSZone *Object_zone(id self, SEL) { return NSZoneFromPointer(self); }

Class Object_class(id self, SEL) { return self->isa; }

Class Object_superclass(id self, SEL) { return self->isa->super_class; }

BOOL Object_isEqual(id self, SEL, id other) { return self == other; }

unsigned Object_hash(id self, SEL) {
  return static_cast<unsigned>(reinterpret_cast<uintptr_t>(self) >> 2);
}

id Object_description(id self, SEL) {
  return fnd::stringWithFormat("<%s: %p>", self->isa->name,
                               static_cast<void *>(self));
}

BOOL Object_respondsToSelector(id self, SEL, SEL sel) {
  return sel && class_getInstanceMethod(self->isa, sel) ? YES : NO;
}

BOOL Object_isKindOfClass(id self, SEL, Class cls) {
  return fnd::isKindOf(self, cls) ? YES : NO;
}

BOOL Object_isMemberOfClass(id self, SEL, Class cls) {
  return self->isa == cls ? YES : NO;
}

BOOL Object_isProxy(id, SEL) { return NO; }

IMP Object_methodForSelector(id self, SEL, SEL sel) {
  return _class_lookupMethodAndLoadCache(self->isa, sel);
}

id Object_performSelector(id self, SEL, SEL sel) {
  return objc_send(self, sel);
}

id Object_performSelectorWithObject(id self, SEL, SEL sel, id object) {
  return objc_send(self, sel, object);
}

/* Sent by the runtime's forwarding for a message nothing implements. */
void Object_doesNotRecognizeSelector(id self, SEL, SEL sel) {
  bool isClass = self->isa->info & CLS_META;
  const char *name =
      isClass ? reinterpret_cast<Class>(self)->name : self->isa->name;
  fnd::raise(NSInvalidArgumentException, "%c[%s %s]: selector not recognized",
             isClass ? '+' : '-', name, sel ? sel_getName(sel) : "(null)");
}

BOOL classConformsTo(Class cls, Protocol *protocol);

BOOL Object_conformsToProtocol(id self, SEL, Protocol *protocol) {
  return classConformsTo(self->isa, protocol);
}

MethodList<25> Object_imethods = {
    nullptr,
    25,
    {OBJC_DERIVED_METHOD("init", Object_init),
     OBJC_DERIVED_METHOD("dealloc", Object_dealloc),
     OBJC_DERIVED_METHOD("retain", Object_retain),
     OBJC_DERIVED_METHOD("release", Object_release),
     OBJC_DERIVED_METHOD("autorelease", Object_autorelease),
     OBJC_DERIVED_METHOD("retainCount", Object_retainCount),
     OBJC_DERIVED_METHOD("copy", Object_copy),
     OBJC_DERIVED_METHOD("copyWithZone:", Object_copyWithZone),
     OBJC_DERIVED_METHOD("self", Object_self),
     OBJC_DERIVED_METHOD("zone", Object_zone),
     OBJC_DERIVED_METHOD("class", Object_class),
     OBJC_DERIVED_METHOD("superclass", Object_superclass),
     OBJC_DERIVED_METHOD("classForCoder", Object_class),
     OBJC_DERIVED_METHOD("isEqual:", Object_isEqual),
     OBJC_DERIVED_METHOD("hash", Object_hash),
     OBJC_DERIVED_METHOD("description", Object_description),
     OBJC_DERIVED_METHOD("respondsToSelector:", Object_respondsToSelector),
     OBJC_DERIVED_METHOD("isKindOfClass:", Object_isKindOfClass),
     OBJC_DERIVED_METHOD("isMemberOfClass:", Object_isMemberOfClass),
     OBJC_DERIVED_METHOD("isProxy", Object_isProxy),
     OBJC_DERIVED_METHOD("methodForSelector:", Object_methodForSelector),
     OBJC_DERIVED_METHOD("performSelector:", Object_performSelector),
     OBJC_DERIVED_METHOD("performSelector:withObject:",
                         Object_performSelectorWithObject),
     OBJC_DERIVED_METHOD("doesNotRecognizeSelector:",
                         Object_doesNotRecognizeSelector),
     OBJC_DERIVED_METHOD("conformsToProtocol:", Object_conformsToProtocol)}};

/* ---- class methods ---- */

void Class_initialize(id, SEL) {}

id Class_allocWithZone(id self, SEL, NSZone *zone) {
  return class_createInstanceFromZone(reinterpret_cast<Class>(self), 0,
                                      zone ? zone : NSDefaultMallocZone());
}

id Class_alloc(id self, SEL) {
  return objc_send(self, "allocWithZone:", NSDefaultMallocZone());
}

id Class_new(id self, SEL) {
  return objc_send(objc_send(self, "alloc"), "init");
}

/* Class objects are never freed by reference counting. */
id Class_retain(id self, SEL) { return self; }
void Class_release(id, SEL) {}
unsigned Class_retainCount(id, SEL) { return UINT32_MAX; }

Class Class_class(id self, SEL) { return reinterpret_cast<Class>(self); }

Class Class_superclass(id self, SEL) {
  return reinterpret_cast<Class>(self)->super_class;
}

id Class_description(id self, SEL) {
  return fnd::stringWith(reinterpret_cast<Class>(self)->name);
}

/* What an instance would run, the forwarding implementation included. */
IMP Class_instanceMethodForSelector(id self, SEL, SEL sel) {
  return _class_lookupMethodAndLoadCache(reinterpret_cast<Class>(self), sel);
}

BOOL Class_instancesRespondToSelector(id self, SEL, SEL sel) {
  Class cls = reinterpret_cast<Class>(self);
  return sel && class_getInstanceMethod(cls, sel) ? YES : NO;
}

BOOL Class_isSubclassOfClass(id self, SEL, Class other) {
  for (Class cls = reinterpret_cast<Class>(self); cls; cls = cls->super_class)
    if (cls == other)
      return YES;
  return NO;
}

bool protocolIncorporates(Protocol *candidate, const char *name);

bool listIncorporates(struct objc_protocol_list *list, const char *name) {
  for (; list; list = list->next)
    for (int i = 0; i < list->count; i++)
      if (protocolIncorporates(reinterpret_cast<Protocol *>(list->list[i]),
                               name))
        return true;
  return false;
}

/* The protocol is, or incorporates, one of that name. */
bool protocolIncorporates(Protocol *candidate, const char *name) {
  if (!candidate || !candidate->protocol_name)
    return false;
  if (strcmp(candidate->protocol_name, name) == 0)
    return true;
  return listIncorporates(candidate->protocol_list, name);
}

/* Works on any class record: the runtime's clients call this directly. */
BOOL classConformsTo(Class cls, Protocol *protocol) {
  if (!protocol || !protocol->protocol_name)
    return NO;
  for (; cls; cls = cls->super_class)
    if (listIncorporates(cls->protocols, protocol->protocol_name))
      return YES;
  return NO;
}

BOOL Class_conformsToProtocol(id self, SEL, Protocol *protocol) {
  return classConformsTo(reinterpret_cast<Class>(self), protocol);
}

MethodList<16> Object_cmethods = {
    nullptr,
    16,
    {OBJC_DERIVED_METHOD("initialize", Class_initialize),
     OBJC_DERIVED_METHOD("alloc", Class_alloc),
     OBJC_DERIVED_METHOD("allocWithZone:", Class_allocWithZone),
     OBJC_DERIVED_METHOD("new", Class_new),
     OBJC_DERIVED_METHOD("retain", Class_retain),
     OBJC_DERIVED_METHOD("release", Class_release),
     OBJC_DERIVED_METHOD("autorelease", Class_retain),
     OBJC_DERIVED_METHOD("retainCount", Class_retainCount),
     OBJC_DERIVED_METHOD("copy", Class_retain),
     OBJC_DERIVED_METHOD("class", Class_class),
     OBJC_DERIVED_METHOD("superclass", Class_superclass),
     OBJC_DERIVED_METHOD("description", Class_description),
     OBJC_DERIVED_METHOD("instanceMethodForSelector:",
                         Class_instanceMethodForSelector),
     OBJC_DERIVED_METHOD("instancesRespondToSelector:",
                         Class_instancesRespondToSelector),
     OBJC_DERIVED_METHOD("isSubclassOfClass:", Class_isSubclassOfClass),
     OBJC_DERIVED_METHOD("conformsToProtocol:", Class_conformsToProtocol)}};

IvarList<1> Object_ivars = {1, {{"isa", "#", 0}}};

/* A root class: its record's super_class is null. */
OBJC_CLASS_RECORDS(NSObjectClass, "NSObject", nullptr, 4, &Object_ivars,
                   &Object_imethods, &Object_cmethods);

OBJC_MODULE_RECORD(module, 1, 0, &NSObjectClass);

} // namespace

OBJC_REGISTER_MODULE(module)
OBJC_LIBRARY_REGISTRATION()
OBJC_CLASS_SYMBOL(NSObject);

/* ======================= Shared helpers ======================= */

id fnd::retain(id obj) noexcept { return obj ? objc_send(obj, "retain") : obj; }

void fnd::release(id obj) noexcept {
  if (obj)
    objc_send<void>(obj, "release");
}

id fnd::autorelease(id obj) noexcept {
  return obj ? objc_send(obj, "autorelease") : obj;
}

bool fnd::isKindOf(id obj, Class target) noexcept {
  if (!obj)
    return false;
  for (Class cls = obj->isa; cls; cls = cls->super_class)
    if (cls == target)
      return true;
  return false;
}
