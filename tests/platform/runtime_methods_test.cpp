// Method lists (newest first, growth, removal), method caches (fill, probe,
// growth, forwarding records, flushing) and +initialize.
#include <objc/objc-load.h>
#include <objc/objc-send.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

using namespace objc_module_records;

namespace {

std::vector<std::string> initialized;
unsigned cacheSeenInsideInitialize = ~0u;
unsigned instanceCacheSeenInsideInitialize = ~0u;
SEL lastUnrecognized;

id Root_new(id self, SEL) {
  return class_createInstance(reinterpret_cast<Class>(self), 0);
}
int Root_ping(id, SEL) { return 5; }
void Root_initialize(id self, SEL sel) {
  Class cls = reinterpret_cast<Class>(self);
  initialized.push_back(cls->name);
  if (std::string(cls->name) != "MthRoot")
    return;
  // Messages from inside +initialize run, but nothing is cached yet.
  EXPECT_EQ(objc_send<int>(self, "ping"), 5);
  EXPECT_EQ(objc_send<int>(self, "ping"), 5);
  _class_lookupMethodAndLoadCache(cls->isa, sel_registerName("ping"));
  cacheSeenInsideInitialize = cls->isa->cache->occupied;
  // Nor on the instance side.
  id instance = class_createInstance(cls, 0);
  EXPECT_EQ(objc_send<int>(instance, "value"), 1);
  instanceCacheSeenInsideInitialize = cls->cache->occupied;
  object_dispose(instance);
  (void)sel;
}
int Root_value(id, SEL) { return 1; }
void Root_notRecognized(id, SEL, SEL sel) { lastUnrecognized = sel; }
// Answers the number in its selector's name ("m17" answers 17).
int numbered(id, SEL sel) { return atoi(sel_getName(sel) + 1); }

MethodList<3> Root_cmethods = {
    nullptr,
    3,
    {OBJC_DERIVED_METHOD("new", Root_new),
     OBJC_DERIVED_METHOD("ping", Root_ping),
     OBJC_DERIVED_METHOD("initialize", Root_initialize)}};
MethodList<2> Root_imethods = {
    nullptr,
    2,
    {OBJC_DERIVED_METHOD("value", Root_value),
     OBJC_DERIVED_METHOD("doesNotRecognizeSelector:", Root_notRecognized)}};
struct objc_class Root_meta = {nullptr,   nullptr,
                               "MthRoot", 0,
                               CLS_META,  sizeof(struct objc_class),
                               nullptr,   OBJC_MODULE_METHODS(Root_cmethods),
                               nullptr,   nullptr};
struct objc_class Root_class = {
    &Root_meta, nullptr, "MthRoot", 0,
    CLS_CLASS,  4,       nullptr,   OBJC_MODULE_METHODS(Root_imethods),
    nullptr,    nullptr};
// The subclass inherits +initialize: it runs again for the subclass.
struct objc_class Sub_meta = {
    nullptr, nullptr, "MthSub", 0,      CLS_META, sizeof(struct objc_class),
    nullptr, nullptr, nullptr,  nullptr};
struct objc_class Sub_class = {&Sub_meta, OBJC_SUPER_NAME("MthRoot"),
                               "MthSub",  0,
                               CLS_CLASS, 4,
                               nullptr,   nullptr,
                               nullptr,   nullptr};
struct objc_class Leaf_meta = {
    nullptr, nullptr, "MthLeaf", 0,      CLS_META, sizeof(struct objc_class),
    nullptr, nullptr, nullptr,   nullptr};
struct objc_class Leaf_class = {&Leaf_meta, OBJC_SUPER_NAME("MthSub"),
                                "MthLeaf",  0,
                                CLS_CLASS,  4,
                                nullptr,    nullptr,
                                nullptr,    nullptr};
OBJC_MODULE_RECORD(module, 3, 0, &Root_class, &Sub_class, &Leaf_class);

/* The probe every cache reader does: from sel & mask to the first empty
   bucket. */
Method probe(Class cls, SEL sel) {
  struct objc_cache *cache = cls->cache;
  unsigned i = reinterpret_cast<uintptr_t>(sel) & cache->mask;
  for (unsigned n = 0; n <= cache->mask && cache->buckets[i]; ++n) {
    if (cache->buckets[i]->method_name == sel)
      return cache->buckets[i];
    i = (i + 1) & cache->mask;
  }
  return nullptr;
}

unsigned emptyBuckets(struct objc_cache *cache) {
  unsigned n = 0;
  for (unsigned i = 0; i <= cache->mask; ++i)
    n += cache->buckets[i] == nullptr;
  return n;
}

/* A method list of count methods m<first>.. m<first+count-1>. */
struct objc_method_list *numberedList(int first, int count) {
  size_t size = sizeof(struct objc_method_list) +
                (count - 1) * sizeof(struct objc_method);
  auto *list = static_cast<struct objc_method_list *>(calloc(1, size));
  list->method_count = count;
  for (int i = 0; i < count; ++i) {
    std::string name = "m" + std::to_string(first + i);
    list->method_list[i] =
        OBJC_DERIVED_METHOD(sel_registerName(name.c_str()), numbered);
  }
  return list;
}

std::vector<struct objc_method_list *> listsOf(Class cls) {
  std::vector<struct objc_method_list *> lists;
  void *it = nullptr;
  while (struct objc_method_list *l = class_nextMethodList(cls, &it))
    lists.push_back(l);
  return lists;
}

TEST(Initialize, RunsOnceSuperclassFirstAndCachesNothingBefore) {
  EXPECT_FALSE(Root_meta.info & CLS_INITIALIZED);
  // Looking at method lists does not initialise.
  EXPECT_NE(class_getClassMethod(&Sub_class, sel_registerName("ping")),
            nullptr);
  EXPECT_TRUE(initialized.empty());

  id obj = objc_send(&Sub_class, "new");
  ASSERT_NE(obj, nil);
  EXPECT_EQ(initialized, (std::vector<std::string>{"MthRoot", "MthSub"}));
  EXPECT_EQ(cacheSeenInsideInitialize, 0u);
  EXPECT_EQ(instanceCacheSeenInsideInitialize, 0u);
  EXPECT_TRUE(Root_meta.info & CLS_INITIALIZED);
  EXPECT_TRUE(Sub_meta.info & CLS_INITIALIZED);
  EXPECT_FALSE(Leaf_meta.info & CLS_INITIALIZED);

  objc_send(&Sub_class, "ping");
  objc_send(&Root_class, "ping");
  objc_send<int>(obj, "value");
  EXPECT_EQ(initialized.size(), 2u);
  EXPECT_NE(probe(&Root_meta, sel_registerName("ping")), nullptr);
  EXPECT_NE(probe(&Sub_class, sel_registerName("value")), nullptr);

  // An instance message initialises too.
  id leaf = class_createInstance(&Leaf_class, 0);
  EXPECT_EQ(objc_send<int>(leaf, "value"), 1);
  EXPECT_EQ(initialized.back(), "MthLeaf");
  object_dispose(leaf);
  object_dispose(obj);
}

TEST(MethodLists, NewestFirstGrowthAndRemoval) {
  std::vector<struct objc_method_list *> added;
  for (int i = 0; i < 12; ++i) { // beyond any initial array size
    added.push_back(numberedList(100 * i, 1));
    added.back()->method_list[0].method_name = sel_registerName("value");
    class_addMethods(&Sub_class, added.back());
  }
  std::vector<struct objc_method_list *> lists = listsOf(&Sub_class);
  ASSERT_EQ(lists.size(), 12u);
  for (int i = 0; i < 12; ++i)
    EXPECT_EQ(lists[i], added[11 - i]);
  int n = 0;
  while (Sub_class.methodLists[n] != END_OF_METHODS_LIST)
    ++n;
  EXPECT_GE(n, 12);

  id obj = class_createInstance(&Sub_class, 0);
  // "value" carries the numbered implementation; its name parses as 0.
  EXPECT_EQ(objc_send<int>(obj, "value"), 0);
  EXPECT_EQ(class_getInstanceMethod(&Sub_class, sel_registerName("value")),
            &added[11]->method_list[0]);

  class_removeMethods(&Sub_class, added[11]); // flushes the cached one
  EXPECT_EQ(class_getInstanceMethod(&Sub_class, sel_registerName("value")),
            &added[10]->method_list[0]);
  class_removeMethods(&Sub_class, added[5]);
  lists = listsOf(&Sub_class);
  ASSERT_EQ(lists.size(), 10u);
  EXPECT_EQ(lists[0], added[10]);
  EXPECT_EQ(lists[5], added[4]);
  for (struct objc_method_list *l : added)
    class_removeMethods(&Sub_class, l);
  EXPECT_TRUE(listsOf(&Sub_class).empty());
  EXPECT_EQ(objc_send<int>(obj, "value"), 1); // the superclass's again
  object_dispose(obj);
}

// A class made at run time starts with a fixed array of empty slots ended
// by the marker, allocated by its creator and freed by it again.
TEST(MethodLists, RuntimeClassArrayFillsItsSlotsThenGrows) {
  constexpr int slots = 15;
  static struct objc_class meta, cls;
  auto newArray = [] {
    auto **a = static_cast<struct objc_method_list **>(
        calloc(slots + 1, sizeof(struct objc_method_list *)));
    a[slots] = END_OF_METHODS_LIST;
    return a;
  };
  meta = {Root_meta.isa,
          &Root_meta,
          "MthMade",
          0,
          CLS_META | CLS_INITIALIZED,
          sizeof(struct objc_class),
          nullptr,
          newArray(),
          nullptr,
          nullptr};
  cls = {&meta, &Root_class, "MthMade",  0,       CLS_CLASS,
         4,     nullptr,     newArray(), nullptr, nullptr};
  objc_addClass(&cls);
  EXPECT_TRUE(listsOf(&cls).empty());
  struct objc_method_list **original = cls.methodLists;

  std::vector<struct objc_method_list *> added;
  for (int i = 0; i < slots + 3; ++i) {
    added.push_back(numberedList(1000 + i, 1));
    class_addMethods(&cls, added.back());
    if (i == slots - 1) { // every slot used, still the creator's array
      EXPECT_EQ(cls.methodLists, original);
    }
  }
  std::vector<struct objc_method_list *> lists = listsOf(&cls);
  ASSERT_EQ(lists.size(), added.size());
  for (size_t i = 0; i < added.size(); ++i)
    EXPECT_EQ(lists[i], added[added.size() - 1 - i]);
  id obj = class_createInstance(&cls, 0);
  EXPECT_EQ(objc_send<int>(obj, "m1000"), 1000);
  EXPECT_EQ(objc_send<int>(obj, "m1017"), 1017);
  EXPECT_EQ(objc_send<int>(obj, "value"), 1); // inherited
  object_dispose(obj);

  for (struct objc_method_list *l : added) {
    class_removeMethods(&cls, l);
    free(l);
  }
  EXPECT_TRUE(listsOf(&cls).empty());
  _objc_removeClass(&cls);
  // The grown array is still the creator's to free.
  free(cls.methodLists);
  free(meta.methodLists);
  if (cls.cache != &_objc_empty_cache)
    free(cls.cache);
}

TEST(MethodLists, LookupSearchesListsNeverCaches) {
  SEL value = sel_registerName("value");
  EXPECT_EQ(class_getInstanceMethod(&Leaf_class, value),
            &Root_imethods.method_list[0]);
  EXPECT_EQ(
      class_getClassMethod(&Leaf_class, sel_registerName("ping"))->method_name,
      sel_registerName("ping"));
  // A root metaclass inherits the root class's instance methods.
  EXPECT_NE(class_getClassMethod(&Leaf_class, value), nullptr);
  SEL unknown = sel_registerName("mthUnknown");
  _class_lookupMethodAndLoadCache(&Leaf_class, unknown);
  EXPECT_EQ(class_getInstanceMethod(&Leaf_class, unknown), nullptr);
  EXPECT_EQ(class_getInstanceMethod(nullptr, value), nullptr);
}

TEST(Caches, FillProbeAndGrowKeepingAnEmptyBucket) {
  Class cls = &Leaf_class;
  class_addMethods(cls, numberedList(0, 40));
  id obj = class_createInstance(cls, 0);
  for (int i = 0; i < 40; ++i) {
    std::string name = "m" + std::to_string(i);
    EXPECT_EQ(objc_send<int>(obj, name.c_str()), i);
    ASSERT_GE(emptyBuckets(cls->cache), 1u);
  }
  EXPECT_GE(cls->cache->mask + 1, 41u);
  unsigned filled = cls->cache->mask + 1 - emptyBuckets(cls->cache);
  EXPECT_EQ(cls->cache->occupied, filled);
  for (int i = 0; i < 40; ++i) {
    SEL sel = sel_registerName(("m" + std::to_string(i)).c_str());
    Method m = probe(cls, sel);
    ASSERT_NE(m, nullptr) << i;
    EXPECT_EQ(m, class_getInstanceMethod(cls, sel));
  }
  object_dispose(obj);
}

TEST(Caches, UnknownAndNullSelectorsCacheAForwardingRecord) {
  Class cls = &Leaf_class;
  id obj = class_createInstance(cls, 0);
  SEL unknown = sel_registerName("mthNothing:");
  lastUnrecognized = nullptr;
  objc_send(obj, unknown, 3);
  EXPECT_EQ(lastUnrecognized, unknown);
  Method record = probe(cls, unknown);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->method_name, unknown);
  IMP forward = _class_lookupMethodAndLoadCache(cls, unknown);
  EXPECT_EQ(record->method_imp, forward);
  EXPECT_EQ(probe(cls, unknown), record); // not cached twice over

  EXPECT_EQ(_class_lookupMethodAndLoadCache(cls, nullptr), forward);
  Method null = probe(cls, nullptr);
  ASSERT_NE(null, nullptr);
  EXPECT_EQ(null->method_name, nullptr);
  EXPECT_EQ(null->method_imp, forward);
  object_dispose(obj);
}

TEST(Caches, RepeatedLookupsKeepOneBucketPerSelector) {
  Class cls = &Leaf_class;
  SEL value = sel_registerName("value");
  SEL unknown = sel_registerName("mthRepeated");
  _class_lookupMethodAndLoadCache(cls, value);
  _class_lookupMethodAndLoadCache(cls, unknown);
  _class_lookupMethodAndLoadCache(cls, nullptr);
  struct objc_cache *cache = cls->cache;
  unsigned occupied = cache->occupied;
  for (int i = 0; i < 100; ++i) {
    _class_lookupMethodAndLoadCache(cls, value);
    _class_lookupMethodAndLoadCache(cls, unknown);
    _class_lookupMethodAndLoadCache(cls, nullptr);
  }
  EXPECT_EQ(cls->cache, cache);
  EXPECT_EQ(cache->occupied, occupied);
  unsigned held = 0;
  for (unsigned i = 0; i <= cache->mask; ++i)
    held += cache->buckets[i] && cache->buckets[i]->method_name == value;
  EXPECT_EQ(held, 1u);
}

TEST(Caches, ClassWithoutACacheGetsOneAtItsFirstLookup) {
  static struct objc_class meta, cls;
  meta = {Root_meta.isa,
          &Root_meta,
          "MthUncached",
          0,
          CLS_META | CLS_INITIALIZED,
          sizeof(struct objc_class),
          nullptr,
          nullptr,
          nullptr,
          nullptr};
  cls = {&meta, &Root_class, "MthUncached", 0,       CLS_CLASS,
         4,     nullptr,     nullptr,       nullptr, nullptr};
  SEL value = sel_registerName("value");
  EXPECT_NE(_class_lookupMethodAndLoadCache(&cls, value), nullptr);
  ASSERT_NE(cls.cache, nullptr);
  EXPECT_EQ(probe(&cls, value), &Root_imethods.method_list[0]);
  // A message finds the null cache too.
  EXPECT_EQ(objc_send<int>(reinterpret_cast<id>(&cls), "ping"), 5);
  EXPECT_NE(meta.cache, nullptr);
}

TEST(Caches, FlushReachesSubclassesAndBothSides) {
  id leaf = class_createInstance(&Leaf_class, 0);
  id root = class_createInstance(&Root_class, 0);
  objc_send<int>(leaf, "value");
  objc_send<int>(root, "value");
  objc_send<int>(&Leaf_class, "ping");
  SEL value = sel_registerName("value");
  ASSERT_NE(probe(&Leaf_class, value), nullptr);
  ASSERT_NE(probe(&Leaf_meta, sel_registerName("ping")), nullptr);
  _objc_flush_caches(&Sub_class);
  EXPECT_EQ(probe(&Leaf_class, value), nullptr);
  EXPECT_EQ(probe(&Leaf_meta, sel_registerName("ping")), nullptr);
  EXPECT_EQ(Leaf_class.cache->occupied, 0u);
  EXPECT_NE(probe(&Root_class, value), nullptr); // the superclass keeps it
  EXPECT_EQ(objc_send<int>(leaf, "value"), 1);
  object_dispose(leaf);
  object_dispose(root);
}

} // namespace

OBJC_REGISTER_MODULE(module)
OBJC_LIBRARY_REGISTRATION()
