// Every allocation, copy, reallocation and deallocation goes through the
// runtime's hook variables; the default functions zero-fill and set isa.
#include <objc/objc-load.h>
#include <objc/objc-send.h>

#include <gtest/gtest.h>

#include <cstring>

using namespace objc_module_records;

namespace {

struct Calls {
  int alloc, zoneAlloc, copy, zoneCopy, realloc, zoneRealloc, dealloc;
  void *lastZone;
};
Calls calls;

id (*saved_alloc)(Class, unsigned);
id (*saved_zoneAlloc)(Class, unsigned, void *);
id (*saved_copy)(id, unsigned);
id (*saved_zoneCopy)(id, unsigned, void *);
id (*saved_realloc)(id, unsigned);
id (*saved_zoneRealloc)(id, unsigned, void *);
id (*saved_dealloc)(id);

id countAlloc(Class c, unsigned n) {
  ++calls.alloc;
  return saved_alloc(c, n);
}
id countZoneAlloc(Class c, unsigned n, void *z) {
  ++calls.zoneAlloc;
  calls.lastZone = z;
  return saved_zoneAlloc(c, n, z);
}
id countCopy(id o, unsigned n) {
  ++calls.copy;
  return saved_copy(o, n);
}
id countZoneCopy(id o, unsigned n, void *z) {
  ++calls.zoneCopy;
  calls.lastZone = z;
  return saved_zoneCopy(o, n, z);
}
id countRealloc(id o, unsigned n) {
  ++calls.realloc;
  return saved_realloc(o, n);
}
id countZoneRealloc(id o, unsigned n, void *z) {
  ++calls.zoneRealloc;
  calls.lastZone = z;
  return saved_zoneRealloc(o, n, z);
}
id countDealloc(id o) {
  ++calls.dealloc;
  return saved_dealloc(o);
}

struct Body {
  Class isa;
  int a;
  double b;
};

OBJC_CLASS_RECORDS(Obj_class, "AllocObject", nullptr, sizeof(Body), nullptr,
                   nullptr, nullptr);
OBJC_MODULE_RECORD(module, 1, 0, &Obj_class);

class AllocationHooks : public ::testing::Test {
protected:
  void SetUp() override {
    calls = {};
    saved_alloc = _alloc;
    saved_zoneAlloc = _zoneAlloc;
    saved_copy = _copy;
    saved_zoneCopy = _zoneCopy;
    saved_realloc = _realloc;
    saved_zoneRealloc = _zoneRealloc;
    saved_dealloc = _dealloc;
    _alloc = countAlloc;
    _zoneAlloc = countZoneAlloc;
    _copy = countCopy;
    _zoneCopy = countZoneCopy;
    _realloc = countRealloc;
    _zoneRealloc = countZoneRealloc;
    _dealloc = countDealloc;
  }
  void TearDown() override {
    _alloc = saved_alloc;
    _zoneAlloc = saved_zoneAlloc;
    _copy = saved_copy;
    _zoneCopy = saved_zoneCopy;
    _realloc = saved_realloc;
    _zoneRealloc = saved_zoneRealloc;
    _dealloc = saved_dealloc;
  }
};

bool allZero(const void *p, size_t from, size_t to) {
  const unsigned char *b = static_cast<const unsigned char *>(p);
  for (size_t i = from; i < to; ++i)
    if (b[i])
      return false;
  return true;
}

TEST_F(AllocationHooks, EveryOperationGoesThroughItsHook) {
  int zone;
  id a = class_createInstance(&Obj_class, 0);
  id b = class_createInstanceFromZone(&Obj_class, 8, &zone);
  EXPECT_EQ(calls.alloc, 1);
  EXPECT_EQ(calls.zoneAlloc, 1);
  EXPECT_EQ(calls.lastZone, &zone);
  id c = object_copy(a, 0);
  id d = object_copyFromZone(a, 4, &zone);
  EXPECT_EQ(calls.copy, 1);
  EXPECT_EQ(calls.zoneCopy, 1);
  a = object_realloc(a, 64);
  b = object_reallocFromZone(b, 64, &zone);
  EXPECT_EQ(calls.realloc, 1);
  EXPECT_EQ(calls.zoneRealloc, 1);
  for (id o : {a, b, c, d})
    EXPECT_EQ(object_dispose(o), nil);
  EXPECT_EQ(calls.dealloc, 4);
  EXPECT_EQ(calls.alloc, 1); // nothing calls more than its own hook
  EXPECT_EQ(calls.copy, 1);
}

TEST_F(AllocationHooks, ReplacementResultIsWhatCallersGet) {
  static Body fixed;
  _alloc = [](Class, unsigned) -> id {
    ++calls.alloc;
    return reinterpret_cast<id>(&fixed);
  };
  EXPECT_EQ(class_createInstance(&Obj_class, 0), reinterpret_cast<id>(&fixed));
  EXPECT_EQ(calls.alloc, 1);
}

TEST(DefaultAllocation, InstancesZeroFilledWithIsaAndCopiesFaithful) {
  id a = class_createInstance(&Obj_class, 16);
  ASSERT_NE(a, nil);
  EXPECT_EQ(a->isa, &Obj_class);
  EXPECT_TRUE(allZero(a, sizeof(Class), sizeof(Body) + 16));
  auto *body = reinterpret_cast<Body *>(a);
  body->a = 7;
  body->b = 2.5;
  id copy = object_copy(a, 8);
  ASSERT_NE(copy, nil);
  EXPECT_NE(copy, a);
  EXPECT_EQ(copy->isa, &Obj_class);
  EXPECT_EQ(reinterpret_cast<Body *>(copy)->a, 7);
  EXPECT_EQ(reinterpret_cast<Body *>(copy)->b, 2.5);
  EXPECT_TRUE(allZero(copy, sizeof(Body), sizeof(Body) + 8));
  id grown = object_realloc(copy, 4096);
  ASSERT_NE(grown, nil);
  EXPECT_EQ(reinterpret_cast<Body *>(grown)->b, 2.5);
  object_dispose(grown);
  object_dispose(a);
  EXPECT_EQ(class_createInstance(nullptr, 0), nil);
  EXPECT_EQ(object_copy(nil, 0), nil);
  EXPECT_EQ(object_dispose(nil), nil);
}

TEST(DefaultAllocation, SizeBeyondTheAddressSpaceFails) {
  // instance_size + extraBytes wraps around in 32 bits: no short block.
  unsigned extra = ~0u - 2;
  EXPECT_EQ(class_createInstance(&Obj_class, extra), nil);
  id obj = class_createInstance(&Obj_class, 0);
  ASSERT_NE(obj, nil);
  EXPECT_EQ(object_copy(obj, extra), nil);
  object_dispose(obj);
}

} // namespace

OBJC_REGISTER_MODULE(module)
OBJC_LIBRARY_REGISTRATION()
