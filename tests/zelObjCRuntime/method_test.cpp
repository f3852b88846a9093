/* Method lookup through the runtime's caches (probe, runtime fill, the
   record answered while a class initialises) and flushing one selector
   from the caches of a class family. */
#include <gtest/gtest.h>

#include "test_classes.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

using namespace objc_module_records;

namespace {

/* ---- LookupBase <- LookupMiddle <- LookupLeaf; LookupOther beside ---- */

int Base_m(id, SEL) { return 1; }
int Base_n(id, SEL) { return 10; }
int BaseClass_m(id, SEL) { return 100; }
int BaseClass_n(id, SEL) { return 1000; }
int Middle_m(id, SEL) { return 2; }
int Other_m(id, SEL) { return 3; }
int OtherClass_m(id, SEL) { return 300; }

MethodList<2> Base_imethods = {
    nullptr,
    2,
    {OBJC_DERIVED_METHOD("m", Base_m), OBJC_DERIVED_METHOD("n", Base_n)}};
MethodList<2> Base_cmethods = {nullptr,
                               2,
                               {OBJC_DERIVED_METHOD("m", BaseClass_m),
                                OBJC_DERIVED_METHOD("n", BaseClass_n)}};
MethodList<1> Middle_imethods = {
    nullptr, 1, {OBJC_DERIVED_METHOD("m", Middle_m)}};
MethodList<1> Other_imethods = {
    nullptr, 1, {OBJC_DERIVED_METHOD("m", Other_m)}};
MethodList<1> Other_cmethods = {
    nullptr, 1, {OBJC_DERIVED_METHOD("m", OtherClass_m)}};

OBJC_CLASS_RECORDS(Base_class, "LookupBase", "NSObject", 4, nullptr,
                   &Base_imethods, &Base_cmethods);
OBJC_CLASS_RECORDS(Middle_class, "LookupMiddle", "LookupBase", 4, nullptr,
                   &Middle_imethods, nullptr);
OBJC_CLASS_RECORDS(Leaf_class, "LookupLeaf", "LookupMiddle", 4, nullptr,
                   nullptr, nullptr);
OBJC_CLASS_RECORDS(Other_class, "LookupOther", "NSObject", 4, nullptr,
                   &Other_imethods, &Other_cmethods);

/* ---- LookupFresh: never messaged except by its own test ---- */

int Fresh_answer(id, SEL) { return 42; }
MethodList<1> Fresh_imethods = {
    nullptr, 1, {OBJC_DERIVED_METHOD("answer", Fresh_answer)}};
OBJC_CLASS_RECORDS(Fresh_class, "LookupFresh", "NSObject", 4, nullptr,
                   &Fresh_imethods, nullptr);

/* ---- LookupInit: looks itself up while it initialises ---- */

struct Seen {
  Method record;
  SEL name;
  std::string types;
  IMP imp;
};
std::vector<Seen> lookupsDuringInit;

void remember(Method record) {
  lookupsDuringInit.push_back(
      {record, record->method_name, record->method_types, record->method_imp});
}

int Init_answer(id, SEL) { return 7; }
void InitClass_touch(id, SEL) {}
void InitClass_initialize(id self, SEL) {
  Class me = reinterpret_cast<Class>(self);
  remember(ZelObjC_LookupMethod(me, sel("answer")));
  remember(ZelObjC_LookupMethod(me, sel("neverImplemented")));
  remember(ZelObjC_LookupMethod(me->isa, sel("touch")));
}

MethodList<1> Init_imethods = {
    nullptr, 1, {OBJC_DERIVED_METHOD("answer", Init_answer)}};
MethodList<2> Init_cmethods = {
    nullptr,
    2,
    {OBJC_DERIVED_METHOD("initialize", InitClass_initialize),
     OBJC_DERIVED_METHOD("touch", InitClass_touch)}};
OBJC_CLASS_RECORDS(Init_class, "LookupInit", "NSObject", 4, nullptr,
                   &Init_imethods, &Init_cmethods);

/* A cache record of N buckets, laid out as the runtime's. */
template <unsigned N> struct FakeCache {
  unsigned mask = N - 1;
  unsigned occupied = 0;
  Method buckets[N] = {};
  struct objc_cache *get() {
    return reinterpret_cast<struct objc_cache *>(this);
  }
};

unsigned bucketOf(SEL s, unsigned mask) {
  return static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(s)) & mask;
}

/* A selector whose first bucket is not 0 under the mask, so that a probe
   from it has to wrap. */
SEL selectorOffZero(unsigned mask) {
  for (int i = 0; i < 256; ++i) {
    SEL s = sel(("probe" + std::to_string(i)).c_str());
    if (bucketOf(s, mask) != 0)
      return s;
  }
  return nullptr;
}

/* ---- LookupFull: a full cache probed while the class initialises ---- */

FakeCache<8> fullCache;
struct objc_method blocker = {nullptr, "v8@0:4", nullptr};
Seen fullCacheLookup;

int Full_answer(id, SEL) { return 8; }
void FullClass_touch(id, SEL) {}
void FullClass_initialize(id self, SEL) {
  Class me = reinterpret_cast<Class>(self);
  blocker.method_name = sel("blocker");
  for (Method &bucket : fullCache.buckets)
    bucket = &blocker;
  fullCache.occupied = 8;
  struct objc_cache *own = me->cache;
  me->cache = fullCache.get();
  Method record = ZelObjC_LookupMethod(me, sel("answer"));
  me->cache = own;
  fullCacheLookup = {record, record->method_name, record->method_types,
                     record->method_imp};
}

MethodList<1> Full_imethods = {
    nullptr, 1, {OBJC_DERIVED_METHOD("answer", Full_answer)}};
MethodList<2> Full_cmethods = {
    nullptr,
    2,
    {OBJC_DERIVED_METHOD("initialize", FullClass_initialize),
     OBJC_DERIVED_METHOD("touch", FullClass_touch)}};
OBJC_CLASS_RECORDS(Full_class, "LookupFull", "NSObject", 4, nullptr,
                   &Full_imethods, &Full_cmethods);

OBJC_MODULE_RECORD(lookup_module, 7, 0, &Base_class, &Middle_class, &Leaf_class,
                   &Other_class, &Fresh_class, &Init_class, &Full_class);

} // namespace

OBJC_REGISTER_MODULE(lookup_module)
OBJC_LIBRARY_REGISTRATION()

namespace {

bool cached(Class c, SEL s) {
  struct objc_cache *cache = c->cache;
  if (!cache)
    return false;
  for (unsigned i = 0; i <= cache->mask; ++i)
    if (cache->buckets[i] && cache->buckets[i]->method_name == s)
      return true;
  return false;
}

/* Swaps a class's cache for the test's own and puts it back. */
class CacheSwap {
public:
  CacheSwap(Class c, struct objc_cache *replacement) : cls_(c), own_(c->cache) {
    c->cache = replacement;
  }
  ~CacheSwap() { cls_->cache = own_; }

private:
  Class cls_;
  struct objc_cache *own_;
};

/* ======================= Cache path ======================= */

TEST(LookupMethodCache, SharedEmptyCacheMissesThenRuntimeFillsIt) {
  Class fresh = cls("LookupFresh");
  ASSERT_EQ(fresh->cache, &_objc_empty_cache);

  Method record = ZelObjC_LookupMethod(fresh, sel("answer"));
  EXPECT_EQ(record->method_name, sel("answer"));
  EXPECT_STREQ(record->method_types, "i8@0:4");
  EXPECT_EQ(record->method_imp, objc_fn_cast<IMP>(Fresh_answer));
  EXPECT_NE(fresh->cache, &_objc_empty_cache);
  EXPECT_TRUE(cached(fresh, sel("answer")));
  EXPECT_EQ(_objc_empty_cache.mask, 0u);
  EXPECT_EQ(_objc_empty_cache.occupied, 0u);
  EXPECT_EQ(_objc_empty_cache.buckets[0], nullptr);
}

TEST(LookupMethodCache, HitAnswersTheRecordInTheCache) {
  Class other = cls("LookupOther");
  id object = class_createInstance(other, 0);
  ASSERT_EQ(objc_send<int>(object, "m"), 3);
  ASSERT_TRUE(cached(other, sel("m")));

  Method record = ZelObjC_LookupMethod(other, sel("m"));
  struct objc_cache *cache = other->cache;
  bool inBucket = false;
  for (unsigned i = 0; i <= cache->mask; ++i)
    inBucket = inBucket || cache->buckets[i] == record;
  EXPECT_TRUE(inBucket);
  EXPECT_EQ(record->method_imp, objc_fn_cast<IMP>(Other_m));
  EXPECT_EQ(ZelObjC_LookupMethod(other->isa, sel("m"))->method_imp,
            objc_fn_cast<IMP>(OtherClass_m));
  object_dispose(object);
}

TEST(LookupMethodCache, HitIsTheCachedRecordItselfNotTheMethodLists) {
  Class other = cls("LookupOther");
  objc_send<int>(other, "m"); /* initialised before the swap */
  struct objc_method planted = {sel("m"), "v8@0:4", nullptr};
  FakeCache<4> cache;
  cache.buckets[bucketOf(sel("m"), 3)] = &planted;
  cache.occupied = 1;
  CacheSwap swap(other, cache.get());
  EXPECT_EQ(ZelObjC_LookupMethod(other, sel("m")), &planted);
  EXPECT_EQ(other->cache, cache.get());
  EXPECT_EQ(cache.occupied, 1u);
}

TEST(LookupMethodCache, NullCacheCountsAsMiss) {
  Class other = cls("LookupOther");
  objc_send<int>(other, "m");
  CacheSwap swap(other, nullptr);
  Method record = ZelObjC_LookupMethod(other, sel("m"));
  EXPECT_EQ(record->method_imp, objc_fn_cast<IMP>(Other_m));
  EXPECT_STREQ(record->method_types, "i8@0:4");
}

TEST(LookupMethodCache, ProbeFollowsCollisionsWrapsAndReadsEveryBucket) {
  Class other = cls("LookupOther");
  objc_send<int>(other, "m");
  SEL target = selectorOffZero(255);
  ASSERT_NE(target, nullptr);
  struct objc_method collider = {sel("collider"), "v8@0:4", nullptr};
  struct objc_method wanted = {target, "v8@0:4", nullptr};
  auto *cache = new FakeCache<256>;
  for (Method &bucket : cache->buckets)
    bucket = &collider;
  unsigned last = (bucketOf(target, 255) - 1) & 255; /* probed last */
  cache->buckets[last] = &wanted;
  cache->occupied = 256;
  {
    CacheSwap swap(other, cache->get());
    EXPECT_EQ(ZelObjC_LookupMethod(other, target), &wanted);
    EXPECT_EQ(other->cache, cache->get()); /* no runtime call refilled it */
  }
  delete cache;
}

TEST(LookupMethodCache, FullCacheWithoutTheSelectorCountsAsMiss) {
  objc_send<void>(cls("LookupFull"), "touch");
  EXPECT_STREQ(fullCacheLookup.types.c_str(), "v8@8:12");
  EXPECT_EQ(fullCacheLookup.name, sel("answer"));
  EXPECT_EQ(fullCacheLookup.imp, objc_fn_cast<IMP>(Full_answer));
}

TEST(LookupMethodCache, MissesWhileInitialisingShareTheEmergencyRecord) {
  objc_send<void>(cls("LookupInit"), "touch");
  ASSERT_EQ(lookupsDuringInit.size(), 3u);
  const Seen &implemented = lookupsDuringInit[0];
  const Seen &missing = lookupsDuringInit[1];
  const Seen &classSide = lookupsDuringInit[2];

  EXPECT_EQ(implemented.name, sel("answer"));
  EXPECT_EQ(implemented.imp, objc_fn_cast<IMP>(Init_answer));
  EXPECT_EQ(implemented.types, "v8@8:12");

  EXPECT_EQ(missing.record, implemented.record);
  EXPECT_EQ(missing.name, sel("neverImplemented"));
  EXPECT_EQ(missing.imp, objc_fn_cast<IMP>(_objc_msgForward));
  EXPECT_EQ(missing.types, "v8@8:12");

  EXPECT_EQ(classSide.record, implemented.record);
  EXPECT_EQ(classSide.name, sel("touch"));
  EXPECT_EQ(classSide.imp, objc_fn_cast<IMP>(InitClass_touch));

  /* Initialised now: the runtime caches, and the cache answers. */
  Method later = ZelObjC_LookupMethod(cls("LookupInit"), sel("answer"));
  EXPECT_NE(later, implemented.record);
  EXPECT_STREQ(later->method_types, "i8@0:4");
}

TEST(LookupMethodCache, NullClassAnswersTheNotFoundRecord) {
  /* As the cache-free path does: nothing to look in, nothing to call. */
  Method first = ZelObjC_LookupMethod(Nil, sel("m"));
  EXPECT_EQ(first->method_name, sel("m"));
  EXPECT_STREQ(first->method_types, "");
  EXPECT_EQ(first->method_imp, objc_fn_cast<IMP>(_objc_msgForward));
  Method second = ZelObjC_LookupMethod(Nil, sel("n"));
  EXPECT_EQ(second, first);
  EXPECT_EQ(second->method_name, sel("n"));
  /* The cache path goes on as before. */
  EXPECT_EQ(ZelObjC_LookupMethod(cls("LookupOther"), sel("m"))->method_imp,
            objc_fn_cast<IMP>(Other_m));
}

/* ======================= Flushing ======================= */

const char *const family[] = {"LookupBase", "LookupMiddle", "LookupLeaf",
                              "LookupOther"};

/* Sends m and n to an instance and to the class of each, so that every
   cache of the family holds both. */
void warm() {
  for (const char *name : family) {
    Class c = cls(name);
    id object = class_createInstance(c, 0);
    objc_send<int>(object, "m");
    objc_send<int>(c, "m");
    if (class_getInstanceMethod(c, sel("n"))) {
      objc_send<int>(object, "n");
      objc_send<int>(c, "n");
    }
    object_dispose(object);
  }
}

std::map<Class, unsigned> occupancy() {
  std::map<Class, unsigned> counts;
  for (const char *name : family) {
    Class c = cls(name);
    counts[c] = c->cache->occupied;
    counts[c->isa] = c->isa->cache->occupied;
  }
  return counts;
}

void expectFlushed(Class c, const std::map<Class, unsigned> &before) {
  for (Class side : {c, c->isa}) {
    SCOPED_TRACE(side->name);
    EXPECT_FALSE(cached(side, sel("m")));
    EXPECT_TRUE(cached(side, sel("n")));
    EXPECT_EQ(side->cache->occupied, before.at(side) - 1);
  }
}

void expectKept(Class c, const std::map<Class, unsigned> &before) {
  for (Class side : {c, c->isa}) {
    SCOPED_TRACE(side->name);
    EXPECT_TRUE(cached(side, sel("m")));
    EXPECT_EQ(side->cache->occupied, before.at(side));
  }
}

TEST(FlushCaches, RemovesTheSelectorFromClassSubclassesAndMetaclasses) {
  warm();
  auto before = occupancy();
  zelObjC_FlushCaches(cls("LookupBase"), sel("m"));
  expectFlushed(cls("LookupBase"), before);
  expectFlushed(cls("LookupMiddle"), before);
  expectFlushed(cls("LookupLeaf"), before);
  expectKept(cls("LookupOther"), before);

  /* The next message goes back to the method lists. */
  id leaf = class_createInstance(cls("LookupLeaf"), 0);
  EXPECT_EQ(objc_send<int>(leaf, "m"), 2);
  EXPECT_EQ(objc_send<int>(cls("LookupLeaf"), "m"), 100);
  EXPECT_TRUE(cached(cls("LookupLeaf"), sel("m")));
  object_dispose(leaf);
}

TEST(FlushCaches, MetaclassTargetFlushesTheSameCaches) {
  warm();
  auto before = occupancy();
  zelObjC_FlushCaches(cls("LookupMiddle")->isa, sel("m"));
  expectKept(cls("LookupBase"), before);
  expectFlushed(cls("LookupMiddle"), before);
  expectFlushed(cls("LookupLeaf"), before);
  expectKept(cls("LookupOther"), before);
}

TEST(FlushCaches, NullCacheIsSkippedWhileSubclassesAreFlushed) {
  warm();
  auto before = occupancy();
  Class middle = cls("LookupMiddle");
  {
    CacheSwap swap(middle, nullptr);
    zelObjC_FlushCaches(cls("LookupBase"), sel("m"));
  }
  expectFlushed(cls("LookupBase"), before);
  EXPECT_TRUE(cached(middle, sel("m")));
  EXPECT_EQ(middle->cache->occupied, before.at(middle));
  expectFlushed(cls("LookupLeaf"), before);
}

TEST(FlushCaches, NullClassOrUncachedSelectorChangesNothing) {
  warm();
  auto before = occupancy();
  zelObjC_FlushCaches(nullptr, sel("m"));
  zelObjC_FlushCaches(cls("LookupBase"), sel("neverSent"));
  for (const char *name : family)
    expectKept(cls(name), before);
}

} // namespace
