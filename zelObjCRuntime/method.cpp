/* Method lookup over the runtime's caches, removal of one selector from
   the caches of a class family, and the category ZelObjCFormer on NSObject:
   former methods (the implementations that replacements displaced) and
   hidden classes (names beginning with "!") kept out of sight. */
#include <zelObjCRuntime/zelObjCRuntime.h>
#include <objc/objc-load.h>

#include "method.h"

#include <cstddef>
#include <cstdint>

static_assert(offsetof(objc_class, cache) == CLASS_CACHE, "class cache");
static_assert(offsetof(objc_cache, mask) == CACHE_MASK, "cache mask");
static_assert(offsetof(objc_cache, buckets) == CACHE_BUCKETS, "buckets");
static_assert(offsetof(objc_method, method_name) == METHOD_NAME, "selector");

/* ====================== Lookup and caches ====================== */

/* Shared with the hit path of ZelObjC_LookupMethod in method.S. */
extern "C" {
unsigned char zel_multithreaded = 0; /* set once, never cleared */
Method zel_lookup_rest(Class cls, SEL sel) noexcept;
}

namespace {

/* What the runtime runs for a message that no method implements: the
   implementation of every not-found record, found before
   zel_multithreaded is set. */
IMP notFoundImp = nullptr;

void findNotFoundImp() {
  Class root = reinterpret_cast<Class>(objc_lookUpClass("NSObject"));
  notFoundImp = _class_lookupMethodAndLoadCache(root, nullptr);
}

/* What the cache-free path answers for a selector nobody implements, and
   both paths for a null class: one record per thread, so that a miss on
   one thread never rewrites the selector another thread is reading. */
thread_local struct objc_method notFound = {nullptr, nullptr, nullptr};

Method notFoundFor(SEL sel) {
  notFound.method_name = sel;
  notFound.method_types = "";
  notFound.method_imp = notFoundImp;
  return &notFound;
}

/* The record of a selector in the cache, or null. Stops at the first
   empty bucket, and after mask + 1 buckets should no bucket be empty. */
Method probe(const struct objc_cache *cache, SEL sel) {
  if (!cache) /* not registered: nothing cached */
    return nullptr;
  std::uint32_t mask = cache->mask;
  std::uint32_t index =
      static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(sel)) & mask;
  for (std::uint64_t seen = 0; seen <= mask; ++seen) {
    Method bucket = cache->buckets[index];
    if (!bucket)
      return nullptr;
    if (bucket->method_name == sel)
      return bucket;
    index = (index + 1) & mask;
  }
  return nullptr;
}

/* Through the cache, asking the runtime to fill it on a miss. A class
   that is still being initialised gets nothing cached: its answer goes out
   in a record of the library's own, rewritten at each such miss. */
__attribute__((noinline)) Method lookup_cached(Class cls, SEL sel) {
  thread_local struct objc_method emergency = {nullptr, "v8@8:12", nullptr};
  if (Method hit = probe(cls->cache, sel))
    return hit;
  _class_lookupMethodAndLoadCache(cls, sel);
  if (Method hit = probe(cls->cache, sel)) /* the cache may be new */
    return hit;
  emergency.method_name = sel;
  emergency.method_imp = _class_lookupMethodAndLoadCache(cls, sel);
  return &emergency;
}

/* Through the method lists only, never touching a cache. */
__attribute__((noinline)) Method lookup_uncached(Class cls, SEL sel) {
  if (Method method = class_getInstanceMethod(cls, sel))
    return method;
  return notFoundFor(sel);
}

} // namespace

/* Everything but a hit in the selector's home bucket on the cache path.
   A null class has nothing to look in, on either path. */
Method zel_lookup_rest(Class cls, SEL sel) noexcept {
  if (zel_multithreaded)
    return lookup_uncached(cls, sel);
  if (!cls) {
    findNotFoundImp(); /* single-threaded here: no reader races it */
    return notFoundFor(sel);
  }
  return lookup_cached(cls, sel);
}

namespace {

/* Empties every bucket of the class's cache that holds the selector.
   Emptied buckets are not closed up: a probe that stops at one misses and
   goes to the runtime, which loads the method again. */
void cache_flush(Class cls, SEL sel) {
  struct objc_cache *cache = cls->cache;
  if (!cache)
    return;
  for (std::uint64_t index = 0; index <= cache->mask; ++index) {
    Method bucket = cache->buckets[index];
    if (bucket && bucket->method_name == sel) {
      cache->buckets[index] = nullptr;
      cache->occupied--;
    }
  }
}

/* True when the class is target or inherits from it, or when target is
   the metaclass of the class or of one of its ancestors. */
bool descends_from(Class cls, Class target) {
  for (Class ancestor = cls; ancestor; ancestor = ancestor->super_class)
    if (ancestor == target || ancestor->isa == target)
      return true;
  return false;
}

/* ====================== Category ZelObjCFormer ====================== */

bool is_hidden(Class cls) { return cls && cls->name && cls->name[0] == '!'; }

/* The class an object reports: one hidden level skipped. */
Class visible_class(id self, SEL) {
  Class cls = self->isa;
  return is_hidden(cls) ? cls->super_class : cls;
}

Class visible_superclass(id self, SEL) {
  Class cls = visible_class(self, nullptr);
  return cls ? cls->super_class : Nil;
}

Class coder_class(id self, SEL) { return visible_class(self, nullptr); }

/* The implementation that the second definition of sel in the class's own
   lists holds, newest list first: the one the running definition replaced.
   With fewer than two, what the superclass's instances would run. */
IMP former_instance_method(Class self, SEL, SEL sel) {
  int matches = 0;
  void *iterator = nullptr;
  while (struct objc_method_list *list =
             class_nextMethodList(self, &iterator)) {
    for (int i = 0; i < list->method_count; ++i) {
      const struct objc_method &method = list->method_list[i];
      if (method.method_name == sel && ++matches == 2)
        return method.method_imp;
    }
  }
  if (!self->super_class) /* a root class: nothing was displaced */
    return nullptr;
  return objc_send<IMP>(self->super_class, "instanceMethodForSelector:", sel);
}

/* An object's former method, from its isa as it stands: for a class
   object that is the metaclass, so the answer is a former class method. */
IMP former_method(id self, SEL, SEL sel) {
  return objc_send<IMP>(self->isa, "formerInstanceMethodForSelector:", sel);
}

using namespace objc_module_records;

MethodList<4> former_instance_methods = {
    nullptr,
    4,
    {OBJC_METHOD("classForCoder", "#8@0:4", coder_class),
     OBJC_METHOD("superclass", "#8@0:4", visible_superclass),
     OBJC_METHOD("class", "#8@0:4", visible_class),
     OBJC_METHOD("formerMethodForSelector:", "^?12@0:4:8", former_method)}};

MethodList<1> former_class_methods = {
    nullptr,
    1,
    {OBJC_METHOD("formerInstanceMethodForSelector:", "^?12@0:4:8",
                 former_instance_method)}};

struct objc_category former_category = {
    "ZelObjCFormer", "NSObject", OBJC_METHOD_LIST(former_instance_methods),
    OBJC_METHOD_LIST(former_class_methods), nullptr};

OBJC_MODULE_RECORD(method_module, 0, 1, &former_category);

} // namespace

OBJC_REGISTER_MODULE(method_module)

/* ====================== Exported functions ====================== */

/* ZelObjC_LookupMethod is in method.S: its usual hit, the selector in its
   home bucket, needs no frame at all, and everything else goes on in
   zel_lookup_rest. */

ZEL_EXPORT void ZelObjC_SetMultithreaded(void) noexcept {
  findNotFoundImp();
  zel_multithreaded = 1;
}

ZEL_EXPORT void zelObjC_FlushCaches(Class cls, SEL sel) noexcept {
  if (!cls)
    return;
  NXHashTable *classes = objc_getClasses();
  NXHashState state = NXInitHashState(classes);
  void *entry = nullptr;
  while (NXNextHashState(classes, &state, &entry)) {
    Class each = static_cast<Class>(entry);
    if (descends_from(each, cls)) {
      cache_flush(each, sel);
      cache_flush(each->isa, sel);
    }
  }
}
