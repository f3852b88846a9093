// Tcl comes before JavaScript, and JavaScript before Lua, among the
// available languages, so a bundle with both main.tcl and main.js runs
// main.tcl only. This program lives in
// languages.app, whose resources hold both scripts.
#include <zelStandalone/zelStandalone.h>
#include <objc/objc-load.h>
#include <Foundation/Foundation.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

OBJC_IMPORT_CLASS(NSFramework_zelJavaScript);
OBJC_IMPORT_CLASS(NSFramework_zelTcl);
OBJC_LIBRARY_REGISTRATION()

namespace {

std::vector<std::string> extensions() {
  std::vector<std::string> found;
  id languages = objc_send_class("ZELScriptingLanguage", "availableLanguages");
  id each = objc_send(languages, "objectEnumerator");
  while (id language = objc_send(each, "nextObject"))
    found.push_back(objc_send<const char *>(
        objc_send(language, "fileExtension"), "cString"));
  return found;
}

TEST(LanguageOrder, TclComesBeforeJavaScriptAndJavaScriptBeforeLua) {
  id pool = objc_send(objc_send_class("NSAutoreleasePool", "alloc"), "init");
  EXPECT_EQ(extensions(), (std::vector<std::string>{"tcl", "js", "lua"}));
  objc_send<void>(pool, "release");
}

TEST(LanguageOrder, BundleWithBothMainScriptsRunsTheTclOne) {
  GTEST_FLAG_SET(death_test_style, "fast");
  char program[] = "languages";
  char *arguments[] = {program, nullptr};
  EXPECT_EXIT(ZELApplicationMain(1, arguments), testing::ExitedWithCode(1),
              "^main\\.tcl ran\n$");
}

} // namespace
