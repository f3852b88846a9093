// NSApplication's sendEvent: as replaced by zelStandalone: the former
// dispatch runs inside an exception frame; an exception is presented by the
// first language that claims it, or in an alert offering to quit.
#include "event_probe.h"

#include <zelStandalone/zelStandalone.h>

#include <gtest/gtest.h>

OBJC_LIBRARY_REGISTRATION()

namespace {

using recording::Behaviour;
using Journal = std::vector<std::string>;

const Behaviour setupFailure = {"setup", "none", false, true};
const Behaviour bystander = {"bystander", "none", false, false};
const Behaviour claiming = {"claiming", "none", true, false};
const Behaviour alsoClaiming = {"alsoClaiming", "none", true, false};

char program[] = "presentation";
char *arguments[] = {program, nullptr};

// ZELApplicationMain keeps the former dispatch before anything can fail:
// a language that raises at once, claimed by none, brings it back here.
void storeFormerDispatch() {
  recording::enroll(setupFailure);
  NS_DURING
  ZELApplicationMain(1, arguments);
  NS_HANDLER
  NS_ENDHANDLER
}

class ExceptionPresentation : public testing::Test {
protected:
  static void SetUpTestSuite() {
    objc_send(objc_send_class("NSAutoreleasePool", "alloc"), "init");
    recording::withdrawAllLanguages();
    storeFormerDispatch();
    application_ = objc_send_class("NSApplication", "sharedApplication");
  }

  void SetUp() override {
    pool_ = objc_send(objc_send_class("NSAutoreleasePool", "alloc"), "init");
    recording::withdrawAllLanguages();
    recording::journal().clear();
    probe::alerts().clear();
    probe::alertAnswer() = NSAlertDefaultReturn;
    probe::terminations() = 0;
    probe::terminatedBy() = nil;
    NSSetAlertPanelResponder(probe::respond);
  }

  void TearDown() override {
    NSSetAlertPanelResponder(nullptr);
    objc_send<void>(pool_, "release");
  }

  void send(const char *action) {
    objc_send<void>(application_, "sendEvent:", probe::event(action));
  }

  static id application_;
  id pool_ = nil;
};

id ExceptionPresentation::application_ = nil;

TEST_F(ExceptionPresentation, CleanEventIsDispatchedOnceAndNothingElse) {
  recording::enroll(claiming);
  send("fire:");
  EXPECT_EQ(recording::journal(), Journal{"fired"});
  EXPECT_TRUE(probe::alerts().empty());
  EXPECT_EQ(probe::terminations(), 0);
}

TEST_F(ExceptionPresentation, FirstClaimingLanguageAlonePresents) {
  recording::enroll(bystander);
  recording::enroll(claiming);
  recording::enroll(alsoClaiming);
  send("explode:");
  EXPECT_EQ(
      recording::journal(),
      Journal({"exploded", "bystander isResponsibleForException: Explosion",
               "claiming isResponsibleForException: Explosion",
               "claiming presentException: Explosion"}));
  EXPECT_TRUE(probe::alerts().empty());
}

TEST_F(ExceptionPresentation, UnclaimedExceptionShowsItsReasonVerbatim) {
  recording::enroll(bystander);
  send("explode:");
  EXPECT_EQ(
      recording::journal(),
      Journal({"exploded", "bystander isResponsibleForException: Explosion"}));
  ASSERT_EQ(probe::alerts().size(), 1u);
  const probe::Alert &alert = probe::alerts()[0];
  EXPECT_EQ(alert.title, "Explosion");
  EXPECT_EQ(alert.message, "100% of %s and %@ went %d ways");
  EXPECT_EQ(alert.defaultButton, "Continue");
  EXPECT_EQ(alert.alternateButton, "Quit");
  EXPECT_EQ(alert.otherButton, "nil");
  EXPECT_EQ(probe::terminations(), 0);
}

TEST_F(ExceptionPresentation, QuitTerminatesOnceWithTheApplication) {
  probe::alertAnswer() = NSAlertAlternateReturn;
  send("explode:");
  EXPECT_EQ(probe::alerts().size(), 1u);
  EXPECT_EQ(probe::terminations(), 1);
  EXPECT_EQ(probe::terminatedBy(), application_);
}

TEST_F(ExceptionPresentation, ContinueKeepsDispatchingTheNextEvents) {
  probe::alertAnswer() = NSAlertDefaultReturn;
  send("explode:");
  send("fire:");
  send("explode:");
  send("fire:");
  EXPECT_EQ(recording::journal(),
            Journal({"exploded", "fired", "exploded", "fired"}));
  EXPECT_EQ(probe::alerts().size(), 2u);
  EXPECT_EQ(probe::terminations(), 0);
}

TEST_F(ExceptionPresentation, OtherAnswersCountAsContinue) {
  probe::alertAnswer() = NSAlertOtherReturn;
  send("explode:");
  EXPECT_EQ(probe::terminations(), 0);
}

TEST_F(ExceptionPresentation, EventsPostedToTheRunLoopPassThrough) {
  id application = application_;
  objc_send<void>(application, "postEvent:atStart:", probe::event("explode:"),
                  NO);
  objc_send<void>(application, "postEvent:atStart:", probe::event("fire:"), NO);
  objc_send<void>(application, "run");
  EXPECT_EQ(recording::journal(), Journal({"exploded", "fired"}));
  EXPECT_EQ(probe::alerts().size(), 1u);
}

} // namespace
