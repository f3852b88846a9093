// Exceptions: handler frames (nested, left early, per thread), raising
// through objc_msgSend and through the forwarding of unknown messages,
// the assertion handler, and an exception that no frame catches.
#include <Foundation/Foundation.h>
#include <objc/objc-load.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

using namespace objc_module_records;

namespace {

void Thrower_fail(id, SEL, id reason) {
  objc_send<void>(objc_getClass("NSException"),
                  "raise:format:", NSInternalInconsistencyException,
                  NSSTR("failed: %@"), reason);
}

MethodList<1> Thrower_imethods = {
    nullptr, 1, {OBJC_DERIVED_METHOD("fail:", Thrower_fail)}};
OBJC_CLASS_RECORDS(Thrower_class, "FoThrower", "NSObject", 4, nullptr,
                   &Thrower_imethods, nullptr);
OBJC_MODULE_RECORD(module, 1, 0, &Thrower_class);

} // namespace

OBJC_REGISTER_MODULE(module)
OBJC_LIBRARY_REGISTRATION()

namespace {

std::string text(id str) {
  const char *chars = objc_send<const char *>(str, "cString");
  return chars ? chars : "";
}

class Exceptions : public ::testing::Test {
protected:
  void SetUp() override {
    pool = objc_send(objc_send_class("NSAutoreleasePool", "alloc"), "init");
    thrower = objc_send_class("FoThrower", "new");
  }
  void TearDown() override {
    objc_send<void>(thrower, "release");
    objc_send<void>(pool, "release");
  }
  id pool = nil;
  id thrower = nil;
};

TEST_F(Exceptions, RaisedThroughMessagingReachTheFrame) {
  id volatile caught = nil;
  NS_DURING
  objc_send<void>(thrower, "fail:", NSSTR("disk"));
  ADD_FAILURE() << "raise returned";
  NS_HANDLER
  caught = localException;
  NS_ENDHANDLER
  ASSERT_NE(caught, nil);
  EXPECT_EQ(text(objc_send(caught, "name")),
            "NSInternalInconsistencyException");
  EXPECT_EQ(text(objc_send(caught, "reason")), "failed: disk");
}

/* Catches in an inner frame and raises again to the outer one. */
int innerCatchesAndRaisesAgain(id thrower, int *innerSeen) {
  NS_DURING
  objc_send<void>(thrower, "fail:", NSSTR("inner"));
  NS_HANDLER(*innerSeen)++;
  objc_send<void>(localException, "raise");
  NS_ENDHANDLER
  return 0;
}

TEST_F(Exceptions, NestedFramesUnwindOneAtATime) {
  int innerSeen = 0;
  volatile int outerSeen = 0;
  NS_DURING
  innerCatchesAndRaisesAgain(thrower, &innerSeen);
  NS_HANDLER
  outerSeen++;
  EXPECT_EQ(text(objc_send(localException, "reason")), "failed: inner");
  NS_ENDHANDLER
  EXPECT_EQ(innerSeen, 1);
  EXPECT_EQ(outerSeen, 1);
}

int leaveWithValue(int value) {
  NS_DURING
  NS_VALUERETURN(value * 2, int);
  NS_HANDLER
  NS_ENDHANDLER
  return -1;
}

void leaveWithoutValue() {
  NS_DURING
  NS_VOIDRETURN;
  NS_HANDLER
  NS_ENDHANDLER
}

TEST_F(Exceptions, FramesLeftEarlyAreUnlinked) {
  volatile bool caught = false;
  NS_DURING
  EXPECT_EQ(leaveWithValue(21), 42);
  leaveWithoutValue();
  // The frames above are gone: this reaches the outer frame.
  objc_send<void>(thrower, "fail:", NSSTR("after"));
  NS_HANDLER
  caught = true;
  NS_ENDHANDLER
  EXPECT_TRUE(caught);
}

TEST_F(Exceptions, UnknownMessageRaisesInvalidArgument) {
  id volatile caught = nil;
  NS_DURING
  objc_send<void>(thrower, "fo_noSuchMethod:", 1);
  NS_HANDLER
  caught = localException;
  NS_ENDHANDLER
  ASSERT_NE(caught, nil);
  EXPECT_EQ(text(objc_send(caught, "name")), "NSInvalidArgumentException");
  std::string reason = text(objc_send(caught, "reason"));
  EXPECT_NE(reason.find("FoThrower"), std::string::npos) << reason;
  EXPECT_NE(reason.find("fo_noSuchMethod:"), std::string::npos) << reason;
}

TEST_F(Exceptions, ExceptionObjectsKeepNameReasonAndUserInfo) {
  id e = objc_send(objc_getClass("NSException"),
                   "exceptionWithName:reason:userInfo:", NSSTR("MyError"),
                   NSSTR("why"), thrower);
  EXPECT_EQ(text(objc_send(e, "name")), "MyError");
  EXPECT_EQ(text(objc_send(e, "reason")), "why");
  EXPECT_EQ(objc_send(e, "userInfo"), thrower);
  id volatile caught = nil;
  NS_DURING
  objc_send<void>(e, "raise");
  NS_HANDLER
  caught = localException;
  NS_ENDHANDLER
  EXPECT_EQ(caught, e);
}

TEST_F(Exceptions, AssertionHandlerNamesFunctionFileAndLine) {
  id handler = objc_send_class("NSAssertionHandler", "currentHandler");
  EXPECT_EQ(handler, objc_send_class("NSAssertionHandler", "currentHandler"));
  id volatile caught = nil;
  NS_DURING
  objc_send<void>(
      handler,
      "handleFailureInFunction:file:lineNumber:description:", NSSTR("lookup"),
      NSSTR("symbol.cpp"), 310, NSSTR("could not load %s!"), "PSAPI.DLL");
  NS_HANDLER
  caught = localException;
  NS_ENDHANDLER
  ASSERT_NE(caught, nil);
  EXPECT_EQ(text(objc_send(caught, "name")),
            "NSInternalInconsistencyException");
  std::string reason = text(objc_send(caught, "reason"));
  EXPECT_NE(reason.find("lookup"), std::string::npos) << reason;
  EXPECT_NE(reason.find("symbol.cpp:310"), std::string::npos) << reason;
  EXPECT_NE(reason.find("could not load PSAPI.DLL!"), std::string::npos)
      << reason;
}

/* A thread with a frame of its own catches its own exception. */
void raiseAndCatchInAThread() {
  std::thread worker([] {
    id pool = objc_send(objc_send_class("NSAutoreleasePool", "alloc"), "init");
    volatile bool caught = false;
    NS_DURING
    objc_send<void>(objc_getClass("NSException"),
                    "raise:format:", NSInvalidArgumentException,
                    NSSTR("in a thread"));
    NS_HANDLER
    caught = true;
    NS_ENDHANDLER
    EXPECT_TRUE(caught);
    objc_send<void>(pool, "release");
  });
  worker.join();
}

TEST_F(Exceptions, FramesArePerThread) {
  volatile bool mainCaught = false;
  NS_DURING
  raiseAndCatchInAThread();
  objc_send<void>(thrower, "fail:", NSSTR("main"));
  NS_HANDLER
  mainCaught = true;
  NS_ENDHANDLER
  EXPECT_TRUE(mainCaught);
}

TEST(UncaughtException, PrintsNameAndReasonAndAborts) {
  EXPECT_DEATH(
      {
        objc_send(objc_send_class("NSAutoreleasePool", "alloc"), "init");
        objc_send<void>(objc_getClass("NSException"),
                        "raise:format:", NSInvalidArgumentException,
                        NSSTR("lost %d"), 7);
      },
      "NSInvalidArgumentException.*lost 7");
}

} // namespace
