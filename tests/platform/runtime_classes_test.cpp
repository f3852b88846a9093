// The class table, class lookups, module registration (superclasses and
// categories that arrive late, selector references, protocols) and classes
// added and removed at run time.
#include <objc/objc-load.h>
#include <objc/objc-send.h>

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

using namespace objc_module_records;

namespace {

id Root_new(id self, SEL) {
  return class_createInstance(reinterpret_cast<Class>(self), 0);
}
int Root_value(id, SEL) { return 1; }
int Root_categoryValue(id, SEL) { return 2; }
int Late_own(id, SEL) { return 10; }
int Late_shadowed(id, SEL) { return 11; }
int LateCat_extra(id, SEL) { return 12; }
int LateCat_shadowed(id, SEL) { return 13; }
int LateCat_classExtra(id, SEL) { return 14; }

// ---- TabRoot, adopting a protocol that incorporates another ----

MethodDescriptionList<1> Base_protocolMethods = {
    1,
    {{reinterpret_cast<SEL>(const_cast<char *>("baseThing")),
      const_cast<char *>("v8@0:4")}}};
struct objc_protocol BaseProtocol = {
    nullptr, "TabBaseProtocol", nullptr,
    reinterpret_cast<struct objc_method_description_list *>(
        &Base_protocolMethods),
    nullptr};
ProtocolList<1> Derived_incorporated = {
    nullptr, 1, {reinterpret_cast<id>(&BaseProtocol)}};
struct objc_protocol DerivedProtocol = {
    nullptr, "TabDerivedProtocol", OBJC_PROTOCOL_LIST(Derived_incorporated),
    nullptr, nullptr};
ProtocolList<1> Root_protocols = {
    nullptr, 1, {reinterpret_cast<id>(&DerivedProtocol)}};

MethodList<1> Root_cmethods = {
    nullptr, 1, {OBJC_DERIVED_METHOD("new", Root_new)}};
MethodList<1> Root_imethods = {
    nullptr, 1, {OBJC_DERIVED_METHOD("value", Root_value)}};
IvarList<2> Root_ivars = {2, {{"isa", "#", 0}, {"count", "i", 4}}};
struct objc_class Root_meta = {nullptr,   nullptr,
                               "TabRoot", 0,
                               CLS_META,  sizeof(struct objc_class),
                               nullptr,   OBJC_MODULE_METHODS(Root_cmethods),
                               nullptr,   nullptr};
struct objc_class Root_class = {&Root_meta,
                                nullptr,
                                "TabRoot",
                                0,
                                CLS_CLASS,
                                8,
                                OBJC_IVAR_LIST(Root_ivars),
                                OBJC_MODULE_METHODS(Root_imethods),
                                nullptr,
                                OBJC_PROTOCOL_LIST(Root_protocols)};
struct objc_class Leaf_meta = {
    nullptr, nullptr, "TabLeaf", 0,      CLS_META, sizeof(struct objc_class),
    nullptr, nullptr, nullptr,   nullptr};
struct objc_class Leaf_class = {&Leaf_meta, OBJC_SUPER_NAME("TabRoot"),
                                "TabLeaf",  0,
                                CLS_CLASS,  8,
                                nullptr,    nullptr,
                                nullptr,    nullptr};

SEL Root_refs[2] = {reinterpret_cast<SEL>(const_cast<char *>("value")),
                    reinterpret_cast<SEL>(const_cast<char *>("tabRef:"))};
Symtab<2> symtab = {2, Root_refs, 2, 0, {&Root_class, &Leaf_class}};
struct objc_module module = {OBJC_MODULE_VERSION, sizeof(struct objc_module),
                             __FILE__,
                             reinterpret_cast<struct objc_symtab *>(&symtab)};

Class classNamed(const char *name) {
  return reinterpret_cast<Class>(objc_lookUpClass(name));
}

void registerModule(struct objc_module *m) {
  objc_register_header("test");
  __objc_execClass(m);
  objc_finish_header();
}

std::map<std::string, int> enumerateClassTable() {
  std::map<std::string, int> seen;
  NXHashTable *table = objc_getClasses();
  NXHashState state = NXInitHashState(table);
  void *data;
  while (NXNextHashState(table, &state, &data))
    ++seen[static_cast<Class>(data)->name];
  return seen;
}

TEST(ClassTable, EnumeratesEachClassOnceAndNoMetaclass) {
  std::map<std::string, int> seen = enumerateClassTable();
  EXPECT_EQ(seen["TabRoot"], 1);
  EXPECT_EQ(seen["TabLeaf"], 1);
  EXPECT_EQ(seen["Protocol"], 1);
  unsigned total = 0;
  for (auto &entry : seen) {
    EXPECT_EQ(entry.second, 1) << entry.first;
    total += entry.second;
  }
  EXPECT_EQ(total, NXCountHashTable(objc_getClasses()));
  NXHashTable *table = objc_getClasses();
  NXHashState state = NXInitHashState(table);
  void *data;
  while (NXNextHashState(table, &state, &data))
    EXPECT_TRUE(static_cast<Class>(data)->info & CLS_CLASS);
}

TEST(ClassTable, LookupsFindLoadedClassesOnly) {
  EXPECT_EQ(classNamed("TabRoot"), &Root_class);
  EXPECT_EQ(reinterpret_cast<Class>(objc_getClass("TabLeaf")), &Leaf_class);
  EXPECT_EQ(reinterpret_cast<Class>(objc_getMetaClass("TabRoot")), &Root_meta);
  EXPECT_EQ(objc_lookUpClass("TabNoSuchClass"), nil);
  EXPECT_EQ(objc_getClass("TabNoSuchClass"), nil);
  EXPECT_EQ(objc_lookUpClass(nullptr), nil);
  std::map<std::string, int> seen = enumerateClassTable();
  EXPECT_EQ(seen.count("TabNoSuchClass"), 0u);
}

TEST(ClassTable, ModuleClassesAreLinked) {
  EXPECT_EQ(Root_class.super_class, nullptr);
  EXPECT_EQ(Root_meta.isa, &Root_meta);
  EXPECT_EQ(Root_meta.super_class, &Root_class);
  EXPECT_EQ(Leaf_class.super_class, &Root_class);
  EXPECT_EQ(Leaf_meta.isa, &Root_meta);
  EXPECT_EQ(Leaf_meta.super_class, &Root_meta);
  EXPECT_TRUE(Leaf_meta.info & CLS_META);
  EXPECT_NE(Leaf_class.cache, nullptr);
  EXPECT_NE(Leaf_meta.cache, nullptr);
  // A list given in the module now sits in an array, selectors unique.
  void *it = nullptr;
  struct objc_method_list *list = class_nextMethodList(&Root_class, &it);
  ASSERT_EQ(list, OBJC_METHOD_LIST(Root_imethods));
  EXPECT_EQ(list->method_list[0].method_name, sel_registerName("value"));
  EXPECT_EQ(class_nextMethodList(&Root_class, &it), nullptr);
  it = nullptr;
  EXPECT_EQ(class_nextMethodList(&Leaf_class, &it), nullptr);
}

TEST(ClassTable, InstanceVariablesAreFoundThroughSuperclasses) {
  Ivar count = class_getInstanceVariable(&Leaf_class, "count");
  ASSERT_NE(count, nullptr);
  EXPECT_EQ(count->ivar_offset, 4);
  EXPECT_STREQ(count->ivar_type, "i");
  EXPECT_EQ(class_getInstanceVariable(&Leaf_class, "missing"), nullptr);
  EXPECT_EQ(class_getInstanceVariable(&Leaf_class, nullptr), nullptr);
}

TEST(Selectors, UniquePerNameAndReferencesFixed) {
  SEL a = sel_registerName("tabSelector:");
  std::string same = "tabSelector:";
  EXPECT_EQ(sel_registerName(same.c_str()), a);
  EXPECT_EQ(sel_getUid("tabSelector:"), a);
  EXPECT_STREQ(sel_getName(a), "tabSelector:");
  EXPECT_NE(sel_registerName("tabSelector"), a);
  EXPECT_TRUE(sel_isMapped(a));
  // Equal text elsewhere is not a selector: selectors compare by address.
  EXPECT_FALSE(sel_isMapped(reinterpret_cast<SEL>(same.c_str())));
  EXPECT_FALSE(sel_isMapped(nullptr));
  EXPECT_EQ(sel_registerName(nullptr), nullptr);
  EXPECT_EQ(sel_getName(nullptr), nullptr);
  EXPECT_EQ(Root_refs[0], sel_registerName("value"));
  EXPECT_EQ(Root_refs[1], sel_registerName("tabRef:"));
}

// ---- Late classes and categories ----

MethodList<2> LateCat_imethods = {
    nullptr,
    2,
    {OBJC_DERIVED_METHOD("extra", LateCat_extra),
     OBJC_DERIVED_METHOD("shadowed", LateCat_shadowed)}};
MethodList<1> LateCat_cmethods = {
    nullptr, 1, {OBJC_DERIVED_METHOD("classExtra", LateCat_classExtra)}};
struct objc_category LateCategory = {
    "Extra", "TabLate", OBJC_METHOD_LIST(LateCat_imethods),
    OBJC_METHOD_LIST(LateCat_cmethods), nullptr};
Symtab<1> LateCat_symtab = {0, nullptr, 0, 1, {&LateCategory}};
struct objc_module LateCat_module = {
    OBJC_MODULE_VERSION, sizeof(struct objc_module), "late-category",
    reinterpret_cast<struct objc_symtab *>(&LateCat_symtab)};

MethodList<2> Late_imethods = {
    nullptr,
    2,
    {OBJC_DERIVED_METHOD("own", Late_own),
     OBJC_DERIVED_METHOD("shadowed", Late_shadowed)}};
MethodList<1> Late_cmethods = {
    nullptr, 1, {OBJC_DERIVED_METHOD("new", Root_new)}};
struct objc_class Late_meta = {nullptr,   nullptr,
                               "TabLate", 0,
                               CLS_META,  sizeof(struct objc_class),
                               nullptr,   OBJC_MODULE_METHODS(Late_cmethods),
                               nullptr,   nullptr};
struct objc_class Late_class = {&Late_meta, OBJC_SUPER_NAME("TabLateBase"),
                                "TabLate",  0,
                                CLS_CLASS,  4,
                                nullptr,    OBJC_MODULE_METHODS(Late_imethods),
                                nullptr,    nullptr};
Symtab<1> Late_symtab = {0, nullptr, 1, 0, {&Late_class}};
struct objc_module Late_module = {
    OBJC_MODULE_VERSION, sizeof(struct objc_module), "late-class",
    reinterpret_cast<struct objc_symtab *>(&Late_symtab)};

struct objc_class LateBase_meta = {nullptr, nullptr,  "TabLateBase",
                                   0,       CLS_META, sizeof(struct objc_class),
                                   nullptr, nullptr,  nullptr,
                                   nullptr};
struct objc_class LateBase_class = {
    &LateBase_meta, nullptr, "TabLateBase", 0,      CLS_CLASS, 4,
    nullptr,        nullptr, nullptr,       nullptr};
Symtab<1> LateBase_symtab = {0, nullptr, 1, 0, {&LateBase_class}};
struct objc_module LateBase_module = {
    OBJC_MODULE_VERSION, sizeof(struct objc_module), "late-base",
    reinterpret_cast<struct objc_symtab *>(&LateBase_symtab)};

TEST(Registration, CategoryAndSubclassWaitForTheirClasses) {
  registerModule(&LateCat_module);
  EXPECT_EQ(objc_lookUpClass("TabLate"), nil);
  registerModule(&Late_module); // its superclass is still missing
  EXPECT_EQ(objc_lookUpClass("TabLate"), nil);
  registerModule(&LateBase_module);
  Class late = classNamed("TabLate");
  ASSERT_EQ(late, &Late_class);
  EXPECT_EQ(late->super_class, &LateBase_class);
  EXPECT_EQ(Late_meta.super_class, &LateBase_meta);
  EXPECT_EQ(Late_meta.isa, &LateBase_meta);

  id obj = objc_send(late, "new");
  ASSERT_NE(obj, nil);
  EXPECT_EQ(objc_send<int>(obj, "own"), 10);
  EXPECT_EQ(objc_send<int>(obj, "extra"), 12);
  EXPECT_EQ(objc_send<int>(obj, "shadowed"), 13); // the category wins
  EXPECT_EQ(objc_send<int>(late, "classExtra"), 14);
  object_dispose(obj);

  void *it = nullptr;
  EXPECT_EQ(class_nextMethodList(late, &it),
            OBJC_METHOD_LIST(LateCat_imethods));
  EXPECT_EQ(class_nextMethodList(late, &it), OBJC_METHOD_LIST(Late_imethods));
}

MethodList<1> RootCat_imethods = {
    nullptr, 1, {OBJC_DERIVED_METHOD("value", Root_categoryValue)}};
struct objc_category RootCategory = {
    "Later", "TabRoot", OBJC_METHOD_LIST(RootCat_imethods), nullptr, nullptr};
Symtab<1> RootCat_symtab = {0, nullptr, 0, 1, {&RootCategory}};
struct objc_module RootCat_module = {
    OBJC_MODULE_VERSION, sizeof(struct objc_module), "root-category",
    reinterpret_cast<struct objc_symtab *>(&RootCat_symtab)};

TEST(Registration, CategoryAfterItsClassReplacesCachedMethods) {
  id leaf = objc_send(&Leaf_class, "new");
  ASSERT_NE(leaf, nil);
  EXPECT_EQ(objc_send<int>(leaf, "value"), 1); // now cached in TabLeaf
  registerModule(&RootCat_module);
  EXPECT_EQ(objc_send<int>(leaf, "value"), 2);
  EXPECT_EQ(class_getInstanceMethod(&Leaf_class, sel_registerName("value"))
                ->method_imp,
            reinterpret_cast<IMP>(
                reinterpret_cast<void (*)(void)>(Root_categoryValue)));
  object_dispose(leaf);
}

// ---- Classes added at run time ----

TEST(Registration, AddedClassIsRegisteredAndRemovable) {
  static struct objc_class meta, cls;
  static struct objc_method_list *metaLists[16], *lists[16];
  metaLists[15] = lists[15] = END_OF_METHODS_LIST;
  meta = {Root_meta.isa, Root_class.isa,
          "TabAdded",    0,
          CLS_META | 4,  sizeof(struct objc_class),
          nullptr,       metaLists,
          nullptr,       nullptr};
  cls = {&meta, &Root_class, "TabAdded", 0,       CLS_CLASS,
         8,     nullptr,     lists,      nullptr, nullptr};
  objc_addClass(&cls);
  EXPECT_EQ(classNamed("TabAdded"), &cls);
  EXPECT_EQ(cls.cache, &_objc_empty_cache);
  EXPECT_EQ(meta.cache, &_objc_empty_cache);
  EXPECT_EQ(_objc_empty_cache.mask, 0u);
  EXPECT_EQ(_objc_empty_cache.occupied, 0u);
  EXPECT_EQ(enumerateClassTable()["TabAdded"], 1);

  id obj = objc_send(&cls, "new");
  SEL value = sel_registerName("value");
  EXPECT_EQ(objc_send<int>(obj, value),
            objc_call_imp<int>(class_getInstanceMethod(&cls, value)->method_imp,
                               obj, value));
  object_dispose(obj);

  _objc_removeClass(&cls);
  EXPECT_EQ(objc_lookUpClass("TabAdded"), nil);
  EXPECT_EQ(enumerateClassTable().count("TabAdded"), 0u);
  EXPECT_EQ(classNamed("TabRoot"), &Root_class);
}

TEST(Registration, DuplicateNameKeepsTheFirstClass) {
  static struct objc_class meta = {Root_meta.isa, Root_class.isa,
                                   "TabRoot",     0,
                                   CLS_META,      sizeof(struct objc_class),
                                   nullptr,       nullptr,
                                   nullptr,       nullptr};
  static struct objc_class cls = {&meta,     &Root_class, "TabRoot", 0,
                                  CLS_CLASS, 8,           nullptr,   nullptr,
                                  nullptr,   nullptr};
  objc_addClass(&cls);
  EXPECT_EQ(classNamed("TabRoot"), &Root_class);
  EXPECT_EQ(enumerateClassTable()["TabRoot"], 1);
}

// ---- Protocol ----

TEST(Protocols, ModuleProtocolsAreFixedUp) {
  Class protocol = classNamed("Protocol");
  ASSERT_NE(protocol, nullptr);
  EXPECT_EQ(DerivedProtocol.isa, protocol);
  EXPECT_EQ(BaseProtocol.isa, protocol);
  EXPECT_EQ(Base_protocolMethods.list[0].name, sel_registerName("baseThing"));
}

TEST(Protocols, NewNameAndConformance) {
  id derived = reinterpret_cast<id>(&DerivedProtocol);
  id base = reinterpret_cast<id>(&BaseProtocol);
  EXPECT_STREQ(objc_send<const char *>(derived, "name"), "TabDerivedProtocol");
  EXPECT_EQ(objc_send<BOOL>(derived, "conformsTo:", &BaseProtocol), YES);
  EXPECT_EQ(objc_send<BOOL>(base, "conformsTo:", &DerivedProtocol), NO);
  EXPECT_EQ(objc_send<BOOL>(base, "conformsTo:", &BaseProtocol), YES);
  using Description = struct objc_method_description *;
  Description d = objc_send<Description>(
      derived, "descriptionForInstanceMethod:", sel_registerName("baseThing"));
  ASSERT_NE(d, nullptr);
  EXPECT_STREQ(d->types, "v8@0:4");

  id fresh = objc_send_class("Protocol", "new");
  ASSERT_NE(fresh, nil);
  auto *p = reinterpret_cast<Protocol *>(fresh);
  EXPECT_EQ(p->isa, classNamed("Protocol"));
  EXPECT_STREQ(objc_send<const char *>(fresh, "name"), "");
  EXPECT_EQ(p->protocol_list, nullptr);
  EXPECT_EQ(p->instance_methods, nullptr);
  EXPECT_EQ(p->class_methods, nullptr);
  p->protocol_name = "TabBaseProtocol"; // conformance goes by name
  EXPECT_EQ(objc_send<BOOL>(derived, "conformsTo:", p), YES);
  EXPECT_EQ(
      objc_send<BOOL>(derived, "conformsTo:", static_cast<Protocol *>(nullptr)),
      NO);
}

} // namespace

OBJC_REGISTER_MODULE(module)
OBJC_LIBRARY_REGISTRATION()
