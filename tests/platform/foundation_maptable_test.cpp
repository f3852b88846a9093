// Map tables with each standard callback record and with records of the
// caller's own: lookups by equal keys, replacement and removal releases,
// enumeration, growth, and inserts that allocate nothing once grown.
#include <Foundation/Foundation.h>
#include <objc/objc-load.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

OBJC_LIBRARY_REGISTRATION()

#include "support/allocation_counter.h"

namespace {

class Pool : public ::testing::Test {
protected:
  void SetUp() override {
    pool = objc_send(objc_send_class("NSAutoreleasePool", "alloc"), "init");
  }
  void TearDown() override { objc_send<void>(pool, "release"); }
  id pool = nil;
};

id newString(const char *text) {
  return objc_send(objc_send_class("NSString", "alloc"),
                   "initWithCString:", text);
}

unsigned retainCount(id obj) { return objc_send<unsigned>(obj, "retainCount"); }

void *key(uintptr_t n) { return reinterpret_cast<void *>(n); }

// ---- object keys and values ----

using ObjectMapTable = Pool;

TEST_F(ObjectMapTable, FindsKeysByAnEqualObjectMadeSeparately) {
  NSMapTable *table =
      NSCreateMapTable(NSObjectMapKeyCallBacks, NSObjectMapValueCallBacks, 16);
  id stored = newString("alpha");
  id value = newString("first");
  NSMapInsert(table, stored, value);
  id probe = newString("alpha");
  EXPECT_EQ(NSMapGet(table, probe), value);
  EXPECT_EQ(NSMapGet(table, NSSTR("alpha")), value);
  EXPECT_EQ(NSMapGet(table, NSSTR("beta")), nullptr);
  NSFreeMapTable(table);
  for (id obj : {stored, value, probe})
    objc_send<void>(obj, "release");
}

TEST_F(ObjectMapTable, RetainsWhileStoredAndReleasesOnFree) {
  NSMapTable *table =
      NSCreateMapTable(NSObjectMapKeyCallBacks, NSObjectMapValueCallBacks, 16);
  id k = newString("k");
  id v = newString("v");
  NSMapInsert(table, k, v);
  EXPECT_EQ(retainCount(k), 2u);
  EXPECT_EQ(retainCount(v), 2u);
  NSFreeMapTable(table);
  EXPECT_EQ(retainCount(k), 1u);
  EXPECT_EQ(retainCount(v), 1u);
  objc_send<void>(k, "release");
  objc_send<void>(v, "release");
}

TEST_F(ObjectMapTable, EqualKeyTakesNewPairAndReleasesTheOldOnes) {
  NSMapTable *table =
      NSCreateMapTable(NSObjectMapKeyCallBacks, NSObjectMapValueCallBacks, 16);
  id oldKey = newString("name");
  id oldValue = newString("old");
  id newKey = newString("name");
  id newValue = newString("new");
  NSMapInsert(table, oldKey, oldValue);
  NSMapInsert(table, newKey, newValue);
  EXPECT_EQ(NSCountMapTable(table), 1u);
  EXPECT_EQ(retainCount(oldKey), 1u);
  EXPECT_EQ(retainCount(oldValue), 1u);
  EXPECT_EQ(retainCount(newKey), 2u);
  EXPECT_EQ(retainCount(newValue), 2u);
  void *storedKey = nullptr;
  NSMapEnumerator e = NSEnumerateMapTable(table);
  ASSERT_TRUE(NSNextMapEnumeratorPair(&e, &storedKey, nullptr));
  EXPECT_EQ(storedKey, newKey);

  // The same key and value again: nothing more is retained.
  NSMapInsert(table, newKey, newValue);
  EXPECT_EQ(retainCount(newKey), 2u);
  EXPECT_EQ(retainCount(newValue), 2u);
  NSFreeMapTable(table);
  for (id obj : {oldKey, oldValue, newKey, newValue})
    EXPECT_EQ(retainCount(obj), 1u);
  for (id obj : {oldKey, oldValue, newKey, newValue})
    objc_send<void>(obj, "release");
}

TEST_F(ObjectMapTable, RemoveReleasesKeyAndValue) {
  NSMapTable *table =
      NSCreateMapTable(NSObjectMapKeyCallBacks, NSObjectMapValueCallBacks, 16);
  id k = newString("k");
  id v = newString("v");
  NSMapInsert(table, k, v);
  NSMapRemove(table, NSSTR("k"));
  EXPECT_EQ(NSCountMapTable(table), 0u);
  EXPECT_EQ(NSMapGet(table, k), nullptr);
  EXPECT_EQ(retainCount(k), 1u);
  EXPECT_EQ(retainCount(v), 1u);
  NSMapRemove(table, NSSTR("absent"));
  NSFreeMapTable(table);
  objc_send<void>(k, "release");
  objc_send<void>(v, "release");
}

// ---- pointer keys and values ----

TEST(PointerMapTable, ComparesByAddressAndOwnsNothing) {
  NSMapTable *table = NSCreateMapTable(NSNonOwnedPointerMapKeyCallBacks,
                                       NSNonOwnedPointerMapValueCallBacks, 4);
  char a[] = "same", b[] = "same";
  NSMapInsert(table, a, key(1));
  EXPECT_EQ(NSMapGet(table, a), key(1));
  EXPECT_EQ(NSMapGet(table, b), nullptr);
  NSMapInsert(table, a, key(2));
  EXPECT_EQ(NSMapGet(table, a), key(2));
  EXPECT_EQ(NSCountMapTable(table), 1u);
  NSFreeMapTable(table);
}

TEST(PointerMapTable, RefusesTheNoKeyMarker) {
  id pool = objc_send(objc_send_class("NSAutoreleasePool", "alloc"), "init");
  NSMapTable *table = NSCreateMapTable(NSNonOwnedPointerMapKeyCallBacks,
                                       NSNonOwnedPointerMapValueCallBacks, 4);
  volatile bool raised = false;
  NS_DURING
  NSMapInsert(table, nullptr, key(1));
  NS_HANDLER
  raised = true;
  EXPECT_STREQ(
      objc_send<const char *>(objc_send(localException, "name"), "cString"),
      "NSInvalidArgumentException");
  NS_ENDHANDLER
  EXPECT_TRUE(raised);
  EXPECT_EQ(NSCountMapTable(table), 0u);
  NSFreeMapTable(table);
  objc_send<void>(pool, "release");
}

TEST(PointerMapTable, GrowsAndKeepsEveryPair) {
  NSMapTable *table = NSCreateMapTable(NSNonOwnedPointerMapKeyCallBacks,
                                       NSNonOwnedPointerMapValueCallBacks, 0);
  const uintptr_t n = 20000;
  for (uintptr_t i = 1; i <= n; i++)
    NSMapInsert(table, key(i * 4), key(i));
  EXPECT_EQ(NSCountMapTable(table), n);
  for (uintptr_t i = 1; i <= n; i++)
    ASSERT_EQ(NSMapGet(table, key(i * 4)), key(i)) << i;
  for (uintptr_t i = 1; i <= n; i += 2)
    NSMapRemove(table, key(i * 4));
  EXPECT_EQ(NSCountMapTable(table), n / 2);
  for (uintptr_t i = 1; i <= n; i++)
    ASSERT_EQ(NSMapGet(table, key(i * 4)), i % 2 ? nullptr : key(i)) << i;
  NSFreeMapTable(table);
}

TEST(PointerMapTable, EnumerationSeesEachPairOnce) {
  NSMapTable *table = NSCreateMapTable(NSNonOwnedPointerMapKeyCallBacks,
                                       NSNonOwnedPointerMapValueCallBacks, 8);
  for (uintptr_t i = 1; i <= 500; i++)
    NSMapInsert(table, key(i), key(i + 1000));
  NSMapRemove(table, key(7));
  std::set<uintptr_t> seen;
  NSMapEnumerator e = NSEnumerateMapTable(table);
  void *k, *v;
  while (NSNextMapEnumeratorPair(&e, &k, &v)) {
    auto n = reinterpret_cast<uintptr_t>(k);
    EXPECT_TRUE(seen.insert(n).second) << "twice: " << n;
    EXPECT_EQ(reinterpret_cast<uintptr_t>(v), n + 1000);
  }
  EXPECT_EQ(seen.size(), 499u);
  EXPECT_EQ(seen.count(7), 0u);
  EXPECT_FALSE(NSNextMapEnumeratorPair(&e, &k, &v));
  NSFreeMapTable(table);
}

TEST(PointerMapTable, EmptyAndNullTables) {
  NSMapTable *table = NSCreateMapTable(NSNonOwnedPointerMapKeyCallBacks,
                                       NSNonOwnedPointerMapValueCallBacks, 0);
  NSMapEnumerator e = NSEnumerateMapTable(table);
  EXPECT_FALSE(NSNextMapEnumeratorPair(&e, nullptr, nullptr));
  NSFreeMapTable(table);
  EXPECT_EQ(NSMapGet(nullptr, key(1)), nullptr);
  EXPECT_EQ(NSCountMapTable(nullptr), 0u);
}

#ifdef ZEL_COUNTS_ALLOCATIONS
TEST(PointerMapTable, InsertsWithinCapacityAllocateNothing) {
  NSMapTable *table =
      NSCreateMapTable(NSNonOwnedPointerMapKeyCallBacks,
                       NSNonOwnedPointerMapValueCallBacks, 1000);
  startCountingAllocations();
  for (uintptr_t i = 1; i <= 1000; i++)
    NSMapInsert(table, key(i), key(i));
  EXPECT_EQ(stopCountingAllocations(), 0u);

  // Once grown, the next inserts up to the new size allocate nothing.
  unsigned long growths = 0;
  for (uintptr_t i = 1001; i <= 4000; i++) {
    startCountingAllocations();
    NSMapInsert(table, key(i), key(i));
    growths += stopCountingAllocations();
  }
  EXPECT_LE(growths, 3u); // doubling: a handful of rebuilds, not one per pair
  NSFreeMapTable(table);
}
#endif

// ---- callbacks of the caller's own: owned C strings ----

int releasedKeys = 0;
int releasedValues = 0;

unsigned hashText(NSMapTable *, const void *k) {
  unsigned h = 0;
  for (const char *p = static_cast<const char *>(k); *p; p++)
    h = h * 31 + static_cast<unsigned char>(*p);
  return h;
}
BOOL sameText(NSMapTable *, const void *a, const void *b) {
  return strcmp(static_cast<const char *>(a), static_cast<const char *>(b))
             ? NO
             : YES;
}
void freeKey(NSMapTable *, void *k) {
  releasedKeys++;
  free(k);
}
void freeValue(NSMapTable *, void *v) {
  releasedValues++;
  free(v);
}

const NSMapTableKeyCallBacks textKeys = {hashText, sameText, nullptr,
                                         freeKey,  nullptr,  nullptr};
const NSMapTableValueCallBacks textValues = {nullptr, freeValue, nullptr};

TEST(OwnedTextMapTable, ReplacementAndRemovalFreeWhatLeaves) {
  releasedKeys = releasedValues = 0;
  NSMapTable *table = NSCreateMapTable(textKeys, textValues, 256);
  NSMapInsert(table, strdup("name"), strdup("first"));
  NSMapInsert(table, strdup("name"), strdup("second"));
  EXPECT_EQ(releasedKeys, 1);
  EXPECT_EQ(releasedValues, 1);
  EXPECT_STREQ(static_cast<char *>(NSMapGet(table, "name")), "second");
  NSMapInsert(table, strdup("other"), strdup("x"));
  NSMapRemove(table, "other");
  EXPECT_EQ(releasedKeys, 2);
  EXPECT_EQ(releasedValues, 2);
  NSFreeMapTable(table);
  EXPECT_EQ(releasedKeys, 3);
  EXPECT_EQ(releasedValues, 3);
}

} // namespace

// ---- probe chains: every key on one chain ----

namespace {

unsigned sameHash(NSMapTable *, const void *) { return 7; }

const NSMapTableKeyCallBacks collidingKeys = {sameHash, nullptr, nullptr,
                                              nullptr,  nullptr, nullptr};

TEST(CollidingMapTable, RemovalsInsideAChainKeepTheKeysBehindThem) {
  NSMapTable *table =
      NSCreateMapTable(collidingKeys, NSNonOwnedPointerMapValueCallBacks, 16);
  for (uintptr_t i = 1; i <= 6; i++)
    NSMapInsert(table, key(i), key(i * 10));
  NSMapRemove(table, key(2));
  NSMapRemove(table, key(4));
  NSMapRemove(table, key(6)); // the end of the chain
  EXPECT_EQ(NSCountMapTable(table), 3u);
  for (uintptr_t i : {1u, 3u, 5u})
    EXPECT_EQ(NSMapGet(table, key(i)), key(i * 10)) << i;
  for (uintptr_t i : {2u, 4u, 6u})
    EXPECT_EQ(NSMapGet(table, key(i)), nullptr) << i;

  // A key already behind a freed place is replaced, not stored twice.
  NSMapInsert(table, key(5), key(55));
  EXPECT_EQ(NSCountMapTable(table), 3u);
  EXPECT_EQ(NSMapGet(table, key(5)), key(55));
  NSFreeMapTable(table);
}

TEST(CollidingMapTable, EndlessInsertAndRemoveStaysBounded) {
  NSMapTable *table = NSCreateMapTable(NSNonOwnedPointerMapKeyCallBacks,
                                       NSNonOwnedPointerMapValueCallBacks, 16);
  NSMapInsert(table, key(1), key(1));
  for (uintptr_t i = 2; i < 20000; i++) {
    NSMapInsert(table, key(i), key(i));
    NSMapRemove(table, key(i));
  }
  EXPECT_EQ(NSCountMapTable(table), 1u);
  EXPECT_EQ(NSMapGet(table, key(1)), key(1));
  EXPECT_EQ(NSMapGet(table, key(19999)), nullptr);
  NSFreeMapTable(table);
}

// A key's release that fills the same table (and so rebuilds it) must not
// change which value is released next.
NSMapTable *refilled = nullptr;
std::vector<void *> releasedValuesSeen;

void refillOnRelease(NSMapTable *table, void *) {
  if (table != refilled)
    return;
  refilled = nullptr;
  for (uintptr_t i = 100; i < 200; i++)
    NSMapInsert(table, key(i), key(i));
}

void noteValue(NSMapTable *, void *value) {
  releasedValuesSeen.push_back(value);
}

TEST(CollidingMapTable, RemovalSurvivesAReleaseThatChangesTheTable) {
  const NSMapTableKeyCallBacks keys = {nullptr,         nullptr, nullptr,
                                       refillOnRelease, nullptr, nullptr};
  const NSMapTableValueCallBacks values = {nullptr, noteValue, nullptr};
  NSMapTable *table = NSCreateMapTable(keys, values, 16);
  NSMapInsert(table, key(1), key(11));
  releasedValuesSeen.clear();
  refilled = table;
  NSMapRemove(table, key(1));
  ASSERT_EQ(releasedValuesSeen.size(), 1u);
  EXPECT_EQ(releasedValuesSeen[0], key(11));
  EXPECT_EQ(NSCountMapTable(table), 100u);
  NSFreeMapTable(table);
}

} // namespace
