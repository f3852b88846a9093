// Object notifications in a process that has NXProxy: order of records,
// the allocation switch, reallocation, deallocation and the proxy methods.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include <objc/objc-load.h>
#include <zelObjCRuntime/zelObjCRuntime.h>

OBJC_IMPORT_CLASS(NXProxy); // loads the library that has the class

namespace {

struct Event {
  char kind;  // r register, m move, u unregister, D dealloc, F freeProxy
  int record; // which IdHooks record (0 for the runtime side)
  id a;
  id b;
};

std::vector<Event> events;
id watched = nullptr;
Class isaSeenInHook = nullptr;

template <int R> void registerId(id o) { events.push_back({'r', R, o, 0}); }
template <int R> void moveId(id o, id n) { events.push_back({'m', R, o, n}); }
template <int R> void unregisterId(id o) {
  if (o && o == watched)
    isaSeenInHook = o->isa;
  events.push_back({'u', R, o, 0});
}

IdHooks recordA = {registerId<1>, moveId<1>, unregisterId<1>, nullptr};
IdHooks recordB = {registerId<2>, moveId<2>, unregisterId<2>, nullptr};
IdHooks recordC = {registerId<3>, moveId<3>, unregisterId<3>, nullptr};

// Stand-ins installed before the first record, so that they are what the
// library saves and calls: they see the arguments and decide about moving.
id (*realDealloc)(id);
bool moveOnRealloc = false;
bool failRealloc = false;
unsigned lastSize;
void *lastZone;

id fakeDealloc(id o) {
  events.push_back({'D', 0, o, 0});
  return realDealloc(o);
}

id reallocTo(id o, unsigned size) {
  lastSize = size;
  if (failRealloc)
    return nil;
  if (!moveOnRealloc)
    return o;
  id moved = static_cast<id>(calloc(1, size));
  moved->isa = o->isa;
  return moved;
}

id fakeRealloc(id o, unsigned size) {
  lastZone = nullptr;
  return reallocTo(o, size);
}

id fakeZoneRealloc(id o, unsigned size, void *zone) {
  lastZone = zone;
  return reallocTo(o, size);
}

IMP realFreeProxy;
id fakeFreeProxy(id self, SEL cmd) {
  events.push_back({'F', 0, self, 0});
  return reinterpret_cast<id (*)(id, SEL)>(realFreeProxy)(self, cmd);
}

id fakeDecodeUsing(id self, SEL, id coder) { return coder ? coder : self; }

Class proxyClass() {
  return reinterpret_cast<Class>(objc_lookUpClass("NXProxy"));
}

void replaceProxyMethods() {
  Class proxy = proxyClass();
  if (!proxy)
    return;
  Method m = class_getInstanceMethod(proxy, sel_registerName("freeProxy"));
  if (m) {
    realFreeProxy = m->method_imp;
    m->method_imp = reinterpret_cast<IMP>(fakeFreeProxy);
  }
  m = class_getInstanceMethod(proxy, sel_registerName("decodeUsing:"));
  if (m)
    m->method_imp = reinterpret_cast<IMP>(fakeDecodeUsing);
}

void installOnce() {
  static bool installed = false;
  if (installed)
    return;
  installed = true;
  realDealloc = _dealloc;
  _dealloc = fakeDealloc;
  _realloc = fakeRealloc;
  _zoneRealloc = fakeZoneRealloc;
  replaceProxyMethods();
  zelObjC_InstallIdHooks(&recordA);
}

void installBOnce() {
  static bool installed = false;
  if (!installed)
    zelObjC_InstallIdHooks(&recordB);
  installed = true;
}

std::vector<Event> eventsFor(id o, int record = 1) {
  std::vector<Event> found;
  for (const Event &e : events)
    if ((e.a == o || e.b == o) && (e.record == record || e.record == 0))
      found.push_back(e);
  return found;
}

Class objectClass() {
  return reinterpret_cast<Class>(objc_getClass("NSObject"));
}

class IdHooksTest : public ::testing::Test {
protected:
  void SetUp() override {
    installOnce();
    zelObjC_SetRegistersIdsOnAlloc(NO);
    events.clear();
    watched = nullptr;
    isaSeenInHook = nullptr;
    moveOnRealloc = false;
    failRealloc = false;
  }
};

// Records of one kind of notification, in calling order, A and B only.
std::vector<int> callersOf(char kind, id o) {
  std::vector<int> callers;
  for (const Event &e : events)
    if (e.kind == kind && e.a == o && (e.record == 1 || e.record == 2))
      callers.push_back(e.record);
  return callers;
}

TEST_F(IdHooksTest, LaterRecordsAreCalledFirst) {
  installBOnce();
  EXPECT_EQ(recordB.next, &recordA);
  id o = class_createInstance(objectClass(), 0);
  events.clear();
  ZelObjC_RegisterId(o);
  EXPECT_EQ(callersOf('r', o), (std::vector<int>{2, 1}));
  object_dispose(o);
  EXPECT_EQ(callersOf('u', o), (std::vector<int>{2, 1}));
}

TEST_F(IdHooksTest, SecondInstallationDoesNotHookAgain) {
  auto dealloc = _dealloc;
  auto reallocFn = _realloc;
  auto zoneRealloc = _zoneRealloc;
  EXPECT_NE(dealloc, fakeDealloc); // the first record replaced it
  static bool cInstalled = false;
  if (!cInstalled)
    zelObjC_InstallIdHooks(&recordC);
  cInstalled = true;
  EXPECT_EQ(_dealloc, dealloc);
  EXPECT_EQ(_realloc, reallocFn);
  EXPECT_EQ(_zoneRealloc, zoneRealloc);
  // Had the replacement been saved as its own predecessor, this would
  // never return; each record hears of the object once.
  id o = class_createInstance(objectClass(), 0);
  events.clear();
  object_dispose(o);
  int perRecord[4] = {0, 0, 0, 0};
  for (const Event &e : events)
    if (e.a == o && e.kind == 'u')
      ++perRecord[e.record];
  EXPECT_EQ(perRecord[1], 1);
  EXPECT_EQ(perRecord[3], 1);
}

TEST_F(IdHooksTest, AllocationNotifiesOnlyWhileSwitchedOn) {
  Class cls = objectClass();
  auto runtimeAlloc = _alloc;
  id quiet = class_createInstance(cls, 0);
  EXPECT_TRUE(eventsFor(quiet).empty());
  EXPECT_EQ(zelObjC_RegistersIdsOnAlloc(), 0);

  zelObjC_SetRegistersIdsOnAlloc(YES);
  zelObjC_SetRegistersIdsOnAlloc(YES); // one switch, not two
  EXPECT_EQ(zelObjC_RegistersIdsOnAlloc(), 1);
  id loud = class_createInstance(cls, 0);
  id zoned = class_createInstanceFromZone(cls, 0, NSDefaultMallocZone());
  for (id o : {loud, zoned}) {
    std::vector<Event> seen = eventsFor(o);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].kind, 'r');
    EXPECT_EQ(seen[0].a->isa, cls);
  }

  zelObjC_SetRegistersIdsOnAlloc(NO);
  EXPECT_EQ(_alloc, runtimeAlloc);
  id quietAgain = class_createInstance(cls, 0);
  EXPECT_TRUE(eventsFor(quietAgain).empty());
  for (id o : {quiet, loud, zoned, quietAgain})
    object_dispose(o);
}

TEST_F(IdHooksTest, CopyNotifiesOnlyWhileSwitchedOn) {
  id original = class_createInstance(objectClass(), 0);
  id quiet = object_copy(original, 0);
  EXPECT_TRUE(eventsFor(quiet).empty());
  zelObjC_SetRegistersIdsOnAlloc(YES);
  id loud = object_copy(original, 0);
  id zoned = object_copyFromZone(original, 0, NSDefaultMallocZone());
  zelObjC_SetRegistersIdsOnAlloc(NO);
  for (id o : {loud, zoned}) {
    std::vector<Event> seen = eventsFor(o);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].kind, 'r');
  }
  EXPECT_TRUE(eventsFor(original).empty());
  id quietAgain = object_copy(original, 0);
  EXPECT_TRUE(eventsFor(quietAgain).empty());
  for (id o : {original, quiet, loud, zoned, quietAgain})
    object_dispose(o);
}

TEST_F(IdHooksTest, MovingReallocationAnnouncesOldThenNew) {
  id o = class_createInstance(objectClass(), 0);
  moveOnRealloc = true;
  id moved = object_realloc(o, 64);
  EXPECT_EQ(lastSize, 64u);
  ASSERT_NE(moved, o);
  std::vector<Event> seen = eventsFor(o);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].kind, 'm');
  EXPECT_EQ(seen[0].a, o);
  EXPECT_EQ(seen[0].b, moved);

  events.clear();
  void *zone = NSDefaultMallocZone();
  id movedAgain = object_reallocFromZone(moved, 96, zone);
  EXPECT_EQ(lastSize, 96u);
  EXPECT_EQ(lastZone, zone);
  seen = eventsFor(moved);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].b, movedAgain);
  free(moved);
  free(movedAgain);
  object_dispose(o);
}

TEST_F(IdHooksTest, InPlaceReallocationNotifiesNobody) {
  id o = class_createInstance(objectClass(), 0);
  EXPECT_EQ(object_realloc(o, 8), o);
  EXPECT_EQ(object_reallocFromZone(o, 8, NSDefaultMallocZone()), o);
  EXPECT_TRUE(eventsFor(o).empty());
  object_dispose(o);
}

// A reallocation that fails answers nil while the old object lives on:
// announcing a move to nil would make a registry drop a live object.
TEST_F(IdHooksTest, FailedReallocationAnnouncesNoMove) {
  id o = class_createInstance(objectClass(), 0);
  failRealloc = true;
  EXPECT_EQ(object_realloc(o, 64), nil);
  EXPECT_EQ(object_reallocFromZone(o, 64, NSDefaultMallocZone()), nil);
  EXPECT_TRUE(eventsFor(o).empty());
  failRealloc = false;
  object_dispose(o);
}

// Installing a record that is already in the list links nothing: a second
// link would make the list a loop that no notification leaves.
TEST_F(IdHooksTest, InstallingARecordAgainKeepsTheList) {
  installBOnce();
  IdHooks *before = recordB.next;
  zelObjC_InstallIdHooks(&recordB);
  zelObjC_InstallIdHooks(&recordA);
  EXPECT_EQ(recordB.next, before);
  id o = class_createInstance(objectClass(), 0);
  events.clear();
  ZelObjC_RegisterId(o);
  EXPECT_EQ(callersOf('r', o), (std::vector<int>{2, 1}));
  object_dispose(o);
}

TEST_F(IdHooksTest, DeallocationIsAnnouncedWhileTheObjectIsIntact) {
  Class cls = objectClass();
  id o = class_createInstance(cls, 0);
  watched = o;
  object_dispose(o);
  std::vector<Event> seen = eventsFor(o);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].kind, 'u');
  EXPECT_EQ(seen[1].kind, 'D'); // the runtime's own function comes after
  EXPECT_EQ(isaSeenInHook, cls);
}

TEST_F(IdHooksTest, ExplicitAnnouncementsAreNotDeduplicated) {
  id o = class_createInstance(objectClass(), 0);
  EXPECT_EQ(ZelObjC_RegisterId(o), o);
  EXPECT_EQ(ZelObjC_RegisterId(o), o);
  id stranger = reinterpret_cast<id>(&recordC);
  ZelObjC_UnregisterId(stranger);
  EXPECT_EQ(eventsFor(o).size(), 2u);
  EXPECT_EQ(eventsFor(stranger).size(), 1u);
  object_dispose(o);
}

class ProxyHooksTest : public IdHooksTest {
protected:
  void SetUp() override {
    IdHooksTest::SetUp();
    ASSERT_NE(proxyClass(), nullptr) << "NXProxy is linked in";
  }
};

TEST_F(ProxyHooksTest, FreeingAProxyIsAnnouncedFirst) {
  id proxy = class_createInstance(proxyClass(), 0);
  watched = proxy;
  events.clear();
  objc_send(proxy, "freeProxy");
  std::vector<Event> seen = eventsFor(proxy);
  ASSERT_GE(seen.size(), 2u);
  EXPECT_EQ(seen[0].kind, 'u');
  EXPECT_EQ(seen[1].kind, 'F');
  EXPECT_EQ(isaSeenInHook, proxyClass());
}

TEST_F(ProxyHooksTest, DecodingIntoAnotherObjectIsAMove) {
  id proxy = class_createInstance(proxyClass(), 0);
  id other = class_createInstance(objectClass(), 0);
  events.clear();
  EXPECT_EQ(objc_send(proxy, "decodeUsing:", other), other);
  std::vector<Event> seen = eventsFor(proxy);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].kind, 'm');
  EXPECT_EQ(seen[0].b, other);

  events.clear();
  EXPECT_EQ(objc_send(proxy, "decodeUsing:", id(nullptr)), proxy);
  EXPECT_TRUE(eventsFor(proxy).empty());
  object_dispose(other);
  object_dispose(proxy);
}

} // namespace
