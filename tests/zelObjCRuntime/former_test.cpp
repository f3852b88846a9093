/* The category ZelObjCFormer on NSObject: former methods behind category
   replacements and inherited definitions, and hidden classes ("!" names)
   answering class, superclass and classForCoder. */
#include <gtest/gtest.h>

#include "test_classes.h"

#include <cstring>
#include <initializer_list>

using namespace objc_module_records;

namespace {

#define ONE_METHOD(list, name, fn)                                             \
  MethodList<1> list = {nullptr, 1, {OBJC_DERIVED_METHOD(name, fn)}}

/* Each implementation answers its own number, so a wrong one shows. */
template <int N> int answer(id, SEL) { return N; }
IMP impOf(int (*fn)(id, SEL)) { return objc_fn_cast<IMP>(fn); }

/* FormerBase: m and +cm */
ONE_METHOD(Base_i, "m", answer<1>);
ONE_METHOD(Base_c, "cm", answer<101>);
OBJC_CLASS_RECORDS(Base_class, "FormerBase", "NSObject", 4, nullptr, &Base_i,
                   &Base_c);

/* FormerSingle: m and +cm, both replaced by one category */
ONE_METHOD(Single_i, "m", answer<2>);
ONE_METHOD(Single_c, "cm", answer<102>);
OBJC_CLASS_RECORDS(Single_class, "FormerSingle", "FormerBase", 4, nullptr,
                   &Single_i, &Single_c);
ONE_METHOD(Replace_i, "m", answer<3>);
ONE_METHOD(Replace_c, "cm", answer<103>);
struct objc_category Replace_category = {"Replace", "FormerSingle",
                                         OBJC_METHOD_LIST(Replace_i),
                                         OBJC_METHOD_LIST(Replace_c), nullptr};

/* FormerDouble: m, replaced by two categories in turn */
ONE_METHOD(Double_i, "m", answer<4>);
OBJC_CLASS_RECORDS(Double_class, "FormerDouble", "FormerBase", 4, nullptr,
                   &Double_i, nullptr);
ONE_METHOD(First_i, "m", answer<5>);
struct objc_category First_category = {
    "First", "FormerDouble", OBJC_METHOD_LIST(First_i), nullptr, nullptr};
ONE_METHOD(Second_i, "m", answer<6>);
struct objc_category Second_category = {
    "Second", "FormerDouble", OBJC_METHOD_LIST(Second_i), nullptr, nullptr};

/* FormerChild: m and +cm once each, over FormerBase's */
ONE_METHOD(Child_i, "m", answer<7>);
ONE_METHOD(Child_c, "cm", answer<107>);
OBJC_CLASS_RECORDS(Child_class, "FormerChild", "FormerBase", 4, nullptr,
                   &Child_i, &Child_c);

/* FormerMiddle (nothing) <- FormerGrandchild (m) */
OBJC_CLASS_RECORDS(Middle_class, "FormerMiddle", "FormerBase", 4, nullptr,
                   nullptr, nullptr);
ONE_METHOD(Grandchild_i, "m", answer<8>);
OBJC_CLASS_RECORDS(Grandchild_class, "FormerGrandchild", "FormerMiddle", 4,
                   nullptr, &Grandchild_i, nullptr);

/* FormerVisible <- !FormerHidden <- !FormerDeeper */
ONE_METHOD(Visible_i, "m", answer<9>);
OBJC_CLASS_RECORDS(Visible_class, "FormerVisible", "NSObject", 4, nullptr,
                   &Visible_i, nullptr);
ONE_METHOD(Hidden_i, "m", answer<10>);
OBJC_CLASS_RECORDS(Hidden_class, "!FormerHidden", "FormerVisible", 4, nullptr,
                   &Hidden_i, nullptr);
OBJC_CLASS_RECORDS(Deeper_class, "!FormerDeeper", "!FormerHidden", 4, nullptr,
                   nullptr, nullptr);

/* FormerLists: m once; its tests attach further lists while they run */
ONE_METHOD(Lists_i, "m", answer<20>);
OBJC_CLASS_RECORDS(Lists_class, "FormerLists", "FormerBase", 4, nullptr,
                   &Lists_i, nullptr);

/* FormerLoner: a root class of its own, outside NSObject's hierarchy */
ONE_METHOD(Loner_i, "m", answer<11>);
OBJC_CLASS_RECORDS(Loner_class, "FormerLoner", nullptr, 4, nullptr, &Loner_i,
                   nullptr);

/* A method that the root class NSObject has exactly once */
ONE_METHOD(Once_i, "formerTestOnce", answer<12>);
struct objc_category Once_category = {
    "FormerTestOnce", "NSObject", OBJC_METHOD_LIST(Once_i), nullptr, nullptr};

OBJC_MODULE_RECORD(former_module, 11, 4, &Base_class, &Single_class,
                   &Double_class, &Child_class, &Middle_class,
                   &Grandchild_class, &Visible_class, &Hidden_class,
                   &Deeper_class, &Loner_class, &Lists_class, &Replace_category,
                   &First_category, &Second_category, &Once_category);

} // namespace

OBJC_REGISTER_MODULE(former_module)
OBJC_LIBRARY_REGISTRATION()
/* Nothing else here names the library: its category arrives by import. */
OBJC_IMPORT_CLASS(NSFramework_zelObjCRuntime);

namespace {

id instanceOf(const char *name) { return class_createInstance(cls(name), 0); }

IMP former(const char *className, const char *selector) {
  return objc_send<IMP>(cls(className),
                        "formerInstanceMethodForSelector:", sel(selector));
}
IMP formerOf(id object, const char *selector) {
  return objc_send<IMP>(object, "formerMethodForSelector:", sel(selector));
}
IMP current(const char *className, const char *selector) {
  return objc_send<IMP>(cls(className),
                        "instanceMethodForSelector:", sel(selector));
}

/* ======================= Former methods ======================= */

TEST(FormerMethod, OneCategoryDisplacesTheClassesOwn) {
  ASSERT_EQ(current("FormerSingle", "m"), impOf(answer<3>));
  EXPECT_EQ(former("FormerSingle", "m"), impOf(answer<2>));
  id object = instanceOf("FormerSingle");
  EXPECT_EQ(formerOf(object, "m"), impOf(answer<2>));
  object_dispose(object);
}

TEST(FormerMethod, TwoCategoriesGiveTheFirstCategorys) {
  ASSERT_EQ(current("FormerDouble", "m"), impOf(answer<6>));
  EXPECT_EQ(former("FormerDouble", "m"), impOf(answer<5>));
}

TEST(FormerMethod, SingleDefinitionFallsBackToTheAncestors) {
  EXPECT_EQ(former("FormerChild", "m"), impOf(answer<1>));
  EXPECT_EQ(former("FormerGrandchild", "m"), impOf(answer<1>));
  /* No definition of its own: what is in force, inherited. */
  EXPECT_EQ(former("FormerMiddle", "m"), impOf(answer<1>));
}

TEST(FormerMethod, RootClassWithOneDefinitionHasNone) {
  ASSERT_NE(class_getInstanceMethod(cls("NSObject"), sel("formerTestOnce")),
            nullptr);
  EXPECT_EQ(former("NSObject", "formerTestOnce"), nullptr);
  EXPECT_EQ(former("NSObject", "nobodyDefinesThis"), nullptr);
}

TEST(FormerMethod, ReplacedNSObjectMethodIsNeverTheReplacement) {
  IMP now = current("NSObject", "class");
  ASSERT_NE(now, nullptr);
  EXPECT_NE(former("NSObject", "class"), now);
}

TEST(FormerMethod, ClassObjectsAnswerFormerClassMethods) {
  id single = reinterpret_cast<id>(cls("FormerSingle"));
  id child = reinterpret_cast<id>(cls("FormerChild"));
  id middle = reinterpret_cast<id>(cls("FormerMiddle"));
  EXPECT_EQ(formerOf(single, "cm"), impOf(answer<102>));
  EXPECT_EQ(formerOf(child, "cm"), impOf(answer<101>));
  EXPECT_EQ(formerOf(middle, "cm"), impOf(answer<101>));
}

TEST(FormerMethod, ObjectOfHiddenClassSearchesTheHiddenClass) {
  id object = instanceOf("!FormerHidden");
  EXPECT_EQ(formerOf(object, "m"), impOf(answer<9>));
  object_dispose(object);
}

/* A list attached to FormerLists for one test, taken off again after. */
template <int N> struct AttachedList {
  MethodList<N> list;
  AttachedList(int count, std::initializer_list<objc_method> methods)
      : list{nullptr, count, {}} {
    int i = 0;
    for (const objc_method &method : methods)
      list.method_list[i++] = method;
    class_addMethods(cls("FormerLists"), OBJC_METHOD_LIST(list));
  }
  ~AttachedList() {
    class_removeMethods(cls("FormerLists"), OBJC_METHOD_LIST(list));
  }
};

objc_method methodM(int (*fn)(id, SEL)) {
  return {sel("m"), "i8@0:4", impOf(fn)};
}
objc_method methodN() { return {sel("n"), "i8@0:4", impOf(answer<0>)}; }

TEST(FormerMethod, SecondMatchMayLieInTheSameList) {
  AttachedList<3> twice(3,
                        {methodM(answer<21>), methodN(), methodM(answer<22>)});
  ASSERT_EQ(current("FormerLists", "m"), impOf(answer<21>));
  EXPECT_EQ(former("FormerLists", "m"), impOf(answer<22>));
}

TEST(FormerMethod, CounterRunsOnOverListsWithoutAMatch) {
  AttachedList<1> empty(0, {});
  AttachedList<1> negative(-1, {methodM(answer<24>)});
  AttachedList<1> unrelated(1, {methodN()});
  AttachedList<1> newest(1, {methodM(answer<23>)});
  ASSERT_EQ(current("FormerLists", "m"), impOf(answer<23>));
  EXPECT_EQ(former("FormerLists", "m"), impOf(answer<20>));
}

/* ======================= Hidden classes ======================= */

struct Reported {
  Class cls, superclass, coder;
};

Reported reportOf(const char *className) {
  id object = instanceOf(className);
  Reported r = {objc_send<Class>(object, "class"),
                objc_send<Class>(object, "superclass"),
                objc_send<Class>(object, "classForCoder")};
  object_dispose(object);
  return r;
}

TEST(HiddenClass, ObjectReportsTheVisibleSuperclass) {
  ASSERT_NE(cls("!FormerHidden"), nullptr);
  ASSERT_NE(cls("NSObject"), nullptr);
  for (const char *name : {"!FormerHidden", "FormerVisible"}) {
    SCOPED_TRACE(name);
    Reported r = reportOf(name);
    EXPECT_EQ(r.cls, cls("FormerVisible"));
    EXPECT_EQ(r.coder, cls("FormerVisible"));
    EXPECT_EQ(r.superclass, cls("NSObject"));
  }
}

TEST(HiddenClass, OnlyOneHiddenLevelIsSkipped) {
  ASSERT_NE(cls("!FormerDeeper"), nullptr);
  Reported r = reportOf("!FormerDeeper");
  EXPECT_EQ(r.cls, cls("!FormerHidden"));
  EXPECT_EQ(r.coder, cls("!FormerHidden"));
  EXPECT_EQ(r.superclass, cls("FormerVisible"));
}

TEST(HiddenClass, ClassObjectsKeepNSObjectsClassMethod) {
  Class hidden = cls("!FormerHidden");
  ASSERT_NE(hidden, nullptr);
  EXPECT_EQ(objc_send<Class>(hidden, "class"), hidden);
}

/* ======================= The category itself ======================= */

TEST(FormerCategory, ListsItsMethodsInOrderWithTheirEncodings) {
  const char *const names[] = {"classForCoder", "superclass", "class",
                               "formerMethodForSelector:"};
  const char *const types[] = {"#8@0:4", "#8@0:4", "#8@0:4", "^?12@0:4:8"};
  Class root = cls("NSObject");
  IMP ours = current("NSObject", "classForCoder");
  struct objc_method_list *found = nullptr;
  void *iterator = nullptr;
  while (struct objc_method_list *list = class_nextMethodList(root, &iterator))
    if (list->method_count > 0 && list->method_list[0].method_imp == ours)
      found = list;
  ASSERT_NE(found, nullptr);
  ASSERT_EQ(found->method_count, 4);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(found->method_list[i].method_name, sel(names[i]));
    EXPECT_STREQ(found->method_list[i].method_types, types[i]);
  }
  Method classSide =
      class_getClassMethod(root, sel("formerInstanceMethodForSelector:"));
  ASSERT_NE(classSide, nullptr);
  EXPECT_STREQ(classSide->method_types, "^?12@0:4:8");
}

TEST(FormerCategory, ClassesOutsideNSObjectDoNotRespond) {
  Class loner = cls("FormerLoner");
  ASSERT_NE(loner, nullptr);
  for (const char *name :
       {"classForCoder", "superclass", "class",
        "formerMethodForSelector:", "formerInstanceMethodForSelector:"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(class_getInstanceMethod(loner, sel(name)), nullptr);
    EXPECT_EQ(class_getClassMethod(loner, sel(name)), nullptr);
  }
}

} // namespace
