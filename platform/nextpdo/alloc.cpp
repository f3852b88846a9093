/* Object allocation. Every allocation, copy, reallocation and deallocation
   goes through the writable hook variables, so a program can watch or
   replace them. The default functions ignore zones and use the C heap,
   which is what the default zone is. */
#include "runtime.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

/* Bytes of an instance with extraBytes more; 0 when that does not fit in
   the address space (a wrapped size would make a block too small). */
size_t instanceBytes(Class cls, unsigned extraBytes) {
  size_t base =
      cls->instance_size > 0 ? static_cast<size_t>(cls->instance_size) : 0;
  if (extraBytes > SIZE_MAX - base)
    return 0;
  size_t size = base + extraBytes;
  return size < sizeof(struct objc_object) ? sizeof(struct objc_object) : size;
}

id allocInstance(Class cls, unsigned extraBytes, void *) {
  if (!cls)
    return nil;
  size_t size = instanceBytes(cls, extraBytes);
  if (!size)
    return nil;
  auto *obj = static_cast<id>(calloc(1, size));
  if (obj)
    obj->isa = cls;
  return obj;
}

id defaultAlloc(Class cls, unsigned extraBytes) {
  return allocInstance(cls, extraBytes, nullptr);
}

/* The copy gets the original's instance variables; its extra bytes start
   zeroed, since the size of the original's extra bytes is not known. */
id copyInstance(id obj, unsigned extraBytes, void *zone) {
  if (!obj)
    return nil;
  id copy = allocInstance(obj->isa, extraBytes, zone);
  if (copy && obj->isa->instance_size > 0)
    memcpy(copy, obj, static_cast<size_t>(obj->isa->instance_size));
  return copy;
}

id defaultCopy(id obj, unsigned extraBytes) {
  return copyInstance(obj, extraBytes, nullptr);
}

id reallocInstance(id obj, unsigned size, void *) {
  if (!obj)
    return nil;
  if (size < sizeof(struct objc_object))
    size = sizeof(struct objc_object);
  return static_cast<id>(realloc(obj, size));
}

id defaultRealloc(id obj, unsigned size) {
  return reallocInstance(obj, size, nullptr);
}

id defaultDealloc(id obj) {
  free(obj);
  return nil;
}

} // namespace

extern "C" {

OBJC_EXPORT id (*_alloc)(Class, unsigned) = defaultAlloc;
OBJC_EXPORT id (*_zoneAlloc)(Class, unsigned, void *) = allocInstance;
OBJC_EXPORT id (*_copy)(id, unsigned) = defaultCopy;
OBJC_EXPORT id (*_zoneCopy)(id, unsigned, void *) = copyInstance;
OBJC_EXPORT id (*_realloc)(id, unsigned) = defaultRealloc;
OBJC_EXPORT id (*_zoneRealloc)(id, unsigned, void *) = reallocInstance;
OBJC_EXPORT id (*_dealloc)(id) = defaultDealloc;

OBJC_EXPORT id class_createInstance(Class cls, unsigned extraBytes) noexcept {
  return _alloc(cls, extraBytes);
}

OBJC_EXPORT id class_createInstanceFromZone(Class cls, unsigned extraBytes,
                                            void *zone) noexcept {
  return _zoneAlloc(cls, extraBytes, zone);
}

OBJC_EXPORT id object_copy(id obj, unsigned extraBytes) noexcept {
  return _copy(obj, extraBytes);
}

OBJC_EXPORT id object_copyFromZone(id obj, unsigned extraBytes,
                                   void *zone) noexcept {
  return _zoneCopy(obj, extraBytes, zone);
}

OBJC_EXPORT id object_realloc(id obj, unsigned size) noexcept {
  return _realloc(obj, size);
}

OBJC_EXPORT id object_reallocFromZone(id obj, unsigned size,
                                      void *zone) noexcept {
  return _zoneRealloc(obj, size, zone);
}

OBJC_EXPORT id object_dispose(id obj) noexcept { return _dealloc(obj); }

} // extern "C"
