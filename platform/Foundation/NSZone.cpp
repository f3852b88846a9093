/* Zones: one default zone over the C library's heap, so that every block
   from malloc, the runtime's included, belongs to it. */
#include <stdlib.h>
#include "foundation.h"

struct _NSZone {
  const char *name;
};

namespace {

NSZone defaultZone = {"default"};

} // namespace

OBJC_EXPORT NSZone *NSDefaultMallocZone(void) noexcept { return &defaultZone; }

OBJC_EXPORT NSZone *NSZoneFromPointer(void *ptr) noexcept {
  return ptr ? &defaultZone : nullptr;
}

OBJC_EXPORT void *NSZoneMalloc(NSZone *, unsigned size) noexcept {
  return malloc(size ? size : 1);
}

OBJC_EXPORT void *NSZoneCalloc(NSZone *, unsigned count,
                               unsigned size) noexcept {
  return calloc(count ? count : 1, size ? size : 1);
}

OBJC_EXPORT void *NSZoneRealloc(NSZone *, void *ptr, unsigned size) noexcept {
  return realloc(ptr, size ? size : 1);
}

OBJC_EXPORT void NSZoneFree(NSZone *, void *ptr) noexcept { free(ptr); }
