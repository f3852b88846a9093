// ZELApplicationMain: which language's main script runs, what it is given,
// how the process ends and what becomes of exceptions. This program lives
// in launcher.app, whose resources hold main.first and main.second.
#include "recording_language.h"

#include <zelStandalone/zelStandalone.h>

#include <gtest/gtest.h>

OBJC_LIBRARY_REGISTRATION()

namespace {

using recording::Behaviour;
using Journal = std::vector<std::string>;

const Behaviour first = {"first", "first", false, false};
const Behaviour second = {"second", "second", false, false};
const Behaviour scriptless = {"scriptless", "none", false, false};
const Behaviour claiming = {"claiming", "none", true, false};
const Behaviour alsoClaiming = {"alsoClaiming", "none", true, false};
const Behaviour failing = {"failing", "none", false, true};

char program[] = "launcher";
char alpha[] = "alpha";
char betaGamma[] = "beta gamma";
char *arguments[] = {program, alpha, betaGamma, nullptr};

void raiseScriptError() { recording::raise("ScriptError", "line 1"); }

// Runs ZELApplicationMain in a child process that must exit with status
// 1; answers what the languages heard there.
#define EXPECT_APPLICATION_EXITS_1(journalOut)                                 \
  do {                                                                         \
    EXPECT_EXIT(                                                               \
        {                                                                      \
          recording::saveJournalAtExit();                                      \
          ZELApplicationMain(3, arguments);                                    \
        },                                                                     \
        testing::ExitedWithCode(1), "");                                       \
    journalOut = recording::savedJournal();                                    \
  } while (0)

class ApplicationMain : public testing::Test {
protected:
  void SetUp() override {
    GTEST_FLAG_SET(death_test_style, "fast");
    pool_ = objc_send(objc_send_class("NSAutoreleasePool", "alloc"), "init");
    recording::withdrawAllLanguages();
    recording::journal().clear();
    recording::scriptAction() = nullptr;
    recording::journalFile() =
        testing::TempDir() + "launcher_journal_" +
        testing::UnitTest::GetInstance()->current_test_info()->name();
    std::remove(recording::journalFile().c_str());
  }
  void TearDown() override { objc_send<void>(pool_, "release"); }

  id pool_ = nil;
};

Journal askedThreeAnswers(const char *name) {
  std::string who = std::string(name) + " ";
  return {who + "fileExtension", who + "interpClass", who + "valueClass"};
}

Journal concat(std::initializer_list<Journal> parts) {
  Journal all;
  for (const Journal &part : parts)
    all.insert(all.end(), part.begin(), part.end());
  return all;
}

// What the first language with a main script is sent, in order: arguments
// as globals, "argc" before "argv", both before the script runs.
const Journal runsFirstScript = {"mainInterp",
                                 "valueWithInt: 3",
                                 "valueWithPointer:toObjCType: *",
                                 "set argc=3 global",
                                 "set argv=launcher|alpha|beta gamma global",
                                 "source main.first"};

TEST_F(ApplicationMain, RunsOnlyTheFirstMainScriptAfterPassingOverOthers) {
  recording::enroll(scriptless);
  recording::enroll(first);
  recording::enroll(second);
  Journal heard;
  EXPECT_APPLICATION_EXITS_1(heard);
  EXPECT_EQ(heard, concat({askedThreeAnswers("scriptless"),
                           askedThreeAnswers("first"), runsFirstScript}));
}

TEST_F(ApplicationMain, SecondLanguageRunsWhenFirstHasNoScript) {
  recording::enroll(scriptless);
  recording::enroll(second);
  Journal heard;
  EXPECT_APPLICATION_EXITS_1(heard);
  ASSERT_FALSE(heard.empty());
  EXPECT_EQ(heard.back(), "source main.second");
}

TEST_F(ApplicationMain, ExitsWithStatusOneWhenNoLanguageHasAScript) {
  recording::enroll(scriptless);
  Journal heard;
  EXPECT_APPLICATION_EXITS_1(heard);
  EXPECT_EQ(heard, askedThreeAnswers("scriptless"));
}

TEST_F(ApplicationMain, ExitsWithStatusOneWithoutAnyLanguage) {
  Journal heard;
  EXPECT_APPLICATION_EXITS_1(heard);
  EXPECT_TRUE(heard.empty());
}

TEST_F(ApplicationMain, ClaimedScriptErrorIsLoggedOnceByFirstClaimant) {
  recording::enroll(first);
  recording::enroll(scriptless);
  recording::enroll(claiming);
  recording::enroll(alsoClaiming);
  recording::scriptAction() = raiseScriptError;
  Journal heard;
  EXPECT_APPLICATION_EXITS_1(heard);
  EXPECT_EQ(heard, concat({askedThreeAnswers("first"),
                           runsFirstScript,
                           {"first isResponsibleForException: ScriptError",
                            "scriptless isResponsibleForException: ScriptError",
                            "claiming isResponsibleForException: ScriptError",
                            "claiming logException: ScriptError"}}));
}

TEST_F(ApplicationMain, ClaimedErrorDuringTheWalkEndsTheSameWay) {
  recording::enroll(failing);
  recording::enroll(claiming);
  Journal heard;
  EXPECT_APPLICATION_EXITS_1(heard);
  EXPECT_EQ(heard, Journal({"failing fileExtension",
                            "failing isResponsibleForException: "
                            "ExtensionFailure",
                            "claiming isResponsibleForException: "
                            "ExtensionFailure",
                            "claiming logException: ExtensionFailure"}));
}

id escaped = nil;

// Nothing with a destructor may live inside the frame.
void runCatching() {
  escaped = nil;
  NS_DURING
  ZELApplicationMain(3, arguments);
  NS_HANDLER
  escaped = localException;
  NS_ENDHANDLER
}

TEST_F(ApplicationMain, UnclaimedExceptionLeavesUnchanged) {
  recording::enroll(first);
  recording::enroll(scriptless);
  recording::scriptAction() = raiseScriptError;
  runCatching();
  ASSERT_NE(escaped, nil);
  EXPECT_EQ(escaped, recording::lastRaised());
  EXPECT_EQ(recording::text(objc_send(escaped, "name")), "ScriptError");
  EXPECT_EQ(recording::text(objc_send(escaped, "reason")), "line 1");
  EXPECT_EQ(recording::journal(),
            concat({askedThreeAnswers("first"),
                    runsFirstScript,
                    {"first isResponsibleForException: ScriptError",
                     "scriptless isResponsibleForException: ScriptError"}}));
}

// Autoreleased by the script just before it fails.
id keptByThePool = nil;

void autoreleaseThenFail() {
  objc_send(objc_send(keptByThePool, "retain"), "autorelease");
  recording::raise("ScriptError", "after autorelease");
}

TEST_F(ApplicationMain, UnclaimedExceptionLeavesThePoolInPlace) {
  recording::enroll(first);
  keptByThePool = objc_send_class("NSObject", "new");
  recording::scriptAction() = autoreleaseThenFail;
  runCatching();
  ASSERT_NE(escaped, nil);
  EXPECT_EQ(recording::text(objc_send(escaped, "reason")), "after autorelease");
  EXPECT_EQ(objc_send<unsigned>(keptByThePool, "retainCount"), 2u);
  objc_send<void>(pool_, "release"); // takes the launcher's pool along
  pool_ = objc_send(objc_send_class("NSAutoreleasePool", "alloc"), "init");
  EXPECT_EQ(objc_send<unsigned>(keptByThePool, "retainCount"), 1u);
  objc_send<void>(keptByThePool, "release");
}

} // namespace
