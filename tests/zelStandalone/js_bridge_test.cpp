// The objc object of JavaScript: scripts reach Objective-C and C through
// the shared bridge core, Objective-C reaches script methods, and every bad
// call is a JavaScript error with a clear message, never a crash.
#include <zelJavaScript/zelJavaScript.h>
#include <zelObjCRuntime/zelObjCRuntime.h>
#include <objc/objc-load.h>
#include <Foundation/Foundation.h>

#include <gtest/gtest.h>

#include "support/reused_address.h"

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

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

id caught = nil;
bool scriptsRan = false;

id sourceCatching(id path) {
  caught = nil;
  id volatile result = nil;
  NS_DURING
  result = objc_send(objc_send_class("ZELJSInterp", "mainInterp"),
                     "sourceFile:", path);
  NS_HANDLER
  caught = localException;
  NS_ENDHANDLER
  return result;
}

// The completion value of a script as text, or "raised: REASON".
std::string run(const std::string &body) {
  static int count = 0;
  // Test programs run side by side: each test writes files of its own.
  std::string path =
      testing::TempDir() +
      testing::UnitTest::GetInstance()->current_test_info()->name() +
      std::to_string(++count) + ".js";
  std::ofstream(path) << body;
  scriptsRan = true;
  id result = sourceCatching(string(path.c_str()));
  if (caught)
    return "raised: " + text(objc_send(caught, "reason"));
  return text(objc_send(result, "description"));
}

// The message of the error a statement throws, caught in the script.
std::string thrown(const std::string &statement) {
  return run("(() => { try { " + statement +
             "; return 'no error'; } catch (e) { return e.message; } })()");
}

class JavaScriptBridge : public testing::Test {
protected:
  void SetUp() override {
    pool_ = objc_send(objc_send_class("NSAutoreleasePool", "alloc"), "init");
  }
  void TearDown() override { objc_send<void>(pool_, "release"); }
  id pool_ = nil;
};

TEST_F(JavaScriptBridge, SendsMessagesAndConvertsValuesBothWays) {
  EXPECT_EQ(run("const s = objc.string('hello world');\n"
                "[objc.send(s, 'length'), objc.send(s, 'cString'),\n"
                " objc.send(s, 'isEqualToString:', 'hello world'),\n"
                " objc.send(s, 'isEqualToString:', objc.string('other')),\n"
                " String(objc.class('NSObject'))].join(' ')"),
            "11 hello world 1 0 NSObject");
  // Strings given where an object is expected become NSStrings; nil is
  // null or undefined.
  EXPECT_EQ(
      run("const m = objc.send(objc.class('NSMutableString'), 'string');\n"
          "objc.send(m, 'appendString:', 'a %s b');\n"
          "objc.send(m, 'appendString:', objc.string('!'));\n"
          "objc.send(m, 'cString')"),
      "a %s b!");
  EXPECT_EQ(run("objc.send(objc.class('NSObject'), 'respondsToSelector:', "
                "'alloc') + ' ' + objc.send(objc.class('NSObject'), "
                "'instancesRespondToSelector:', 'nonsense')"),
            "1 0");
}

TEST_F(JavaScriptBridge, ScriptMethodsRunForObjectiveCWithEveryKindOfValue) {
  EXPECT_EQ(
      run("const Box = objc.defineClass('JSBox', objc.class('NSObject'),\n"
          "  '{?=\"count\"i\"ratio\"d\"wide\"q}');\n"
          "objc.method(Box, 'add:', 'i12@0:4i8', function (self, _cmd, n) {\n"
          "  if (this !== self) throw new Error('this is not self');\n"
          "  const sum = objc.ivar(self, 'count') + n;\n"
          "  objc.ivar(self, 'count', sum);\n"
          "  return sum;\n"
          "});\n"
          "objc.method(Box, 'scale:', 'd16@0:4d8', (self, _cmd, x) => x * "
          "1.5);\n"
          "objc.method(Box, 'wide:', 'q16@0:4q8', (self, _cmd, q) => q);\n"
          "objc.method(Box, 'name', '*8@0:4', () => 'box');\n"
          "objc.method(Box, 'swap:', '{P=ii}16@0:4{P=ii}8',\n"
          "            (self, _cmd, p) => [p[1], p[0]]);\n"
          "objc.method(Box, '-class', 'make', '@8@0:4',\n"
          "  (cls) => objc.send(objc.send(cls, 'alloc'), 'init'));\n"
          "const b = objc.send(Box, 'make');\n"
          "globalThis.box = b;\n"
          "[objc.send(b, 'add:', 2), objc.send(b, 'add:', -5),\n"
          " objc.send(b, 'scale:', 3), objc.send(b, 'name'),\n"
          " JSON.stringify(objc.send(b, 'swap:', [1, 2])),\n"
          " objc.send(b, 'wide:', 2 ** 40),\n"
          " typeof objc.send(b, 'wide:', 9007199254740993n),\n"
          " objc.send(b, 'wide:', -9007199254740993n)].join(' ')"),
      "2 -3 4.5 box [2,1] 1099511627776 bigint -9007199254740993");

  // From C: the closure converts the arguments and the result.
  id box = objc_send(objc_getClass("JSBox"), "make");
  EXPECT_EQ(objc_send<int>(box, "add:", 40), 40);
  EXPECT_EQ(objc_send<int>(box, "add:", 2), 42);
  EXPECT_DOUBLE_EQ(objc_send<double>(box, "scale:", 2.0), 3.0);
  EXPECT_STREQ(objc_send<const char *>(box, "name"), "box");
  EXPECT_EQ(objc_send<long long>(box, "wide:", -(1LL << 62)), -(1LL << 62));
  objc_send<void>(box, "release");
}

TEST_F(JavaScriptBridge, ErrorInAScriptMethodRaisesTheLanguagesException) {
  ASSERT_EQ(
      run("const Faulty = objc.defineClass('JSFaulty', "
          "objc.class('NSObject'));\n"
          "objc.method(Faulty, 'fail:', 'v12@0:4i8', (self, _cmd, n) => {\n"
          "  throw new RangeError('bad %s ' + n);\n"
          "}); 'ok'"),
      "ok");
  id object = objc_send(objc_send_class("JSFaulty", "alloc"), "init");
  caught = nil;
  NS_DURING
  objc_send<void>(object, "fail:", 7);
  NS_HANDLER
  caught = localException;
  NS_ENDHANDLER
  ASSERT_NE(caught, nil);
  EXPECT_EQ(text(objc_send(caught, "name")), "ZELJavaScriptException");
  std::string reason = text(objc_send(caught, "reason"));
  EXPECT_NE(reason.find(":3: RangeError: bad %s 7\n"), std::string::npos)
      << reason;
  // Sent from a script, the script gets its own error back.
  EXPECT_EQ(thrown("objc.send(objc.send(objc.class('JSFaulty'), 'new'), "
                   "'fail:', 1)"),
            "bad %s 1");
  objc_send<void>(object, "release");
}

TEST_F(JavaScriptBridge, RedefinedMethodReachesItsFormerAndSuperclassMethods) {
  EXPECT_EQ(
      run("const Base = objc.defineClass('JSBase', objc.class('NSObject'));\n"
          "objc.method(Base, 'value', 'i8@0:4', () => 1);\n"
          "const Derived = objc.defineClass('JSDerived', Base);\n"
          "objc.method(Derived, 'value', 'i8@0:4',\n"
          "            (self) => 10 + objc.super(self, 'value'));\n"
          "const d = objc.send(objc.send(Derived, 'alloc'), 'init');\n"
          "const before = objc.send(d, 'value');\n"
          "objc.method(Derived, 'value', 'i8@0:4',\n"
          "            (self) => 100 + objc.former(self, 'value'));\n"
          "[before, objc.send(d, 'value')].join(' ')"),
      "11 111");
  EXPECT_NE(thrown("objc.former(objc.send(objc.class('NSObject'), 'new'), "
                   "'hash')")
                .find("no former method for hash"),
            std::string::npos);
}

TEST_F(JavaScriptBridge, BadCallsThrowClearErrors) {
  EXPECT_EQ(thrown("objc.send()"),
            "objc.send: expected (RECEIVER, SELECTOR, ...ARG) but got 0 "
            "arguments");
  EXPECT_EQ(thrown("objc.send(objc.class('NSObject'), 'noSuchThing')"),
            "NSObject does not respond to noSuchThing");
  EXPECT_EQ(thrown("objc.send(objc.string('x'), 'isEqualToString:')"),
            "expected 1 argument, got 0");
  EXPECT_EQ(thrown("objc.send(objc.send(objc.class('NSMutableArray'), "
                   "'array'), 'objectAtIndex:', 'one')"),
            "expected integer but got \"one\"");
  EXPECT_EQ(thrown("objc.class('NoSuchClass')"), "no class named NoSuchClass");
  EXPECT_EQ(thrown("objc.send('NoSuchClass', 'alloc')"),
            "no class named NoSuchClass");
  EXPECT_EQ(thrown("objc.method(objc.class('NSObject'), 'x', 'v8@0:4', 3)"),
            "expected a function but got \"3\"");
  EXPECT_EQ(thrown("objc.method(objc.class('NSObject'), 'x')"),
            "objc.method: expected (CLASS, [-class], SELECTOR, [TYPES], "
            "FUNCTION) but got 2 arguments");
  EXPECT_EQ(thrown("objc.defineClass('NSObject', objc.class('NSObject'))"),
            "a class named NSObject exists already");
  EXPECT_EQ(thrown("objc.defineClass('JSBadIvars', objc.class('NSObject'), "
                   "'i')"),
            "instance variables must be a struct encoding, not \"i\"");
  EXPECT_EQ(thrown("objc.cfunction('no_such_function_anywhere', 'v0')"),
            "unknown C symbol no_such_function_anywhere");
  EXPECT_NE(thrown("objc.ivar(objc.string('x'), 'nothing')").find("nothing"),
            std::string::npos);
  EXPECT_NE(thrown("objc.protocol.implements(objc.class('NSObject'), "
                   "'NoSuchProtocol')")
                .find("no protocol named NoSuchProtocol"),
            std::string::npos);
  // An Objective-C exception inside a send: its name and reason.
  EXPECT_EQ(
      thrown("objc.send(objc.send(objc.class('NSException'),\n"
             "  'exceptionWithName:reason:userInfo:', 'Oops', 'it %d broke',"
             " null), 'raise')"),
      "Oops: it %d broke");
  EXPECT_EQ(run("'the engine still runs'"), "the engine still runs");
}

TEST_F(JavaScriptBridge, HandleOfAFreedObjectIsRefused) {
  std::string message = thrown(
      "const o = objc.send(objc.class('NSObject'), 'new');\n"
      "const same = objc.send(o, 'self');\n"
      "if (!o.equals(same) || o.equals(objc.string('x')))\n"
      "  throw new Error('equals is wrong');\n"
      "objc.send(o, 'release');\n"
      "objc.send(objc.class('NSObject'), 'new');\n" // may reuse the address
      "objc.send(o, 'hash')");
  EXPECT_EQ(message.rfind("object 0x", 0), 0u) << message;
  EXPECT_NE(message.find(" was freed"), std::string::npos) << message;
}

// One live object is one handle object: identity, Map keys and Set
// members are the object's, through the idiom too.
TEST_F(JavaScriptBridge, AnObjectIsAlwaysTheSameHandleObject) {
  EXPECT_EQ(
      run("const s = objc.send(objc.class('NSMutableString'), 'new');\n"
          "const seen = new Map([[s, 'the string']]);\n"
          "const members = new Set([s, objc.send(s, 'self'), s.self()]);\n"
          "[objc.class('NSObject') === objc.class('NSObject'),\n"
          " objc.classes.NSString === objc.classes.NSString,\n"
          " objc.classes.NSMutableString === objc.send(s, 'class'),\n"
          " objc.send(s, 'self') === s, s.self() === s,\n"
          " seen.get(s.self()), members.size,\n"
          " objc.send(objc.nsarray([s, s]), 'lastObject') === s,\n"
          " s !== objc.string('other')].join(' ')"),
      "true true true true true the string 1 true true");
  // A send through the idiom is one function for every handle, sending to
  // this; called without one it says so rather than sending to nil.
  EXPECT_EQ(run("const a = objc.string('a'), b = objc.string('bb');\n"
                "[a.length === b.length, a.length.call(b),\n"
                " a.isEqualToString_('a'), b.isEqualToString_(b)].join(' ')"),
            "true 2 1 1");
  EXPECT_EQ(thrown("const length = objc.string('a').length; length()"),
            "length: send it to an object (h.length(...) or "
            "length.call(h, ...))");
  EXPECT_EQ(thrown("objc.string('a').isEqualToString_()"),
            "expected 1 argument, got 0");
}

// A handle object nobody refers to is collected and gives its object back;
// one still referred to survives the collection and stays the object's.
TEST_F(JavaScriptBridge, DroppedHandleObjectsAreCollected) {
  EXPECT_EQ(
      run("objc.defineClass('JSDropped', 'NSObject');\n"
          "objc.instances('JSDropped');\n"
          "globalThis.kept = objc.send('JSDropped', 'new');\n"
          "const before = objc.pool(() => {\n"
          "  for (let i = 0; i < 500; ++i) objc.send('JSDropped', 'new');\n"
          "  return objc.instances('JSDropped').length; });\n"
          "gc(); objc.pool(() => objc.class('NSObject'));\n"
          "[before, objc.instances('JSDropped').length,\n"
          " objc.instances('JSDropped')[0] === kept].join(' ')"),
      "501 1 true");
  EXPECT_EQ(run("gc(); objc.send(kept, 'self') === kept"), "true");
}

// An object received again in a later pool, through the handle object it
// already has, lives until the end of that pool too, even when the handle
// object goes within it.
TEST_F(JavaScriptBridge, AnObjectReceivedAgainLivesUntilTheEndOfThatPool) {
  ASSERT_EQ(run("objc.defineClass('JSReceived', 'NSObject');\n"
                "objc.instances('JSReceived');\n"
                "globalThis.keep = objc.send('JSReceived', 'new'); 0"),
            "0");
  EXPECT_EQ(run("objc.pool(() => {\n"
                "  objc.send(keep, 'self'); keep = null;\n"
                "  gc(); objc.class('NSObject');\n"
                "  return objc.instances('JSReceived').length; })"),
            "1");
}

// The script's global NAME set to the object, by a script method.
void setObject(const char *name, id object) {
  if (!objc_getClass("JSKeeper"))
    run("objc.defineClass('JSKeeper', 'NSObject');\n"
        "objc.method('JSKeeper', '-class', 'keep:as:', 'v16@0:4@8*12',\n"
        "  (cls, _cmd, object, name) => { globalThis[name] = object; })");
  objc_send<void>(objc_getClass("JSKeeper"), "keep:as:", object, name);
}

// A new object at a freed object's address is another object: it gets a
// handle object of its own, and the freed one's stays refused.
TEST_F(JavaScriptBridge, AnAddressReusedIsANewHandleObject) {
  id old = objc_send(objc_send_class("NSObject", "alloc"), "init");
  setObject("old", old);
  ASSERT_EQ(run("objc.send(old, 'release'); typeof old.hash()"), "number");
  ReusedAddress reused(old);
  if (!reused.fresh)
    GTEST_SKIP() << "no new object came at the freed one's address";
  setObject("fresh", reused.fresh);
  EXPECT_EQ(run("[fresh !== old, fresh.equals(old), typeof fresh.hash(),\n"
                " String(old).includes('was freed')].join(' ')"),
            "true false number true");
}

TEST_F(JavaScriptBridge, CallsCFunctionsBySignatureOrFromASymbolTable) {
  EXPECT_EQ(run("const strlen = objc.cfunction('strlen', 'I4*0');\n"
                "objc.cfunction('atan2', 'd16d0d8', 'atan2');\n"
                "[strlen('four'), strlen(''), (atan2(1, 1) * 4).toFixed(5),\n"
                " typeof globalThis.atan2].join(' ')"),
            "4 0 3.14159 function");
  std::string path = testing::TempDir() + "js_bridge_symbols.zsym";
  SymbolTable *table = ZelObjC_NewSymbolTable();
  ZelObjC_DefineSymbol(table, "abs", ZEL_SYMBOL_FUNCTION, "i4i0");
  ZelObjC_DefineSymbol(table, "ANSWER", ZEL_SYMBOL_MACRO, "42");
  ASSERT_TRUE(ZelObjC_SaveSymbolTable(table, path.c_str()));
  ZelObjC_DestroySymbolTable(table);
  EXPECT_EQ(run("objc.symbols.load('" + path +
                "');\n"
                "const abs = objc.cfunction('abs');\n"
                "const answer = objc.symbols.lookup('ANSWER');\n"
                "const names = objc.symbols.list().map((d) => d.name).sort();\n"
                "[abs(-7), answer.kind, answer.type, names.join(','),\n"
                " objc.symbols.lookup('nothing')].join(' ')"),
            "7 MACRO 42 ANSWER,abs ");
  EXPECT_NE(thrown("objc.symbols.load('/nonexistent/table')"), "no error");
}

TEST_F(JavaScriptBridge, CreatesFindsAndTestsProtocols) {
  EXPECT_EQ(
      run("const Counting = objc.protocol.create('JSCounting', [],\n"
          "  {'count': 'i8@0:4'});\n"
          "const Cls = objc.defineClass('JSCounter', objc.class('NSObject'));\n"
          "const implementedBefore = objc.protocol.implements(Cls, Counting);\n"
          "objc.method(Cls, 'count', 'i8@0:4', () => 3);\n"
          "[implementedBefore, objc.protocol.implements(Cls, 'JSCounting'),\n"
          " objc.protocol.conforms(Cls, Counting),\n"
          " objc.protocol.find('JSCounting').equals(Counting),\n"
          " objc.protocol.find('JSNothing'),\n"
          " objc.protocol.list().includes('JSCounting')].join(' ')"),
      "false true false true  true");
  EXPECT_NE(thrown("objc.protocol.create('JSCounting')"), "no error");
}

TEST_F(JavaScriptBridge,
       ExitFromAScriptEndsTheProcessWithoutTearingDownTheEngine) {
  // A forked child has none of the engine's helper threads, so it could not
  // shut down an engine its parent started: CTest runs each test alone.
  if (scriptsRan)
    GTEST_SKIP() << "the engine was started before the fork";
  GTEST_FLAG_SET(death_test_style, "fast");
  EXPECT_EXIT(run("objc.cfunction('exit', 'v4i0')(3)"),
              testing::ExitedWithCode(3), "^$");
  // After scripts ran, values and interpreters are still alive at exit: the
  // engine is shut down around them.
  EXPECT_EXIT(
      {
        run("globalThis.keep = objc.string('kept'); 1");
        std::exit(0);
      },
      testing::ExitedWithCode(0), "^$");
}

} // namespace
