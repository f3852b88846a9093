// Classes made at run time: the records, the instance layout, announcement
// and destruction.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include <objc/objc-load.h>
#include <zelObjCRuntime/zelObjCRuntime.h>

using namespace objc_module_records;

namespace {

struct Announcement {
  char kind;
  id object;
};
std::vector<Announcement> announced;

void registerId(id o) { announced.push_back({'r', o}); }
void moveId(id, id) {}
void unregisterId(id o) { announced.push_back({'u', o}); }
IdHooks recorder = {registerId, moveId, unregisterId, nullptr};

Class objectClass() {
  return reinterpret_cast<Class>(objc_getClass("NSObject"));
}

std::vector<Announcement> announcementsOf(Class cls) {
  std::vector<Announcement> found;
  for (const Announcement &a : announced) {
    Class c = reinterpret_cast<Class>(a.object);
    if (c == cls || c == cls->isa)
      found.push_back(a);
  }
  return found;
}

struct Expected {
  const char *name;
  const char *type;
  int offset;
};

void expectIvars(Class cls, const std::vector<Expected> &expected) {
  ASSERT_NE(cls->ivars, nullptr);
  ASSERT_EQ(cls->ivars->ivar_count, int(expected.size()));
  for (size_t i = 0; i < expected.size(); ++i) {
    const objc_ivar &ivar = cls->ivars->ivar_list[i];
    EXPECT_STREQ(ivar.ivar_name, expected[i].name) << i;
    EXPECT_STREQ(ivar.ivar_type, expected[i].type) << i;
    EXPECT_EQ(ivar.ivar_offset, expected[i].offset) << i;
    // Name and type share one block, the type right behind the name.
    EXPECT_EQ(ivar.ivar_type, ivar.ivar_name + strlen(ivar.ivar_name) + 1);
  }
}

class NewClassTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    static bool installed = false;
    if (!installed)
      zelObjC_InstallIdHooks(&recorder);
    installed = true;
  }
  void SetUp() override { announced.clear(); }
  void TearDown() override {
    for (Class cls : made)
      EXPECT_EQ(ZelObjC_DestroyClass(cls), 1) << cls->name;
  }
  // A class over NSObject, destroyed at the end of the test.
  Class make(const char *name, const char *ivars,
             Class superclass = objectClass()) {
    Class cls = ZelObjC_NewClass(name, superclass, ivars);
    if (cls)
      made.insert(made.begin(), cls); // subclasses go first
    return cls;
  }
  std::vector<Class> made;
};

TEST_F(NewClassTest, TakenOrMalformedNamesAndDescriptionsAreRefused) {
  Class object = objectClass();
  const char *name = object->name;
  EXPECT_EQ(ZelObjC_NewClass("NSObject", nullptr, "{X=\"a\"i}"), nullptr);
  EXPECT_EQ(objectClass(), object);
  EXPECT_EQ(object->name, name);
  EXPECT_EQ(ZelObjC_NewClass("ZelNotAStruct", object, "\"a\"i"), nullptr);
  EXPECT_EQ(objc_lookUpClass("ZelNotAStruct"), nullptr);
  EXPECT_TRUE(announced.empty());
}

TEST_F(NewClassTest, DescriptionsWithoutMembers) {
  Class none = make("ZelNoDescription", nullptr);
  Class bare = make("ZelBareStruct", "{Name}");
  Class empty = make("ZelEmptyStruct", "{Name=}");
  ASSERT_TRUE(none && bare && empty);
  EXPECT_EQ(none->ivars, nullptr);
  EXPECT_EQ(bare->ivars, nullptr);
  ASSERT_NE(empty->ivars, nullptr);
  EXPECT_EQ(empty->ivars->ivar_count, 0);
  for (Class cls : {none, bare, empty})
    EXPECT_EQ(cls->instance_size, objectClass()->instance_size);
}

TEST_F(NewClassTest, OffsetsAreNotRoundedAndBitfieldsShareTheirRun) {
  Class row =
      make("ZelRow", "{Row=\"flag\"c\"count\"i\"lo\"b3\"hi\"b5\"value\"d}");
  ASSERT_NE(row, nullptr);
  expectIvars(row, {{"flag", "c", 4},
                    {"count", "i", 5},
                    {"lo", "b3", 9},
                    {"hi", "b5", 9},
                    {"value", "d", 10}});
  EXPECT_EQ(row->instance_size, 18);

  Class mixed = make("ZelMixed", "{X=\"a\"c\"b\"i}");
  expectIvars(mixed, {{"a", "c", 4}, {"b", "i", 5}});
  EXPECT_EQ(mixed->instance_size, 9);

  Class byte = make("ZelByteRun", "{X=\"lo\"b3\"hi\"b5}");
  expectIvars(byte, {{"lo", "b3", 4}, {"hi", "b5", 4}});
  EXPECT_EQ(byte->instance_size, 5);

  // 18 bits take 3 bytes, aligned to 4.
  Class wide = make("ZelWideRun", "{X=\"p\"b9\"q\"b9}");
  expectIvars(wide, {{"p", "b9", 4}, {"q", "b9", 5}});
  EXPECT_EQ(wide->instance_size, 8);

  // A run that a later run follows closes before the other member.
  Class two = make("ZelTwoRuns", "{X=b4ib4}");
  expectIvars(two, {{"", "b4", 4}, {"", "i", 5}, {"", "b4", 9}});
  EXPECT_EQ(two->instance_size, 10);
}

TEST_F(NewClassTest, MembersKeepTheirTypeTextExactly) {
  Class cls = make("ZelTypes",
                   "{X=\"s\"{pt=\"x\"i\"y\"i}\"a\"[3c]\"p\"^{pt=ii}\"o\"@}");
  expectIvars(cls, {{"s", "{pt=\"x\"i\"y\"i}", 4},
                    {"a", "[3c]", 12},
                    {"p", "^{pt=ii}", 15},
                    {"o", "@", 19}});
  EXPECT_EQ(cls->instance_size, 23);
}

// Cut short: the walk stops at the text's end instead of reading past it.
TEST_F(NewClassTest, DescriptionsCutShortStopAtTheirEnd) {
  Class open = make("ZelOpenStruct", "{X=\"a\"i");
  expectIvars(open, {{"a", "i", 4}});
  EXPECT_EQ(open->instance_size, 8);
  for (const char *text : {"{X=\"a\"i\"b", "{X=\"a", "{X="}) {
    std::string name = "ZelCut" + std::to_string(made.size());
    Class cls = make(name.c_str(), text);
    ASSERT_NE(cls, nullptr) << text;
    ASSERT_NE(cls->ivars, nullptr);
    EXPECT_LE(cls->ivars->ivar_count, 2) << text;
  }
}

// An instance that no allocation could hold is refused rather than given a
// wrapped size: members whose room wraps when measured, or an end past
// 2^31 bytes.
TEST_F(NewClassTest, LayoutsTooLargeForAnInstanceAreRefused) {
  const char *const texts[] = {"{X=\"big\"b2147483648}",
                               "{X=\"lo\"b2147483000\"hi\"b2147483000\"c\"c}",
                               "{X=\"a\"[536870912i]}", "{X=\"a\"[536870911i]}",
                               "{?{==b7\341=bs({=ab7\341\035b2222222226"};
  for (const char *text : texts) {
    EXPECT_EQ(ZelObjC_NewClass("ZelTooLarge", objectClass(), text), nullptr)
        << text;
    EXPECT_EQ(objc_lookUpClass("ZelTooLarge"), nullptr);
  }
  EXPECT_TRUE(announced.empty());
  // The largest end that still fits is kept.
  Class edge = make("ZelLargest", "{X=\"a\"[536870910i]\"b\"c}");
  ASSERT_NE(edge, nullptr);
  EXPECT_EQ(edge->instance_size, 2147483645L); // 4 + 2147483640 + 1
}

TEST_F(NewClassTest, RecordsOfASubclass) {
  Class object = objectClass();
  Class cls = make("ZelRecords", "{X=\"n\"i}");
  ASSERT_NE(cls, nullptr);
  Class meta = cls->isa;
  EXPECT_EQ(meta, cls + 1); // one block: class, metaclass, name
  EXPECT_EQ(cls->name, reinterpret_cast<const char *>(cls + 2));
  EXPECT_EQ(meta->name, cls->name);
  EXPECT_STREQ(cls->name, "ZelRecords");
  EXPECT_EQ(reinterpret_cast<Class>(objc_lookUpClass("ZelRecords")), cls);

  EXPECT_EQ(cls->super_class, object);
  EXPECT_EQ(cls->version, 0);
  EXPECT_EQ(cls->info, CLS_CLASS);
  EXPECT_EQ(cls->instance_size, object->instance_size + 4);
  EXPECT_EQ(cls->protocols, nullptr);

  EXPECT_EQ(meta->isa, object->isa); // the root metaclass
  EXPECT_EQ(meta->super_class, object->isa);
  EXPECT_EQ(meta->version, 0);
  EXPECT_EQ(meta->info, CLS_META | CLS_INITIALIZED);
  EXPECT_EQ(meta->instance_size, object->isa->instance_size);
  EXPECT_EQ(meta->ivars, object->isa->ivars);
  EXPECT_EQ(meta->protocols, nullptr);

  for (Class c : {cls, meta}) {
    ASSERT_NE(c->methodLists, nullptr);
    for (int i = 0; i < 15; ++i)
      EXPECT_EQ(c->methodLists[i], nullptr);
    EXPECT_EQ(c->methodLists[15], END_OF_METHODS_LIST);
    void *iterator = nullptr;
    EXPECT_EQ(class_nextMethodList(c, &iterator), nullptr);
  }
  EXPECT_NE(cls->methodLists, meta->methodLists);
}

TEST_F(NewClassTest, RootClassMetaclassPointsAtTheClass) {
  Class root = make("ZelRoot", "{R=\"isa\"#\"n\"s}", nullptr);
  ASSERT_NE(root, nullptr);
  Class meta = root->isa;
  EXPECT_EQ(root->super_class, nullptr);
  EXPECT_EQ(meta->isa, root);
  EXPECT_EQ(meta->super_class, root);
  EXPECT_EQ(root->instance_size, 6);
  EXPECT_EQ(meta->instance_size, 6);
  EXPECT_EQ(meta->ivars, objectClass()->isa->ivars);
  expectIvars(root, {{"isa", "#", 0}, {"n", "s", 4}});

  // Its subclasses take their metaclass chain from it.
  Class sub = make("ZelRootChild", "{C=\"c\"c}", root);
  EXPECT_EQ(sub->isa->isa, meta);
  EXPECT_EQ(sub->isa->super_class, meta);
  EXPECT_EQ(sub->isa->instance_size, 6);
  EXPECT_EQ(sub->instance_size, 7);
}

TEST_F(NewClassTest, ClassThenMetaclassAreAnnouncedBothWays) {
  Class cls = ZelObjC_NewClass("ZelAnnounced", objectClass(), nullptr);
  ASSERT_NE(cls, nullptr);
  Class meta = cls->isa;
  std::vector<Announcement> seen = announcementsOf(cls);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].kind, 'r');
  EXPECT_EQ(seen[0].object, reinterpret_cast<id>(cls));
  EXPECT_EQ(seen[1].kind, 'r');
  EXPECT_EQ(seen[1].object, reinterpret_cast<id>(meta));

  announced.clear();
  ASSERT_EQ(ZelObjC_DestroyClass(cls), 1);
  ASSERT_EQ(announced.size(), 2u);
  EXPECT_EQ(announced[0].kind, 'u');
  EXPECT_EQ(announced[0].object, reinterpret_cast<id>(cls));
  EXPECT_EQ(announced[1].kind, 'u');
  EXPECT_EQ(announced[1].object, reinterpret_cast<id>(meta));
  EXPECT_EQ(objc_lookUpClass("ZelAnnounced"), nullptr);
}

int Counter_count(id self, SEL);
MethodList<1> counterMethods = {
    nullptr, 1, {OBJC_DERIVED_METHOD("count", Counter_count)}};
MethodList<1> counterClassMethods = {
    nullptr, 1, {OBJC_DERIVED_METHOD("answer", Counter_count)}};
int countOffset;

// Offsets are not rounded up, so the variable may sit unaligned.
int Counter_count(id self, SEL) {
  int count;
  memcpy(&count, reinterpret_cast<char *>(self) + countOffset, sizeof count);
  return count;
}

objc_method_list *uniqueList(MethodList<1> &list) {
  objc_method &m = list.method_list[0];
  m.method_name =
      sel_registerName(reinterpret_cast<const char *>(m.method_name));
  return OBJC_METHOD_LIST(list);
}

TEST_F(NewClassTest, DestructionWaitsUntilEveryMethodListIsGone) {
  Class cls = ZelObjC_NewClass("ZelBusy", objectClass(), nullptr);
  ASSERT_NE(cls, nullptr);
  objc_method_list *instance = uniqueList(counterMethods);
  objc_method_list *classSide = uniqueList(counterClassMethods);

  class_addMethods(cls, instance);
  announced.clear();
  EXPECT_EQ(ZelObjC_DestroyClass(cls), 0);
  class_removeMethods(cls, instance);

  class_addMethods(cls->isa, classSide);
  EXPECT_EQ(ZelObjC_DestroyClass(cls), 0);
  EXPECT_TRUE(announced.empty());
  EXPECT_EQ(reinterpret_cast<Class>(objc_lookUpClass("ZelBusy")), cls);
  EXPECT_STREQ(cls->name, "ZelBusy");
  class_removeMethods(cls->isa, classSide);

  EXPECT_EQ(ZelObjC_DestroyClass(cls), 1);
  EXPECT_EQ(objc_lookUpClass("ZelBusy"), nullptr);
}

// Freeing a class that a registered class names as its superclass would
// leave that subclass pointing into freed memory.
TEST_F(NewClassTest, DestructionWaitsUntilNoSubclassIsRegistered) {
  Class base = ZelObjC_NewClass("ZelBase", objectClass(), "{B=\"b\"i}");
  ASSERT_NE(base, nullptr);
  Class derived = ZelObjC_NewClass("ZelDerived", base, "{D=\"d\"c}");
  ASSERT_NE(derived, nullptr);
  announced.clear();
  EXPECT_EQ(ZelObjC_DestroyClass(base), 0);
  EXPECT_TRUE(announced.empty());
  EXPECT_EQ(reinterpret_cast<Class>(objc_lookUpClass("ZelBase")), base);
  EXPECT_EQ(ZelObjC_DestroyClass(derived), 1);
  EXPECT_EQ(ZelObjC_DestroyClass(base), 1);
}

// Each member's recorded type takes exactly the room the layout gives it:
// ivars written by their own types stay inside the instance.
void expectVariablesFit(Class cls) {
  ASSERT_NE(cls->ivars, nullptr);
  for (int i = 0; i < cls->ivars->ivar_count; ++i) {
    const objc_ivar &ivar = cls->ivars->ivar_list[i];
    EXPECT_LE(ivar.ivar_offset + objc_sizeof_type(ivar.ivar_type),
              cls->instance_size)
        << ivar.ivar_name << " " << ivar.ivar_type;
  }
}

TEST_F(NewClassTest, MembersAreCountedAndReadAlike) {
  // A second quoted name belongs to the type text; the run goes on.
  Class doubled = make("ZelDoubledName", "{X=i\"x\"\"y\"b3b6b5ib2}");
  ASSERT_NE(doubled, nullptr);
  expectIvars(doubled, {{"", "i", 4},
                        {"x", "\"y\"b3", 8},
                        {"", "b6", 8},
                        {"", "b5", 9},
                        {"", "i", 10},
                        {"", "b2", 14}});
  EXPECT_EQ(doubled->instance_size, 15);
  expectVariablesFit(doubled);

  // A name with no type before the brace ends the list: nothing after the
  // struct is read as a member.
  Class dangling = make("ZelDanglingName", "{X=\"a\"}ii");
  ASSERT_NE(dangling, nullptr);
  expectIvars(dangling, {});
  EXPECT_EQ(dangling->instance_size, objectClass()->instance_size);

  // A union cut short by the walk is measured as the text it was given.
  Class cut = make("ZelCutUnion", "{X=({a)=}");
  ASSERT_NE(cut, nullptr);
  expectIvars(cut, {{"", "({a)", 4}, {"", "=", 12}});
  EXPECT_EQ(objc_sizeof_type("({a)"), 8);
  EXPECT_EQ(cut->instance_size, 16);
  expectVariablesFit(cut);
}

// The description a class gives of itself makes a root class with the
// same variables at the same offsets.
TEST_F(NewClassTest, OwnDescriptionRebuildsTheLayout) {
  const char *descriptions[] = {
      "{X=i\"x\"\"y\"b3b6b5ib2}",
      "{Row=\"flag\"c\"count\"i\"lo\"b3\"hi\"b5\"value\"d}",
      "{X=\"s\"{pt=\"x\"i\"y\"i}\"a\"[3c]\"p\"^{pt=ii}\"o\"@}",
      "{X=b3rb4\"q\"nb1\"d\"d(u=ic)c}",
  };
  int n = 0;
  for (const char *text : descriptions) {
    SCOPED_TRACE(text);
    std::string name = "ZelDescribed" + std::to_string(n);
    std::string copyName = "ZelRebuilt" + std::to_string(n++);
    Class cls = make(name.c_str(), text);
    ASSERT_NE(cls, nullptr);
    std::string own = ZelObjC_IVarStruct(cls);
    Class rebuilt = make(copyName.c_str(), own.c_str(), nullptr);
    ASSERT_NE(rebuilt, nullptr);
    EXPECT_EQ(rebuilt->instance_size, cls->instance_size);
    // The rebuilt class starts with NSObject's own variables.
    int inherited = rebuilt->ivars->ivar_count - cls->ivars->ivar_count;
    ASSERT_GE(inherited, 0);
    for (int i = 0; i < cls->ivars->ivar_count; ++i) {
      const objc_ivar &mine = cls->ivars->ivar_list[i];
      const objc_ivar &copy = rebuilt->ivars->ivar_list[inherited + i];
      EXPECT_STREQ(copy.ivar_name, mine.ivar_name) << i;
      EXPECT_STREQ(copy.ivar_type, mine.ivar_type) << i;
      EXPECT_EQ(copy.ivar_offset, mine.ivar_offset) << i;
    }
  }
}

TEST_F(NewClassTest, CreatedClassLivesThroughARoundTrip) {
  objc_method_list *methods = uniqueList(counterMethods);
  for (int round = 0; round < 2; ++round) {
    Class cls = ZelObjC_NewClass("ZelCounter", objectClass(),
                                 "{C=\"flag\"c\"count\"i}");
    ASSERT_NE(cls, nullptr) << round;
    countOffset = cls->ivars->ivar_list[1].ivar_offset;
    class_addMethods(cls, methods);

    id counter = objc_send(cls, "new");
    ASSERT_NE(counter, nullptr);
    EXPECT_EQ(counter->isa, cls);
    int count = 41 + round;
    memcpy(reinterpret_cast<char *>(counter) + countOffset, &count,
           sizeof count);
    EXPECT_EQ(objc_send<int>(counter, "count"), 41 + round);
    objc_send(counter, "release");

    // Protocol lists attached by the caller are freed with the class, the
    // whole chain.
    for (int i = 0; i < 2; ++i) {
      auto *protocols =
          static_cast<objc_protocol_list *>(malloc(sizeof(objc_protocol_list)));
      protocols->next = cls->protocols;
      protocols->count = 0;
      cls->protocols = protocols;
    }

    class_removeMethods(cls, methods);
    EXPECT_EQ(ZelObjC_DestroyClass(cls), 1);
    EXPECT_EQ(objc_lookUpClass("ZelCounter"), nullptr);
  }
}

} // namespace
