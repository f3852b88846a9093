// An event that reaches NSApplication before ZELApplicationMain has kept
// the former dispatch is dropped: nothing is dispatched, raised or shown.
#include "event_probe.h"

#include <zelStandalone/zelStandalone.h>

#include <gtest/gtest.h>

OBJC_LIBRARY_REGISTRATION()

// Nothing else here calls into zelStandalone: this reference keeps the
// linker from dropping it, so that its category is loaded.
__attribute__((used)) static void (*const linkLauncher)(int, char **) =
    ZELApplicationMain;

namespace {

TEST(EarlyEvent, IsDroppedBeforeTheFormerDispatchIsKnown) {
  id pool = objc_send(objc_send_class("NSAutoreleasePool", "alloc"), "init");
  NSSetAlertPanelResponder(probe::respond);
  id application = objc_send_class("NSApplication", "sharedApplication");
  objc_send<void>(application, "sendEvent:", probe::event("fire:"));
  objc_send<void>(application, "sendEvent:", probe::event("explode:"));
  EXPECT_TRUE(recording::journal().empty());
  EXPECT_TRUE(probe::alerts().empty());
  NSSetAlertPanelResponder(nullptr);
  objc_send<void>(pool, "release");
}

} // namespace
