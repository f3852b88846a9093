// The JavaScript language of zelJavaScript, as the launcher uses it:
// registered at load, values made from C, variables set and scripts sourced
// in the main interpreter, script errors raised as exceptions only this
// language claims; and bad scripts, which must never bring the process down.
#include <zelJavaScript/zelJavaScript.h>
#include <objc/objc-load.h>
#include <Foundation/Foundation.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>

OBJC_IMPORT_CLASS(NSFramework_zelJavaScript);
OBJC_LIBRARY_REGISTRATION()

namespace {

std::string text(id string) {
  const char *characters =
      string ? objc_send<const char *>(string, "cString") : nullptr;
  return characters ? characters : "<nil>";
}

id string(const char *characters) {
  return objc_send_class("NSString", "stringWithCString:", characters);
}

id languageWithExtension(const char *extension) {
  id languages = objc_send_class("ZELScriptingLanguage", "availableLanguages");
  id each = objc_send(languages, "objectEnumerator");
  while (id language = objc_send(each, "nextObject"))
    if (text(objc_send(language, "fileExtension")) == extension)
      return language;
  return nil;
}

// Test programs run side by side: each test writes files of its own.
std::string scriptPath(const char *name) {
  return testing::TempDir() +
         testing::UnitTest::GetInstance()->current_test_info()->name() + "_" +
         name;
}

std::string writeScript(const char *name, const std::string &body) {
  std::string path = scriptPath(name);
  std::ofstream(path) << body;
  return path;
}

id caught = nil;

id sourceCatching(id interp, id path) {
  caught = nil;
  id volatile result = nil;
  NS_DURING
  result = objc_send(interp, "sourceFile:", path);
  NS_HANDLER
  caught = localException;
  NS_ENDHANDLER
  return result;
}

class JavaScriptLanguage : public testing::Test {
protected:
  void SetUp() override {
    pool_ = objc_send(objc_send_class("NSAutoreleasePool", "alloc"), "init");
    language_ = languageWithExtension("js");
    ASSERT_NE(language_, nil) << "zelJavaScript did not register its language";
    interpClass_ = objc_send<Class>(language_, "interpClass");
    valueClass_ = objc_send<Class>(language_, "valueClass");
  }
  void TearDown() override { objc_send<void>(pool_, "release"); }

  id mainInterp() { return objc_send(interpClass_, "mainInterp"); }

  // The completion value of a script run in the main interpreter, as text;
  // the reason of the exception when it raised one.
  std::string run(const char *name, const std::string &body, id interp = nil) {
    std::string path = writeScript(name, body);
    id result =
        sourceCatching(interp ? interp : mainInterp(), string(path.c_str()));
    if (caught)
      return "raised: " + text(objc_send(caught, "reason"));
    return text(objc_send(result, "description"));
  }

  void set(id interp, const char *name, id value) {
    objc_send<void>(interp, "setVariable:toValue:global:", string(name), value,
                    YES);
  }

  id vector(char **strings) {
    return objc_send(valueClass_, "valueWithPointer:toObjCType:",
                     static_cast<void *>(strings), const_cast<char *>("*"));
  }

  id pool_ = nil;
  id language_ = nil;
  Class interpClass_ = Nil;
  Class valueClass_ = Nil;
};

TEST_F(JavaScriptLanguage,
       AnswersItsClassesAndTheFirstInterpreterIsTheMainOne) {
  EXPECT_EQ(interpClass_,
            reinterpret_cast<Class>(objc_getClass("ZELJSInterp")));
  EXPECT_EQ(valueClass_, reinterpret_cast<Class>(objc_getClass("ZELJSValue")));
  id made = objc_send(objc_send(interpClass_, "alloc"), "init");
  id main = mainInterp();
  EXPECT_EQ(made, main); // no interpreter was made before in this program
  id later = objc_send(objc_send(interpClass_, "alloc"), "init");
  EXPECT_NE(later, main);
  EXPECT_EQ(mainInterp(), main);
  objc_send<void>(later, "release");
}

TEST_F(JavaScriptLanguage, ArgumentVectorBecomesAnArrayOfStrings) {
  char program[] = "prog", spaced[] = "b c", empty[] = "";
  char latin1[] = "caf\xe9"; // not UTF-8: taken byte for byte
  char *strings[] = {program, spaced, empty, latin1, nullptr};
  set(mainInterp(), "argc", objc_send(valueClass_, "valueWithInt:", -42));
  set(mainInterp(), "argv", vector(strings));
  EXPECT_EQ(run("vector.js", "[typeof argc, argc, Array.isArray(argv),\n"
                             " argv instanceof Array, argv.length,\n"
                             " JSON.stringify(argv.slice(0, 3)),\n"
                             " argv[3].charCodeAt(3)].join(' ')"),
            "number -42 true true 4 [\"prog\",\"b c\",\"\"] 233");

  char *none[] = {nullptr};
  set(mainInterp(), "argv", vector(none));
  EXPECT_EQ(run("none.js", "JSON.stringify(argv)"), "[]");
  EXPECT_EQ(text(objc_send(objc_send(valueClass_, "valueWithInt:", 7),
                           "description")),
            "7");
  id other =
      objc_send(valueClass_, "valueWithPointer:toObjCType:",
                reinterpret_cast<void *>(0x1234), const_cast<char *>("^v"));
  EXPECT_EQ(text(objc_send(other, "description")), "0x00001234");
}

TEST_F(JavaScriptLanguage, InterpretersHaveTheirOwnGlobalsAndShareValues) {
  mainInterp(); // made first, so that the next one is another
  id other = objc_send(objc_send(interpClass_, "alloc"), "init");
  set(mainInterp(), "shared", objc_send(valueClass_, "valueWithInt:", 1));
  EXPECT_EQ(run("own.js", "typeof shared", other), "undefined");
  id made = sourceCatching(mainInterp(),
                           string(writeScript("made.js", "({n: 5})").c_str()));
  ASSERT_EQ(caught, nil);
  set(other, "fromMain", made);
  EXPECT_EQ(run("passed.js", "fromMain.n * 2", other), "10");
  EXPECT_EQ(run("print.js", "typeof print + typeof console.log", other),
            "functionfunction");
  // Each global has a handle object of its own for an object.
  set(other, "mainsClass",
      sourceCatching(
          mainInterp(),
          string(writeScript("class.js", "objc.class('NSObject')").c_str())));
  EXPECT_EQ(run("handles.js",
                "const own = objc.class('NSObject');\n"
                "[own === objc.classes.NSObject, own === mainsClass,\n"
                " own.equals(mainsClass)].join(' ')",
                other),
            "true false true");
  objc_send<void>(other, "release");
}

TEST_F(JavaScriptLanguage, PrintAndConsoleLogWriteLinesToStandardOutput) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  std::string result =
      run("print.js", "print('a', 1, null, [2, 3]);\nconsole.log();\n"
                      "console.log({toString() { return 'x %s'; }});\n"
                      "console.error('to stderr');\n'done'");
  std::string out = testing::internal::GetCapturedStdout();
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(result, "done");
  EXPECT_EQ(out, "a 1 null 2,3\n\nx %s\n");
  EXPECT_EQ(err, "to stderr\n");
}

TEST_F(JavaScriptLanguage, UncaughtErrorRaisesAnExceptionOnlyJavaScriptClaims) {
  std::string path =
      writeScript("throwing.js", "function inner() {\n"
                                 "  throw new TypeError('bad %s');\n"
                                 "}\n"
                                 "function outer() { inner(); }\n"
                                 "outer();\n");
  sourceCatching(mainInterp(), string(path.c_str()));
  ASSERT_NE(caught, nil);
  EXPECT_EQ(text(objc_send(caught, "name")), "ZELJavaScriptException");
  std::string reason = text(objc_send(caught, "reason"));
  EXPECT_EQ(reason.rfind(path + ":2: TypeError: bad %s\n", 0), 0u) << reason;
  EXPECT_NE(reason.find("inner@" + path + ":2:"), std::string::npos) << reason;
  EXPECT_NE(reason.find("outer@" + path + ":4:"), std::string::npos) << reason;
  EXPECT_TRUE(objc_send<BOOL>(language_, "isResponsibleForException:", caught));

  id tcl = objc_send_class("NSException", "exceptionWithName:reason:userInfo:",
                           string("ZELTclException"), string("x"), nil);
  EXPECT_FALSE(objc_send<BOOL>(language_, "isResponsibleForException:", tcl));
  id tclLanguage = languageWithExtension("tcl");
  ASSERT_NE(tclLanguage, nil);
  EXPECT_FALSE(
      objc_send<BOOL>(tclLanguage, "isResponsibleForException:", caught));

  testing::internal::CaptureStderr();
  objc_send<void>(language_, "logException:", caught);
  std::string logged = testing::internal::GetCapturedStderr();
  EXPECT_EQ(
      logged.rfind("JavaScript error: " + path + ":2: TypeError: bad %s", 0),
      0u)
      << logged;
}

TEST_F(JavaScriptLanguage, BadScriptsRaiseClearErrorsAndLeaveTheEngineUsable) {
  EXPECT_EQ(run("syntax.js", "let a = 1;\nlet b = (;\n"),
            "raised: " + scriptPath("syntax.js") +
                ":2: SyntaxError: expected expression, got ';'")
      << "a parse error names its file and line";
  std::string thrown = run("value.js", "\n\nthrow 'just %d text';");
  EXPECT_EQ(thrown.rfind("raised: " + scriptPath("value.js") + ":3: ", 0), 0u)
      << thrown;
  EXPECT_NE(thrown.find("just %d text"), std::string::npos) << thrown;
  EXPECT_NE(run("recursion.js", "function f() { return f() + 1; }\nf();")
                .find("too much recursion"),
            std::string::npos);
  EXPECT_NE(run("hostile.js", "throw { toString() { throw 1; } };")
                .rfind("raised: ", 0),
            std::string::npos);
  EXPECT_EQ(run("empty.js", ""), "undefined");
  sourceCatching(mainInterp(), string("/nonexistent/main.js"));
  ASSERT_NE(caught, nil);
  EXPECT_EQ(text(objc_send(caught, "reason")),
            "couldn't read file \"/nonexistent/main.js\": "
            "No such file or directory");
  EXPECT_EQ(run("after.js", "'still ' + 'working'"), "still working");
}

TEST_F(JavaScriptLanguage, VariableThatCannotBeSetRaisesTheScriptsError) {
  EXPECT_EQ(run("setter.js",
                "Object.defineProperty(globalThis, 'guarded', {\n"
                "  set(v) { throw new RangeError('guarded is read-only'); }\n"
                "}); 0"),
            "0");
  caught = nil;
  NS_DURING
  set(mainInterp(), "guarded", objc_send(valueClass_, "valueWithInt:", 1));
  NS_HANDLER
  caught = localException;
  NS_ENDHANDLER
  ASSERT_NE(caught, nil);
  EXPECT_NE(text(objc_send(caught, "reason"))
                .find("RangeError: guarded is "
                      "read-only"),
            std::string::npos);
}

} // namespace
