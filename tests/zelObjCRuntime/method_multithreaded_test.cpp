/* Method lookup after the switch to the multithreaded mode: method lists
   only, never a cache, and the shared not-found record for misses. The
   switch cannot be undone, so these cases live in a program of their own. */
#include <gtest/gtest.h>

#include "test_classes.h"

using namespace objc_module_records;

namespace {

int Base_m(id, SEL) { return 1; }
int BaseClass_c(id, SEL) { return 2; }
int Leaf_n(id, SEL) { return 3; }

MethodList<1> Base_imethods = {nullptr, 1, {OBJC_DERIVED_METHOD("m", Base_m)}};
MethodList<1> Base_cmethods = {
    nullptr, 1, {OBJC_DERIVED_METHOD("c", BaseClass_c)}};
MethodList<1> Leaf_imethods = {nullptr, 1, {OBJC_DERIVED_METHOD("n", Leaf_n)}};

OBJC_CLASS_RECORDS(Base_class, "ThreadedBase", "NSObject", 4, nullptr,
                   &Base_imethods, &Base_cmethods);
OBJC_CLASS_RECORDS(Leaf_class, "ThreadedLeaf", "ThreadedBase", 4, nullptr,
                   &Leaf_imethods, nullptr);

OBJC_MODULE_RECORD(threaded_module, 2, 0, &Base_class, &Leaf_class);

} // namespace

OBJC_REGISTER_MODULE(threaded_module)
OBJC_LIBRARY_REGISTRATION()

namespace {

class LookupMethodMultithreaded : public ::testing::Test {
protected:
  void SetUp() override { ZelObjC_SetMultithreaded(); }
};

TEST_F(LookupMethodMultithreaded, AnswersTheRuntimesOwnRecords) {
  Class leaf = cls("ThreadedLeaf");
  EXPECT_EQ(ZelObjC_LookupMethod(leaf, sel("n")),
            class_getInstanceMethod(leaf, sel("n")));
  Method inherited = ZelObjC_LookupMethod(leaf, sel("m"));
  EXPECT_EQ(inherited, class_getInstanceMethod(cls("ThreadedBase"), sel("m")));
  EXPECT_EQ(inherited->method_imp, objc_fn_cast<IMP>(Base_m));
  Method classSide = ZelObjC_LookupMethod(leaf->isa, sel("c"));
  EXPECT_EQ(classSide->method_imp, objc_fn_cast<IMP>(BaseClass_c));
}

TEST_F(LookupMethodMultithreaded, MissesShareTheNotFoundRecord) {
  Class leaf = cls("ThreadedLeaf");
  Method first = ZelObjC_LookupMethod(leaf, sel("nobodyHasThis"));
  EXPECT_EQ(first->method_name, sel("nobodyHasThis"));
  EXPECT_STREQ(first->method_types, "");
  EXPECT_EQ(first->method_imp, objc_fn_cast<IMP>(_objc_msgForward));

  Method second = ZelObjC_LookupMethod(leaf->isa, sel("m"));
  EXPECT_EQ(second, first);
  EXPECT_EQ(second->method_name, sel("m"));
  EXPECT_STREQ(second->method_types, "");
}

TEST_F(LookupMethodMultithreaded, NeitherReadsNorFillsCaches) {
  Class base = cls("ThreadedBase");
  ASSERT_EQ(base->cache, &_objc_empty_cache); /* never messaged */
  ZelObjC_LookupMethod(base, sel("m"));
  ZelObjC_LookupMethod(base, sel("nobodyHasThis"));
  EXPECT_EQ(base->cache, &_objc_empty_cache);

  /* A record planted in the cache is not what lookup answers. */
  struct objc_method planted = {sel("m"), "v8@0:4", nullptr};
  struct {
    unsigned mask, occupied;
    Method buckets[2];
  } cache = {1, 2, {&planted, &planted}};
  base->cache = reinterpret_cast<struct objc_cache *>(&cache);
  Method record = ZelObjC_LookupMethod(base, sel("m"));
  base->cache = &_objc_empty_cache;
  EXPECT_EQ(record, class_getInstanceMethod(base, sel("m")));
}

TEST_F(LookupMethodMultithreaded, NullClassAnswersTheNotFoundRecord) {
  Method record = ZelObjC_LookupMethod(Nil, sel("m"));
  EXPECT_EQ(record, ZelObjC_LookupMethod(cls("ThreadedLeaf"), sel("none")));
  record = ZelObjC_LookupMethod(Nil, sel("m"));
  EXPECT_EQ(record->method_name, sel("m"));
  EXPECT_STREQ(record->method_types, "");
  EXPECT_EQ(record->method_imp, objc_fn_cast<IMP>(_objc_msgForward));
}

TEST_F(LookupMethodMultithreaded, SwitchingAgainKeepsTheMode) {
  ZelObjC_SetMultithreaded();
  Method record = ZelObjC_LookupMethod(cls("ThreadedBase"), sel("other"));
  EXPECT_STREQ(record->method_types, "");
  EXPECT_EQ(record->method_imp, objc_fn_cast<IMP>(_objc_msgForward));
}

} // namespace
