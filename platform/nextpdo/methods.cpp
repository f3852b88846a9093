/* Method lists, method caches, the lookup behind every message, class
   initialisation and the forwarding of unrecognised messages. */
#include "runtime.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_map>
#include <vector>

namespace {

/* Slots of a new method-list array, not counting the end marker. */
constexpr size_t initialListSlots = 4;
/* Buckets of a class's first real cache. */
constexpr unsigned initialBuckets = 4;

bool endsLists(struct objc_method_list *list) {
  return !list || list == END_OF_METHODS_LIST;
}

size_t usedSlots(struct objc_method_list **lists) {
  size_t n = 0;
  while (!endsLists(lists[n]))
    ++n;
  return n;
}

size_t slotCapacity(struct objc_method_list **lists) {
  size_t n = 0;
  while (lists[n] != END_OF_METHODS_LIST)
    ++n;
  return n;
}

/* Arrays grow in the zone they came from: every zone is the C heap, so
   the grown array stays freeable as the class's creator allocated it. */
struct objc_method_list **allocListArray(struct objc_method_list **old,
                                         size_t slots) {
  void *block = realloc(old, (slots + 1) * sizeof(struct objc_method_list *));
  if (!block)
    abort();
  return static_cast<struct objc_method_list **>(block);
}

/* Doubles the slots of a full array; the new slots are empty. */
struct objc_method_list **growListArray(struct objc_method_list **lists,
                                        size_t slots) {
  size_t grown = slots ? slots * 2 : initialListSlots;
  lists = allocListArray(lists, grown);
  std::fill(lists + slots, lists + grown, nullptr);
  lists[grown] = END_OF_METHODS_LIST;
  return lists;
}

Method findInList(struct objc_method_list *list, SEL sel) {
  for (int i = 0; i < list->method_count; ++i)
    if (list->method_list[i].method_name == sel)
      return &list->method_list[i];
  return nullptr;
}

Method findInClass(Class cls, SEL sel) {
  struct objc_method_list **lists = cls->methodLists;
  if (!lists)
    return nullptr;
  for (; !endsLists(*lists); ++lists)
    if (Method m = findInList(*lists, sel))
      return m;
  return nullptr;
}

/* ---- caches ---- */

bool isRealCache(struct objc_cache *cache) {
  return cache && cache != &_objc_empty_cache;
}

struct objc_cache *newCache(unsigned buckets) {
  size_t size = offsetof(struct objc_cache, buckets) + buckets * sizeof(Method);
  auto *cache = static_cast<struct objc_cache *>(calloc(1, size));
  if (!cache)
    abort();
  cache->mask = buckets - 1;
  return cache;
}

void placeInCache(struct objc_cache *cache, Method m) {
  unsigned index = reinterpret_cast<uintptr_t>(m->method_name) & cache->mask;
  while (cache->buckets[index])
    index = (index + 1) & cache->mask;
  cache->buckets[index] = m;
  ++cache->occupied;
}

/* A larger cache with the same records. The old one is left allocated:
   another thread may still be probing it. */
struct objc_cache *grownCache(struct objc_cache *old) {
  if (!isRealCache(old))
    return newCache(initialBuckets);
  struct objc_cache *cache = newCache((old->mask + 1) * 2);
  for (unsigned i = 0; i <= old->mask; ++i)
    if (old->buckets[i])
      placeInCache(cache, old->buckets[i]);
  return cache;
}

/* Keeps a quarter of the buckets (one at least) empty, so that every
   probe ends. */
bool cacheHasRoom(struct objc_cache *cache) {
  return isRealCache(cache) &&
         (cache->occupied + 1) * 4 <= (cache->mask + 1) * 3;
}

/* The bucket on sel's probe run that holds a record for sel, or null. */
Method *slotHolding(struct objc_cache *cache, SEL sel) {
  if (!cache)
    return nullptr;
  unsigned index = reinterpret_cast<uintptr_t>(sel) & cache->mask;
  for (; cache->buckets[index]; index = (index + 1) & cache->mask)
    if (cache->buckets[index]->method_name == sel)
      return &cache->buckets[index];
  return nullptr;
}

/* A selector already cached keeps its one bucket: repeated lookups must
   not fill the cache with copies. */
void fillCache(Class cls, Method m) {
  if (Method *slot = slotHolding(cls->cache, m->method_name)) {
    *slot = m;
    return;
  }
  if (!cacheHasRoom(cls->cache))
    cls->cache = grownCache(cls->cache);
  placeInCache(cls->cache, m);
}

void emptyCache(Class cls) {
  struct objc_cache *cache = cls->cache;
  if (!isRealCache(cache))
    return;
  std::fill(cache->buckets, cache->buckets + cache->mask + 1, nullptr);
  cache->occupied = 0;
}

bool inheritsFrom(Class cls, Class target) {
  for (Class c = cls; c; c = c->super_class)
    if (c == target || c->isa == target)
      return true;
  return false;
}

void flushCachesUnlocked(Class cls) {
  emptyCache(cls);
  if (cls->isa)
    emptyCache(cls->isa);
  NXHashTable *table = objc_getClasses();
  NXHashState state = NXInitHashState(table);
  void *data;
  while (NXNextHashState(table, &state, &data)) {
    Class each = static_cast<Class>(data);
    if (!inheritsFrom(each, cls))
      continue;
    emptyCache(each);
    emptyCache(each->isa);
  }
}

/* ---- forwarding records ---- */

/* One record per selector that nothing implements, shared by every class
   that caches it; records are never freed, callers may keep them. */
Method forwardingRecord(SEL sel) {
  static auto *records = new std::unordered_map<SEL, Method>;
  Method &record = (*records)[sel];
  if (!record) {
    record = static_cast<Method>(malloc(sizeof(struct objc_method)));
    if (!record)
      abort();
    record->method_name = sel;
    record->method_types = "v8@0:4";
    record->method_imp = nextpdo_msgForward;
  }
  return record;
}

/* ---- initialisation ---- */

std::vector<Class> &initializing() {
  static auto *classes = new std::vector<Class>;
  return *classes;
}

bool isInitialized(Class cls) {
  return cls->isa && (cls->isa->info & CLS_INITIALIZED);
}

bool isInitializing(Class cls) {
  auto &v = initializing();
  return std::find(v.begin(), v.end(), cls) != v.end();
}

/* Runs +initialize once per class, superclasses first. Messages to the
   class from inside its own +initialize find it initialising and run
   uncached. */
void initializeClass(Class cls) {
  if (!cls->isa || isInitialized(cls) || isInitializing(cls))
    return;
  if (cls->super_class)
    initializeClass(cls->super_class);
  initializing().push_back(cls);
  SEL initialize = sel_registerName("initialize");
  if (Method m = nextpdo::findMethod(cls->isa, initialize))
    m->method_imp(reinterpret_cast<id>(cls), initialize);
  cls->isa->info |= CLS_INITIALIZED;
  auto &v = initializing();
  v.erase(std::find(v.begin(), v.end(), cls));
}

/* The class whose initialisation governs messages looked up in cls. */
Class classForLookup(Class cls) {
  return nextpdo::isMeta(cls) ? nextpdo::classOfMeta(cls) : cls;
}

} // namespace

namespace nextpdo {

struct objc_method_list **
newMethodListArray(struct objc_method_list *first) noexcept {
  struct objc_method_list **lists = growListArray(nullptr, 0);
  lists[0] = first;
  return lists;
}

void uniqueSelectors(struct objc_method_list *list) noexcept {
  if (!list)
    return;
  for (int i = 0; i < list->method_count; ++i) {
    struct objc_method &m = list->method_list[i];
    m.method_name =
        sel_registerName(reinterpret_cast<const char *>(m.method_name));
  }
}

void addMethodsUnlocked(Class cls, struct objc_method_list *list) noexcept {
  struct objc_method_list **lists = cls->methodLists;
  if (!lists)
    lists = growListArray(nullptr, 0);
  size_t used = usedSlots(lists);
  size_t slots = slotCapacity(lists);
  if (used == slots)
    lists = growListArray(lists, slots);
  memmove(lists + 1, lists, used * sizeof *lists);
  lists[0] = list;
  cls->methodLists = lists;
  flushCachesUnlocked(cls);
}

Method findMethod(Class cls, SEL sel) noexcept {
  for (Class c = cls; c; c = c->super_class)
    if (Method m = findInClass(c, sel))
      return m;
  return nullptr;
}

} // namespace nextpdo

extern "C" {

OBJC_EXPORT struct objc_cache _objc_empty_cache = {0, 0, {nullptr}};

IMP nextpdo_lookup(Class cls, SEL sel) noexcept {
  if (!cls)
    return nextpdo_msgForward;
  nextpdo::lock();
  Class governing = classForLookup(cls);
  if (governing)
    initializeClass(governing);
  Method m = sel ? nextpdo::findMethod(cls, sel) : nullptr;
  if (!m)
    m = forwardingRecord(sel);
  if (!governing || isInitialized(governing))
    fillCache(cls, m);
  IMP imp = m->method_imp;
  nextpdo::unlock();
  return imp;
}

id nextpdo_forward(id self, SEL op) noexcept {
  SEL report = sel_registerName("doesNotRecognizeSelector:");
  Class cls = self ? self->isa : Nil;
  Method m = cls && op != report ? nextpdo::findMethod(cls, report) : nullptr;
  if (m) {
    using Report = id (*)(id, SEL, SEL);
    reinterpret_cast<Report>(m->method_imp)(self, report, op);
    return nil;
  }
  const char *name = cls && cls->name ? cls->name : "nil";
  char kind = cls && nextpdo::isMeta(cls) ? '+' : '-';
  fprintf(stderr, "%c[%s %s]: unrecognized selector\n", kind, name,
          op ? sel_getName(op) : "(null)");
  abort();
}

OBJC_EXPORT IMP _class_lookupMethodAndLoadCache(Class cls, SEL sel) noexcept {
  return nextpdo_lookup(cls, sel);
}

OBJC_EXPORT void _objc_flush_caches(Class cls) noexcept {
  if (!cls)
    return;
  nextpdo::lock();
  flushCachesUnlocked(cls);
  nextpdo::unlock();
}

OBJC_EXPORT void class_addMethods(Class cls,
                                  struct objc_method_list *list) noexcept {
  if (!cls || !list)
    return;
  nextpdo::lock();
  nextpdo::addMethodsUnlocked(cls, list);
  nextpdo::unlock();
}

OBJC_EXPORT void class_removeMethods(Class cls,
                                     struct objc_method_list *list) noexcept {
  if (!cls || !list || !cls->methodLists)
    return;
  nextpdo::lock();
  struct objc_method_list **lists = cls->methodLists;
  size_t used = usedSlots(lists);
  auto found = std::find(lists, lists + used, list);
  if (found != lists + used) {
    std::copy(found + 1, lists + used, found);
    lists[used - 1] = nullptr;
    flushCachesUnlocked(cls);
  }
  nextpdo::unlock();
}

OBJC_EXPORT struct objc_method_list *
class_nextMethodList(Class cls, void **iterator) noexcept {
  if (!cls || !iterator || !cls->methodLists)
    return nullptr;
  auto **slot = *iterator ? static_cast<struct objc_method_list **>(*iterator)
                          : cls->methodLists;
  if (endsLists(*slot))
    return nullptr;
  *iterator = slot + 1;
  return *slot;
}

OBJC_EXPORT Method class_getInstanceMethod(Class cls, SEL sel) noexcept {
  if (!cls || !sel)
    return nullptr;
  nextpdo::lock();
  Method m = nextpdo::findMethod(cls, sel);
  nextpdo::unlock();
  return m;
}

OBJC_EXPORT Method class_getClassMethod(Class cls, SEL sel) noexcept {
  return cls ? class_getInstanceMethod(cls->isa, sel) : nullptr;
}

OBJC_EXPORT Ivar class_getInstanceVariable(Class cls,
                                           const char *name) noexcept {
  if (!name)
    return nullptr;
  for (Class c = cls; c; c = c->super_class) {
    struct objc_ivar_list *ivars = c->ivars;
    for (int i = 0; ivars && i < ivars->ivar_count; ++i)
      if (ivars->ivar_list[i].ivar_name &&
          strcmp(ivars->ivar_list[i].ivar_name, name) == 0)
        return &ivars->ivar_list[i];
  }
  return nullptr;
}

OBJC_EXPORT Class object_getClass(id obj) noexcept {
  return obj ? obj->isa : Nil;
}

OBJC_EXPORT const char *class_getName(Class cls) noexcept {
  return cls ? cls->name : nullptr;
}

} // extern "C"
