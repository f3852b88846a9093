// The Tcl language of zelTcl, as the launcher uses it: registered at load,
// values made from C, variables set and scripts sourced in the main
// interpreter, script errors raised as exceptions the language claims.
#include <zelTcl/zelTcl.h>
#include <objc/objc-load.h>
#include <Foundation/Foundation.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

OBJC_IMPORT_CLASS(NSFramework_zelTcl);
OBJC_LIBRARY_REGISTRATION()

namespace {

std::string text(id string) {
  const char *characters =
      string ? objc_send<const char *>(string, "cString") : nullptr;
  return characters ? characters : "<nil>";
}

id tclLanguage() {
  id languages = objc_send_class("ZELScriptingLanguage", "availableLanguages");
  id each = objc_send(languages, "objectEnumerator");
  while (id language = objc_send(each, "nextObject"))
    if (text(objc_send(language, "fileExtension")) == "tcl")
      return language;
  return nil;
}

id string(const char *characters) {
  return objc_send_class("NSString", "stringWithCString:", characters);
}

std::string writeScript(const char *name, const char *body) {
  std::string path = testing::TempDir() + name;
  std::ofstream(path) << body;
  return path;
}

class TclLanguage : public testing::Test {
protected:
  void SetUp() override {
    pool_ = objc_send(objc_send_class("NSAutoreleasePool", "alloc"), "init");
    language_ = tclLanguage();
    ASSERT_NE(language_, nil) << "zelTcl did not register its language";
    interpClass_ = objc_send<Class>(language_, "interpClass");
    valueClass_ = objc_send<Class>(language_, "valueClass");
  }
  void TearDown() override { objc_send<void>(pool_, "release"); }

  id source(const std::string &path) {
    return objc_send(objc_send(interpClass_, "mainInterp"),
                     "sourceFile:", string(path.c_str()));
  }

  id pool_ = nil;
  id language_ = nil;
  Class interpClass_ = Nil;
  Class valueClass_ = Nil;
};

TEST_F(TclLanguage, AnswersItsClassesAndTheFirstInterpreterIsTheMainOne) {
  EXPECT_EQ(interpClass_,
            reinterpret_cast<Class>(objc_getClass("ZELTclInterp")));
  EXPECT_EQ(valueClass_, reinterpret_cast<Class>(objc_getClass("ZELTclValue")));
  id made = objc_send(objc_send(interpClass_, "alloc"), "init");
  id main = objc_send(interpClass_, "mainInterp");
  EXPECT_EQ(made, main); // no interpreter was made before in this program
  id later = objc_send(objc_send(interpClass_, "alloc"), "init");
  EXPECT_NE(later, main);
  EXPECT_EQ(objc_send(interpClass_, "mainInterp"), main);
  objc_send<void>(later, "release");
}

TEST_F(TclLanguage, MakesValuesFromIntegersAndStringVectors) {
  char program[] = "prog", spaced[] = "b c", empty[] = "";
  char *vector[] = {program, spaced, empty, nullptr};
  EXPECT_EQ(text(objc_send(objc_send(valueClass_, "valueWithInt:", -42),
                           "description")),
            "-42");
  id list = objc_send(valueClass_, "valueWithPointer:toObjCType:",
                      static_cast<void *>(vector), const_cast<char *>("*"));
  EXPECT_EQ(text(objc_send(list, "description")), "prog {b c} {}");
  char *none[] = {nullptr};
  id emptyList = objc_send(valueClass_, "valueWithPointer:toObjCType:",
                           static_cast<void *>(none), const_cast<char *>("*"));
  EXPECT_EQ(text(objc_send(emptyList, "description")), "");
}

TEST_F(TclLanguage, ScriptSeesGlobalsSetBeforeIt) {
  char program[] = "prog", word[] = "two words";
  char *vector[] = {program, word, nullptr};
  id interp = objc_send(interpClass_, "mainInterp");
  objc_send<void>(interp, "setVariable:toValue:global:", string("argc"),
                  objc_send(valueClass_, "valueWithInt:", 2), YES);
  objc_send<void>(interp, "setVariable:toValue:global:", string("argv"),
                  objc_send(valueClass_, "valueWithPointer:toObjCType:",
                            static_cast<void *>(vector),
                            const_cast<char *>("*")),
                  YES);
  std::string path = writeScript(
      "globals.tcl", "proc show {} { global argc argv\n"
                     "  return \"$argc:[llength $argv]:[lindex $argv 1]\" }\n"
                     "show\n");
  EXPECT_EQ(text(objc_send(source(path), "description")), "2:2:two words");
}

id caught = nil;

void sourceCatching(id interp, id path) {
  caught = nil;
  NS_DURING
  objc_send(interp, "sourceFile:", path);
  NS_HANDLER
  caught = localException;
  NS_ENDHANDLER
}

TEST_F(TclLanguage, ScriptErrorRaisesAnExceptionOnlyTclClaims) {
  std::string path = writeScript("failing.tcl", "set x 1\nerror \"bad %s\"\n");
  sourceCatching(objc_send(interpClass_, "mainInterp"), string(path.c_str()));
  ASSERT_NE(caught, nil);
  EXPECT_EQ(text(objc_send(caught, "name")), "ZELTclException");
  std::string reason = text(objc_send(caught, "reason"));
  EXPECT_EQ(reason.rfind("bad %s\n", 0), 0u) << reason;
  EXPECT_NE(reason.find("while executing"), std::string::npos) << reason;
  EXPECT_TRUE(objc_send<BOOL>(language_, "isResponsibleForException:", caught));

  id other = objc_send_class(
      "NSException", "exceptionWithName:reason:userInfo:", string("Other"),
      string("bad %s"), nil);
  EXPECT_FALSE(objc_send<BOOL>(language_, "isResponsibleForException:", other));

  testing::internal::CaptureStderr();
  objc_send<void>(language_, "logException:", caught);
  std::string logged = testing::internal::GetCapturedStderr();
  EXPECT_NE(logged.find("bad %s"), std::string::npos) << logged;
}

TEST_F(TclLanguage, MissingScriptFileRaises) {
  sourceCatching(objc_send(interpClass_, "mainInterp"),
                 string("/nonexistent/main.tcl"));
  ASSERT_NE(caught, nil);
  EXPECT_EQ(text(objc_send(caught, "name")), "ZELTclException");
}

} // namespace
