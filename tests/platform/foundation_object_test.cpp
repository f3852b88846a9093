// NSObject: allocation, copying and freeing through the runtime's hooks,
// retain counts, method queries, protocol conformance by name, and
// autorelease pools (nested, per thread, one release per autorelease).
#include <Foundation/Foundation.h>
#include <objc/objc-load.h>

#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

using namespace objc_module_records;

namespace {

int Widget_answer(id, SEL) { return 42; }

// Protocols: FoWidgetProtocol incorporates FoBaseProtocol.
struct objc_protocol BaseProtocol = {nullptr, "FoBaseProtocol", nullptr,
                                     nullptr, nullptr};
ProtocolList<1> Widget_incorporated = {
    nullptr, 1, {reinterpret_cast<id>(&BaseProtocol)}};
struct objc_protocol WidgetProtocol = {nullptr, "FoWidgetProtocol",
                                       OBJC_PROTOCOL_LIST(Widget_incorporated),
                                       nullptr, nullptr};
ProtocolList<1> Widget_protocols = {
    nullptr, 1, {reinterpret_cast<id>(&WidgetProtocol)}};

MethodList<1> Widget_imethods = {
    nullptr, 1, {OBJC_DERIVED_METHOD("answer", Widget_answer)}};
struct objc_class Widget_meta = {
    nullptr, nullptr, "FoWidget", 0,      CLS_META, sizeof(struct objc_class),
    nullptr, nullptr, nullptr,    nullptr};
struct objc_class Widget_class = {
    &Widget_meta, OBJC_SUPER_NAME("NSObject"),
    "FoWidget",   0,
    CLS_CLASS,    4,
    nullptr,      OBJC_MODULE_METHODS(Widget_imethods),
    nullptr,      OBJC_PROTOCOL_LIST(Widget_protocols)};
OBJC_CLASS_RECORDS(Gadget_class, "FoGadget", "FoWidget", 4, nullptr, nullptr,
                   nullptr);

OBJC_MODULE_RECORD(module, 2, 0, &Widget_class, &Gadget_class);

} // namespace

OBJC_REGISTER_MODULE(module)
OBJC_LIBRARY_REGISTRATION()
OBJC_IMPORT_CLASS(NSObject); // loads Foundation before this module

namespace {

// ---- hooks that record what passes through the runtime ----

std::vector<id> allocated, copied, freed;
id (*savedZoneAlloc)(Class, unsigned, void *);
id (*savedZoneCopy)(id, unsigned, void *);
id (*savedDealloc)(id);

id recordZoneAlloc(Class cls, unsigned extra, void *zone) {
  id obj = savedZoneAlloc(cls, extra, zone);
  allocated.push_back(obj);
  return obj;
}
id recordZoneCopy(id obj, unsigned extra, void *zone) {
  id copy = savedZoneCopy(obj, extra, zone);
  copied.push_back(copy);
  return copy;
}
id recordDealloc(id obj) {
  freed.push_back(obj);
  return savedDealloc(obj);
}

class Hooked : public ::testing::Test {
protected:
  void SetUp() override {
    allocated.clear();
    copied.clear();
    freed.clear();
    savedZoneAlloc = _zoneAlloc;
    savedZoneCopy = _zoneCopy;
    savedDealloc = _dealloc;
    _zoneAlloc = recordZoneAlloc;
    _zoneCopy = recordZoneCopy;
    _dealloc = recordDealloc;
  }
  void TearDown() override {
    _zoneAlloc = savedZoneAlloc;
    _zoneCopy = savedZoneCopy;
    _dealloc = savedDealloc;
  }
  size_t timesFreed(id obj) {
    size_t n = 0;
    for (id f : freed)
      n += f == obj;
    return n;
  }
};

Class widgetClass() {
  return reinterpret_cast<Class>(objc_getClass("FoWidget"));
}

using ObjectLifetime = Hooked;

TEST_F(ObjectLifetime, AllocCopyAndDeallocPassTheHooks) {
  id w = objc_send(widgetClass(), "new");
  ASSERT_EQ(allocated.size(), 1u);
  EXPECT_EQ(allocated[0], w);
  EXPECT_EQ(w->isa, widgetClass());
  EXPECT_EQ(class_getName(widgetClass()), std::string("FoWidget"));
  EXPECT_EQ(widgetClass()->instance_size, 4);

  id c = objc_send(w, "copy");
  ASSERT_EQ(copied.size(), 1u);
  EXPECT_EQ(copied[0], c);
  EXPECT_NE(c, w);
  EXPECT_EQ(c->isa, widgetClass());

  objc_send<void>(c, "release");
  objc_send<void>(w, "release");
  EXPECT_EQ(timesFreed(w), 1u);
  EXPECT_EQ(timesFreed(c), 1u);
}

TEST_F(ObjectLifetime, RetainCountsLiveOutsideTheObject) {
  id w = objc_send(widgetClass(), "new");
  EXPECT_EQ(objc_send<unsigned>(w, "retainCount"), 1u);
  EXPECT_EQ(objc_send(w, "retain"), w);
  EXPECT_EQ(objc_send<unsigned>(w, "retainCount"), 2u);
  objc_send<void>(w, "release");
  EXPECT_EQ(freed.size(), 0u);
  EXPECT_EQ(w->isa, widgetClass()); // nothing but isa was written
  objc_send<void>(w, "release");
  EXPECT_EQ(timesFreed(w), 1u);
}

TEST_F(ObjectLifetime, ClassObjectsIgnoreReferenceCounting) {
  id cls = reinterpret_cast<id>(widgetClass());
  objc_send<void>(cls, "release");
  objc_send<void>(cls, "release");
  EXPECT_EQ(freed.size(), 0u);
  EXPECT_EQ(objc_send(cls, "retain"), cls);
}

// ---- queries ----

TEST(ObjectQueries, ClassAndSuperclass) {
  Class gadget = reinterpret_cast<Class>(objc_getClass("FoGadget"));
  id g = objc_send(gadget, "new");
  EXPECT_EQ(objc_send<Class>(g, "class"), gadget);
  EXPECT_EQ(objc_send<Class>(g, "superclass"), widgetClass());
  EXPECT_EQ(objc_send<Class>(g, "classForCoder"), gadget);
  EXPECT_EQ(objc_send<Class>(gadget, "class"), gadget);
  EXPECT_EQ(objc_send<Class>(gadget, "superclass"), widgetClass());
  EXPECT_TRUE(objc_send<BOOL>(g, "isKindOfClass:", widgetClass()));
  EXPECT_FALSE(objc_send<BOOL>(objc_send(widgetClass(), "new"),
                               "isKindOfClass:", gadget));
  EXPECT_TRUE(
      objc_send<BOOL>(g, "respondsToSelector:", sel_registerName("answer")));
  EXPECT_FALSE(objc_send<BOOL>(
      g, "respondsToSelector:", sel_registerName("fo_nothing")));
  EXPECT_TRUE(objc_send<BOOL>(g, "isEqual:", g));
  EXPECT_EQ(objc_send<unsigned>(g, "hash"), objc_send<unsigned>(g, "hash"));
  objc_send<void>(g, "release");
}

TEST(ObjectQueries, InstanceMethodForSelectorIncludesForwarding) {
  SEL answer = sel_registerName("answer");
  IMP imp = objc_send<IMP>(objc_getClass("FoGadget"),
                           "instanceMethodForSelector:", answer);
  EXPECT_EQ(reinterpret_cast<void *>(imp),
            reinterpret_cast<void *>(Widget_answer));
  IMP missing = objc_send<IMP>(
      objc_getClass("FoGadget"),
      "instanceMethodForSelector:", sel_registerName("fo_unknown"));
  EXPECT_EQ(missing, &_objc_msgForward);
  id g = objc_send_class("FoGadget", "new");
  EXPECT_EQ(
      reinterpret_cast<void *>(objc_send<IMP>(g, "methodForSelector:", answer)),
      reinterpret_cast<void *>(Widget_answer));
  objc_send<void>(g, "release");
}

TEST(ObjectQueries, ConformsThroughSuperclassAndIncorporatedProtocols) {
  id gadget = objc_getClass("FoGadget");
  // Compared by name: a separate protocol object of the same name counts.
  struct objc_protocol sameName = {nullptr, "FoBaseProtocol", nullptr, nullptr,
                                   nullptr};
  struct objc_protocol other = {nullptr, "FoOtherProtocol", nullptr, nullptr,
                                nullptr};
  EXPECT_TRUE(objc_send<BOOL>(
      gadget, "conformsToProtocol:", reinterpret_cast<id>(&WidgetProtocol)));
  EXPECT_TRUE(objc_send<BOOL>(
      gadget, "conformsToProtocol:", reinterpret_cast<id>(&sameName)));
  EXPECT_FALSE(objc_send<BOOL>(
      gadget, "conformsToProtocol:", reinterpret_cast<id>(&other)));
  EXPECT_FALSE(objc_send<BOOL>(objc_getClass("NSObject"), "conformsToProtocol:",
                               reinterpret_cast<id>(&WidgetProtocol)));
  EXPECT_FALSE(objc_send<BOOL>(gadget, "conformsToProtocol:", nil));
  id g = objc_send(gadget, "new");
  EXPECT_TRUE(objc_send<BOOL>(
      g, "conformsToProtocol:", reinterpret_cast<id>(&BaseProtocol)));
  objc_send<void>(g, "release");
}

TEST(ObjectQueries, DescriptionNamesTheClass) {
  id pool = objc_send(objc_send_class("NSAutoreleasePool", "alloc"), "init");
  id w = objc_send(widgetClass(), "new");
  std::string text =
      objc_send<const char *>(objc_send(w, "description"), "cString");
  EXPECT_EQ(text.rfind("<FoWidget: 0x", 0), 0u) << text;
  EXPECT_STREQ(objc_send<const char *>(objc_send(widgetClass(), "description"),
                                       "cString"),
               "FoWidget");
  objc_send<void>(w, "release");
  objc_send<void>(pool, "release");
}

// ---- autorelease pools ----

id newPool() {
  return objc_send(objc_send_class("NSAutoreleasePool", "alloc"), "init");
}

using AutoreleasePool = Hooked;

TEST_F(AutoreleasePool, ReleasesOncePerAutorelease) {
  id pool = newPool();
  id w = objc_send(widgetClass(), "new");
  objc_send(w, "retain");
  objc_send(w, "retain");
  objc_send(w, "autorelease");
  objc_send(w, "autorelease");
  EXPECT_EQ(objc_send<unsigned>(w, "retainCount"), 3u);
  objc_send<void>(pool, "release");
  EXPECT_EQ(freed.size() - timesFreed(pool), 0u);
  EXPECT_EQ(objc_send<unsigned>(w, "retainCount"), 1u);
  objc_send<void>(w, "release");
  EXPECT_EQ(timesFreed(w), 1u);
}

TEST_F(AutoreleasePool, OuterPoolReleasesInnerPoolsFirst) {
  id outer = newPool();
  id a = objc_send(objc_send(widgetClass(), "new"), "autorelease");
  id inner = newPool();
  id b = objc_send(objc_send(widgetClass(), "new"), "autorelease");
  objc_send<void>(outer, "release");
  EXPECT_EQ(timesFreed(a), 1u);
  EXPECT_EQ(timesFreed(b), 1u);
  EXPECT_EQ(timesFreed(inner), 1u);

  // The stack is empty again: a new pool works normally.
  freed.clear(); // addresses are reused
  id again = newPool();
  id c = objc_send(objc_send(widgetClass(), "new"), "autorelease");
  objc_send<void>(again, "release");
  EXPECT_EQ(timesFreed(c), 1u);
}

TEST_F(AutoreleasePool, InnerPoolLeavesOuterObjectsAlone) {
  id outer = newPool();
  id a = objc_send(objc_send(widgetClass(), "new"), "autorelease");
  id inner = newPool();
  objc_send<void>(inner, "release");
  EXPECT_EQ(timesFreed(a), 0u);
  objc_send<void>(outer, "release");
  EXPECT_EQ(timesFreed(a), 1u);
}

TEST(AutoreleasePoolThreads, EachThreadHasItsOwnStack) {
  id mainPool = newPool();
  id mine = objc_send(objc_send(widgetClass(), "new"), "retain");
  objc_send(mine, "autorelease");
  std::thread worker([] {
    id pool = newPool();
    id w = objc_send(objc_send(widgetClass(), "new"), "retain");
    objc_send(w, "autorelease");
    objc_send<void>(pool, "release");
    EXPECT_EQ(objc_send<unsigned>(w, "retainCount"), 1u);
    objc_send<void>(w, "release");
  });
  worker.join();
  EXPECT_EQ(objc_send<unsigned>(mine, "retainCount"), 2u);
  objc_send<void>(mainPool, "release");
  EXPECT_EQ(objc_send<unsigned>(mine, "retainCount"), 1u);
  objc_send<void>(mine, "release");
}

} // namespace
