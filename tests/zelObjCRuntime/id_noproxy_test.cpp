// Object notifications in a process without NXProxy, and what happens
// before any record is installed.
#include <gtest/gtest.h>

#include <vector>

#include <zelObjCRuntime/zelObjCRuntime.h>

namespace {

std::vector<id> registered, unregistered;

void registerId(id o) { registered.push_back(o); }
void moveId(id, id) {}
void unregisterId(id o) { unregistered.push_back(o); }

IdHooks record = {registerId, moveId, unregisterId, nullptr};
bool installedHere = false;

void install() {
  if (!installedHere)
    zelObjC_InstallIdHooks(&record);
  installedHere = true;
}

Class objectClass() {
  return reinterpret_cast<Class>(objc_getClass("NSObject"));
}

int count(const std::vector<id> &list, id o) {
  int n = 0;
  for (id each : list)
    n += each == o;
  return n;
}

// Must run before the first installation in the process.
TEST(IdHooksUninstalledTest, SwitchAndAnnouncementsChangeNothing) {
  if (installedHere)
    GTEST_SKIP() << "a record is installed already in this process";
  auto alloc = _alloc;
  auto zoneAlloc = _zoneAlloc;
  auto copy = _copy;
  auto zoneCopy = _zoneCopy;
  auto dealloc = _dealloc;
  zelObjC_SetRegistersIdsOnAlloc(YES);
  EXPECT_EQ(zelObjC_RegistersIdsOnAlloc(), 0);
  EXPECT_EQ(_alloc, alloc);
  EXPECT_EQ(_zoneAlloc, zoneAlloc);
  EXPECT_EQ(_copy, copy);
  EXPECT_EQ(_zoneCopy, zoneCopy);
  EXPECT_EQ(_dealloc, dealloc);
  id o = class_createInstance(objectClass(), 0);
  EXPECT_EQ(ZelObjC_RegisterId(o), o);
  ZelObjC_UnregisterId(o);
  object_dispose(o);

  // Installing afterwards starts with the switch off.
  install();
  EXPECT_EQ(zelObjC_RegistersIdsOnAlloc(), 0);
  id quiet = class_createInstance(objectClass(), 0);
  EXPECT_EQ(count(registered, quiet), 0);
  object_dispose(quiet);
}

TEST(IdHooksWithoutProxyTest, InstallationWorksWithoutTheProxyClass) {
  ASSERT_EQ(objc_lookUpClass("NXProxy"), nullptr);
  install();
  id o = class_createInstance(objectClass(), 0);
  zelObjC_SetRegistersIdsOnAlloc(YES);
  id copy = object_copy(o, 0);
  zelObjC_SetRegistersIdsOnAlloc(NO);
  EXPECT_EQ(count(registered, copy), 1);
  object_dispose(copy);
  object_dispose(o);
  EXPECT_EQ(count(unregistered, copy), 1);
  EXPECT_EQ(count(unregistered, o), 1);
}

} // namespace
