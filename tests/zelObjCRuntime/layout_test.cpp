// Instance layouts described as struct encodings, and instance variables
// found by name, for classes and for class objects.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <zelObjCRuntime/zelObjCRuntime.h>

namespace {

const char classRecord[] =
    "{objc_class=\"isa\"#\"super_class\"#\"name\"*\"version\"l\"info\"l"
    "\"instance_size\"l\"ivars\"^{objc_ivar_list=}"
    "\"methodLists\"^^{objc_method_list=}\"cache\"^{objc_cache=}"
    "\"protocols\"^{objc_protocol_list=}}";

Class objectClass() {
  return reinterpret_cast<Class>(objc_getClass("NSObject"));
}

class LayoutTest : public ::testing::Test {
protected:
  void SetUp() override {
    pool = objc_send(objc_send_class("NSAutoreleasePool", "alloc"), "init");
  }
  void TearDown() override {
    for (Class cls : made)
      EXPECT_EQ(ZelObjC_DestroyClass(cls), 1) << cls->name;
    objc_send(pool, "release");
  }
  Class make(const char *name, const char *ivars,
             Class superclass = objectClass()) {
    Class cls = ZelObjC_NewClass(name, superclass, ivars);
    if (cls)
      made.insert(made.begin(), cls); // subclasses go first
    return cls;
  }
  id pool = nullptr;
  std::vector<Class> made;
};

TEST_F(LayoutTest, ClassObjectsAreDescribedAsClassRecords) {
  Class row = make("ZelLayoutMeta", "{X=\"count\"i}");
  for (Class meta : {objectClass()->isa, row->isa}) {
    EXPECT_STREQ(ZelObjC_IVarStruct(meta), classRecord);
    EXPECT_EQ(ZelObjC_IVarStruct(meta), ZelObjC_IVarStruct(objectClass()->isa));
  }
  EXPECT_EQ(objc_sizeof_type(ZelObjC_IVarStruct(row->isa)), 40);
}

TEST_F(LayoutTest, ClassObjectsHaveTheRecordFieldsAsVariables) {
  Class meta = make("ZelLayoutFields", "{X=\"count\"i}")->isa;
  Ivar size = ZelObjC_GetInstanceVariable(meta, "instance_size");
  ASSERT_NE(size, nullptr);
  EXPECT_STREQ(size->ivar_type, "l");
  EXPECT_EQ(size->ivar_offset, 20);
  Ivar isa = ZelObjC_GetInstanceVariable(meta, "isa");
  ASSERT_NE(isa, nullptr);
  EXPECT_STREQ(isa->ivar_type, "#");
  EXPECT_EQ(isa->ivar_offset, 0);
  Ivar protocols = ZelObjC_GetInstanceVariable(meta, "protocols");
  ASSERT_NE(protocols, nullptr);
  EXPECT_EQ(protocols->ivar_offset, 36);
  EXPECT_STREQ(protocols->ivar_type, "^{objc_protocol_list=}");
  EXPECT_EQ(ZelObjC_GetInstanceVariable(meta, "count"), nullptr);
  EXPECT_EQ(ZelObjC_GetInstanceVariable(meta, "instance"), nullptr);
  EXPECT_EQ(ZelObjC_GetInstanceVariable(meta, ""), nullptr);
}

TEST_F(LayoutTest, ClassesHaveTheirOwnAndInheritedVariables) {
  Class row = make("ZelLayoutVars", "{X=\"count\"i\"value\"d}");
  Ivar value = ZelObjC_GetInstanceVariable(row, "value");
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(value->ivar_offset, 8);
  EXPECT_EQ(ZelObjC_GetInstanceVariable(row, "instance_size"), nullptr);
  Ivar isa = ZelObjC_GetInstanceVariable(row, "isa");
  ASSERT_NE(isa, nullptr);
  EXPECT_EQ(isa->ivar_offset, 0);
}

TEST_F(LayoutTest, DescriptionRunsFromTheRootDown) {
  Class row = make("ZelRowLayout",
                   "{Row=\"flag\"c\"count\"i\"lo\"b3\"hi\"b5\"value\"d}");
  EXPECT_STREQ(ZelObjC_IVarStruct(row),
               "{ZelRowLayout=\"isa\"#\"flag\"c\"count\"i\"lo\"b3\"hi\"b5"
               "\"value\"d}");
  Class sub = make("ZelRowChild", "{C=\"extra\"^v}", row);
  EXPECT_STREQ(ZelObjC_IVarStruct(sub),
               "{ZelRowChild=\"isa\"#\"flag\"c\"count\"i\"lo\"b3\"hi\"b5"
               "\"value\"d\"extra\"^v}");
}

TEST_F(LayoutTest, ClassesWithoutVariablesGiveAnEmptyStruct) {
  Class bare = make("ZelLayoutBare", nullptr, nullptr);
  EXPECT_STREQ(ZelObjC_IVarStruct(bare), "{ZelLayoutBare=}");
  Class empty = make("ZelLayoutEmpty", "{E=}", bare);
  EXPECT_STREQ(ZelObjC_IVarStruct(empty), "{ZelLayoutEmpty=}");
}

TEST_F(LayoutTest, HiddenClassesAreDescribedAsTheirSuperclass) {
  Class visible = make("ZelLayoutVisible", "{V=\"v\"i}");
  Class hidden = make("!ZelLayoutHidden", "{H=\"h\"c}", visible);
  Class deeper = make("!ZelLayoutDeeper", "{D=\"d\"c}", hidden);
  const char *text = ZelObjC_IVarStruct(hidden);
  EXPECT_STREQ(text, "{ZelLayoutVisible=\"isa\"#\"v\"i}");
  EXPECT_EQ(ZelObjC_IVarStruct(visible), text); // cached under visible
  // Only one hidden level is skipped.
  EXPECT_STREQ(ZelObjC_IVarStruct(deeper),
               "{!ZelLayoutHidden=\"isa\"#\"v\"i\"h\"c}");
}

TEST_F(LayoutTest, RepeatedCallsAnswerTheCachedText) {
  Class cls = make("ZelLayoutCached", "{X=\"a\"i\"b\"c}");
  const char *first = ZelObjC_IVarStruct(cls);
  std::string copy = first;
  cls->ivars->ivar_count = 1; // changes after the first call go unseen
  const char *second = ZelObjC_IVarStruct(cls);
  cls->ivars->ivar_count = 2;
  EXPECT_EQ(second, first);
  EXPECT_EQ(copy, second);
  EXPECT_EQ(copy, "{ZelLayoutCached=\"isa\"#\"a\"i\"b\"c}");
}

TEST_F(LayoutTest, VariablesWithoutNamesAreLeftOut) {
  Class cls = make("ZelLayoutUnnamed", "{X=\"a\"i\"b\"c}");
  objc_ivar &second = cls->ivars->ivar_list[1];
  const char *name = second.ivar_name;
  second.ivar_name = nullptr;
  std::string text = ZelObjC_IVarStruct(cls);
  second.ivar_name = name;
  EXPECT_EQ(text, "{ZelLayoutUnnamed=\"isa\"#\"a\"i}");
}

// The cache is keyed by address: a class made where a destroyed one lived
// must not be described with the old variables.
TEST_F(LayoutTest, ANewClassAtAReusedAddressGetsItsOwnDescription) {
  Class old = ZelObjC_NewClass("ZelLayoutOld", objectClass(), "{O=\"o\"i}");
  ASSERT_NE(old, nullptr);
  EXPECT_STREQ(ZelObjC_IVarStruct(old), "{ZelLayoutOld=\"isa\"#\"o\"i}");
  ASSERT_EQ(ZelObjC_DestroyClass(old), 1);
  // Same name length, same block size: malloc hands the block back.
  Class fresh = make("ZelLayoutNew", "{N=\"n\"c}");
  RecordProperty("address_reused", fresh == old ? "yes" : "no");
  EXPECT_STREQ(ZelObjC_IVarStruct(fresh), "{ZelLayoutNew=\"isa\"#\"n\"c}");
}

} // namespace
