// AppKit: the shared application, events posted and dispatched by -run
// (order, atStart:, stop:, exceptions leaving run), -terminate:, and the
// alert panel with a responder and without a terminal.
#include <AppKit/AppKit.h>
#include <objc/objc-load.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace objc_module_records;

namespace {

std::vector<std::string> calls;

std::string text(id str) {
  return str ? objc_send<const char *>(str, "cString") : "nil";
}

void Recorder_note(id, SEL, id event) {
  calls.push_back(text(objc_send(event, "object")));
}

void Recorder_fail(id, SEL, id) {
  objc_send<void>(objc_getClass("NSException"),
                  "raise:format:", NSInternalInconsistencyException,
                  NSSTR("event failed"));
}

MethodList<2> Recorder_imethods = {
    nullptr,
    2,
    {OBJC_DERIVED_METHOD("note:", Recorder_note),
     OBJC_DERIVED_METHOD("fail:", Recorder_fail)}};
OBJC_CLASS_RECORDS(Recorder_class, "AkRecorder", "NSObject", 4, nullptr,
                   &Recorder_imethods, nullptr);
OBJC_MODULE_RECORD(module, 1, 0, &Recorder_class);

} // namespace

OBJC_REGISTER_MODULE(module)
OBJC_LIBRARY_REGISTRATION()
OBJC_IMPORT_CLASS(NSApplication);

namespace {

class Application : public ::testing::Test {
protected:
  void SetUp() override {
    calls.clear();
    pool = objc_send_class("NSAutoreleasePool", "new");
    app = objc_send_class("NSApplication", "sharedApplication");
    recorder = objc_send_class("AkRecorder", "new");
  }
  void TearDown() override {
    objc_send<void>(recorder, "release");
    objc_send<void>(pool, "release");
  }
  id event(const char *action, id target, const char *label) {
    return objc_send_class(
        "NSEvent", "eventWithTarget:action:object:", target,
        sel_registerName(action),
        objc_send_class("NSString", "stringWithCString:", label));
  }
  void post(id e, BOOL atStart = NO) {
    objc_send<void>(app, "postEvent:atStart:", e, atStart);
  }
  id pool = nil;
  id app = nil;
  id recorder = nil;
};

TEST_F(Application, SharedApplicationIsNSApp) {
  EXPECT_NE(app, nil);
  EXPECT_EQ(app, NSApp);
  EXPECT_EQ(objc_send_class("NSApplication", "sharedApplication"), app);
}

TEST_F(Application, RunDispatchesPostedEventsInOrder) {
  post(event("note:", recorder, "b"));
  post(event("note:", recorder, "c"));
  post(event("note:", recorder, "a"), YES);
  objc_send<void>(app, "run");
  EXPECT_EQ(calls, (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_FALSE(objc_send<BOOL>(app, "isRunning"));
  objc_send<void>(app, "run"); // out of events: returns at once
  EXPECT_EQ(calls.size(), 3u);
}

TEST_F(Application, StopEndsRunAfterTheCurrentEvent) {
  post(event("note:", recorder, "first"));
  post(event("stop:", nil, "stop")); // nil target: the application
  post(event("note:", recorder, "later"));
  objc_send<void>(app, "run");
  EXPECT_EQ(calls, std::vector<std::string>{"first"});
  objc_send<void>(app, "run"); // the rest is still queued
  EXPECT_EQ(calls, (std::vector<std::string>{"first", "later"}));
}

TEST_F(Application, SendEventDispatchesDirectly) {
  objc_send<void>(app, "sendEvent:", event("note:", recorder, "now"));
  EXPECT_EQ(calls, std::vector<std::string>{"now"});
}

TEST_F(Application, ExceptionInAnEventLeavesRun) {
  post(event("fail:", recorder, "x"));
  post(event("note:", recorder, "after"));
  id volatile caught = nil;
  NS_DURING
  objc_send<void>(app, "run");
  NS_HANDLER
  caught = localException;
  NS_ENDHANDLER
  ASSERT_NE(caught, nil);
  EXPECT_EQ(text(objc_send(caught, "reason")), "event failed");
  EXPECT_FALSE(objc_send<BOOL>(app, "isRunning"));
  objc_send<void>(app, "run");
  EXPECT_EQ(calls, std::vector<std::string>{"after"});
}

TEST_F(Application, TerminateExitsWithStatusZero) {
  EXPECT_EXIT(objc_send<void>(app, "terminate:", app),
              ::testing::ExitedWithCode(0), "");
}

// ---- alert panel ----

struct PanelCall {
  std::string title, message, defaultButton, alternateButton, otherButton;
};
std::vector<PanelCall> panelCalls;

int answerAlternate(id title, id message, id def, id alt, id other) {
  panelCalls.push_back(
      {text(title), text(message), text(def), text(alt), text(other)});
  return NSAlertAlternateReturn;
}

class AlertPanel : public Application {
protected:
  void SetUp() override {
    Application::SetUp();
    panelCalls.clear();
  }
  void TearDown() override {
    NSSetAlertPanelResponder(nullptr);
    Application::TearDown();
  }
};

TEST_F(AlertPanel, ResponderGetsTheFormattedMessage) {
  NSSetAlertPanelResponder(answerAlternate);
  int answer =
      NSRunAlertPanel(NSSTR("NSRangeException"), NSSTR("index %d of %@"),
                      NSSTR("Continue"), NSSTR("Quit"), nil, 7, NSSTR("list"));
  EXPECT_EQ(answer, NSAlertAlternateReturn);
  ASSERT_EQ(panelCalls.size(), 1u);
  EXPECT_EQ(panelCalls[0].title, "NSRangeException");
  EXPECT_EQ(panelCalls[0].message, "index 7 of list");
  EXPECT_EQ(panelCalls[0].defaultButton, "Continue");
  EXPECT_EQ(panelCalls[0].alternateButton, "Quit");
  EXPECT_EQ(panelCalls[0].otherButton, "nil");
}

TEST_F(AlertPanel, MessageGivenAsArgumentIsNotReadAsFormat) {
  NSSetAlertPanelResponder(answerAlternate);
  NSRunAlertPanel(NSSTR("T"), NSSTR("%@"), NSSTR("Continue"), nil, nil,
                  NSSTR("100% %d %s"));
  ASSERT_EQ(panelCalls.size(), 1u);
  EXPECT_EQ(panelCalls[0].message, "100% %d %s");
}

TEST_F(AlertPanel, WithoutTerminalAnswersTheDefaultAndPrints) {
  if (isatty(STDIN_FILENO))
    GTEST_SKIP() << "stdin is a terminal";
  testing::internal::CaptureStderr();
  int answer = NSRunAlertPanel(NSSTR("Title"), NSSTR("Body %d"),
                               NSSTR("Continue"), NSSTR("Quit"), nil, 3);
  std::string shown = testing::internal::GetCapturedStderr();
  EXPECT_EQ(answer, NSAlertDefaultReturn);
  EXPECT_NE(shown.find("Title"), std::string::npos) << shown;
  EXPECT_NE(shown.find("Body 3"), std::string::npos) << shown;
  EXPECT_NE(shown.find("Continue"), std::string::npos) << shown;
  EXPECT_NE(shown.find("Quit"), std::string::npos) << shown;
}

} // namespace
