// The bridge commands in every language from one table of cases: each case
// is the same request written in Tcl, JavaScript and Lua, with the answer
// all three must give, so that the languages cannot drift apart. Cases run
// through each language's interpreter object (evaluate:), and the classes
// the core makes for every language are checked alike.
#include <zelObjCRuntime/zelObjCRuntime.h>
#include <objc/objc-load.h>
#include <Foundation/Foundation.h>

#include <gtest/gtest.h>

#include "support/reused_address.h"

#include <cstdio>
#include <string>
#include <vector>

OBJC_IMPORT_CLASS(NSFramework_zelLua);
OBJC_LIBRARY_REGISTRATION()

// Found by name among the program's exports.
extern "C" {
__attribute__((visibility("default"))) int probeTwice(int value);
__attribute__((visibility("default"))) void probeReleaseInterp();
__attribute__((visibility("default"))) int probeCallBack(int (*function)(int),
                                                         int times);
}

extern "C" __attribute__((visibility("default"))) int probeTwice(int value) {
  return 2 * value;
}

// The interpreter a script releases from inside its own evaluation.
id probeDoomedInterp = nil;

extern "C" __attribute__((visibility("default"))) void probeReleaseInterp() {
  objc_send<void>(probeDoomedInterp, "release");
}

// Calls a script's callback from C, again and again.
extern "C" __attribute__((visibility("default"))) int
probeCallBack(int (*function)(int), int times) {
  int sum = 0;
  for (int i = 0; i < times; ++i)
    sum += function(i);
  return sum;
}

namespace {

enum Language { Tcl, JS, Lua };
const char *const prefixes[] = {"ZELTcl", "ZELJS", "ZELLua"};
const char *const tags[] = {"Tcl", "JS", "Lua"};

// "*" in an expected answer stands for any text; %L is the language's tag
// (so that each language makes classes and protocols of its own) and %P
// the path of a symbol table file.
struct Case {
  const char *name;
  const char *tcl;
  const char *js;
  const char *lua;
  const char *expected;
  const char *perLanguage[3] = {nullptr, nullptr, nullptr};
};

// The table is laid out by hand: a case's languages each on lines of
// their own.
// clang-format off
const Case cases[] = {
    {"StringRoundTrip", "objc::send [objc::string {hello world}] cString",
     "objc.send(objc.string('hello world'), 'cString')",
     "return objc.send(objc.string('hello world'), 'cString')",
     "hello world"},
    {"SendWithArguments",
     "objc::send [objc::string abc] isEqualToString: abc",
     "objc.send(objc.string('abc'), 'isEqualToString:', 'abc')",
     "return objc.send(objc.string('abc'), 'isEqualToString:', 'abc')", "1"},
    {"UnknownClass", "objc::class NoSuchClass",
     "objc.class('NoSuchClass')", "return objc.class('NoSuchClass')",
     "error: no class named NoSuchClass"},
    {"ClassNameAsReceiver", "objc::send [objc::send NSString new] length",
     "objc.send(objc.send('NSString', 'new'), 'length')",
     "return objc.send(objc.send('NSString', 'new'), 'length')", "0"},
    {"NilReceiverAnswersNil", "objc::send {} length",
     "objc.send(null, 'length')", "return objc.send(nil, 'length')", ""},
    {"NotUnderstood", "objc::send [objc::class NSObject] noSuchThing",
     "objc.send(objc.class('NSObject'), 'noSuchThing')",
     "return objc.send(objc.class('NSObject'), 'noSuchThing')",
     "error: NSObject does not respond to noSuchThing"},
    {"BadIntegerArgument",
     "objc::send [objc::send NSMutableArray array] objectAtIndex: one",
     "objc.send(objc.send('NSMutableArray', 'array'), 'objectAtIndex:', 'one')",
     "return objc.send(objc.send('NSMutableArray', 'array'), "
     "'objectAtIndex:', 'one')",
     "error: expected integer but got \"one\""},
    {"ArgumentCountOfAMethod",
     "objc::send [objc::string x] isEqualToString:",
     "objc.send(objc.string('x'), 'isEqualToString:')",
     "return objc.send(objc.string('x'), 'isEqualToString:')",
     "error: expected 1 argument, got 0"},
    {"ArityOfACommand", "objc::send", "objc.send()", "return objc.send()",
     nullptr,
     {"error: wrong # args: should be \"objc::send RECEIVER SELECTOR ?ARG "
      "...?\"",
      "error: objc.send: expected (RECEIVER, SELECTOR, ...ARG) but got 0 "
      "arguments",
      "error: objc.send: expected (RECEIVER, SELECTOR, ...ARG) but got 0 "
      "arguments"}},
    {"FreedObject",
     "set o [objc::send NSObject new]; objc::send $o release; "
     "objc::send $o hash",
     "const o = objc.send('NSObject', 'new'); objc.send(o, 'release'); "
     "objc.send(o, 'hash')",
     "local o = objc.send('NSObject', 'new'); objc.send(o, 'release'); "
     "return objc.send(o, 'hash')",
     "error: object 0x* was freed"},
    {"ForgedHandles",
     "set o [objc::send NSObject new]\n"
     "regexp {#([0-9]+)} $o - serial\n"
     "list [catch {objc::send 0x12345678#$serial hash} m] $m "
     "[catch {objc::send 0x12345678#99999999 hash} m2] $m2",
     nullptr, nullptr,
     "1 {no object 0x12345678#*} 1 {no object 0x12345678#99999999}"},
    {"FormerChainsThroughEveryDefinition",
     "objc::defineClass %LChain NSObject\n"
     "objc::method %LChain value i8@0:4 {} { return 1 }\n"
     "objc::method %LChain value i8@0:4 {} { expr {[objc::former $self value] * 10 + 2} }\n"
     "objc::method %LChain value i8@0:4 {} { expr {[objc::former $self value] * 10 + 3} }\n"
     "objc::method %LChain value i8@0:4 {} { expr {[objc::former $self value] * 10 + 4} }\n"
     "objc::defineClass %LChainSub %LChain\n"
     "list [objc::send [objc::send %LChain new] value] "
     "[objc::send [objc::send %LChainSub new] value]",
     "objc.defineClass('%LChain', 'NSObject');\n"
     "objc.method('%LChain', 'value', 'i8@0:4', () => 1);\n"
     "for (const n of [2, 3, 4])\n"
     "  objc.method('%LChain', 'value', 'i8@0:4',\n"
     "              (self) => objc.former(self, 'value') * 10 + n);\n"
     "objc.defineClass('%LChainSub', '%LChain');\n"
     "[objc.send(objc.send('%LChain', 'new'), 'value'),\n"
     " objc.send(objc.send('%LChainSub', 'new'), 'value')].join(' ')",
     "objc.defineClass('%LChain', 'NSObject')\n"
     "objc.method('%LChain', 'value', 'i8@0:4', function() return 1 end)\n"
     "for _, n in ipairs({2, 3, 4}) do\n"
     "  objc.method('%LChain', 'value', 'i8@0:4',\n"
     "    function(self) return objc.former(self, 'value') * 10 + n end)\n"
     "end\n"
     "objc.defineClass('%LChainSub', '%LChain')\n"
     "return objc.send(objc.send('%LChain', 'new'), 'value') .. ' ' ..\n"
     "  objc.send(objc.send('%LChainSub', 'new'), 'value')",
     "1234 1234"},
    {"SelectorMustFitTheTypes",
     "objc::method NSObject %Lmove:by: v12@0:4i8 {a} {}",
     "objc.method('NSObject', '%Lmove:by:', 'v12@0:4i8', () => 0)",
     "return objc.method('NSObject', '%Lmove:by:', 'v12@0:4i8', function() end)",
     "error: selector \"%Lmove:by:\" takes 2 arguments but the types "
     "\"v12@0:4i8\" give 1"},
    {"SelectorMustNotBeEmpty", "objc::method NSObject {} v8@0:4 {} {}",
     "objc.method('NSObject', '', 'v8@0:4', () => 0)",
     "return objc.method('NSObject', '', 'v8@0:4', function() end)",
     "error: a method needs a selector"},
    {"VariadicSendWithTypes",
     "objc::send [objc::send -types @16@0:4@8i12 NSString stringWithFormat: "
     "{%d apples} 12] cString",
     "objc.send(objc.sendTyped('@16@0:4@8i12', 'NSString', "
     "'stringWithFormat:', '%d apples', 12), 'cString')",
     "return objc.send(objc.sendTyped('@16@0:4@8i12', 'NSString', "
     "'stringWithFormat:', '%d apples', 12), 'cString')",
     "12 apples"},
    {"TypedSendChecksTheTypes",
     "objc::sendTyped zz NSString stringWithFormat: x",
     "objc.sendTyped('zz', 'NSString', 'stringWithFormat:', 'x')",
     "return objc.sendTyped('zz', 'NSString', 'stringWithFormat:', 'x')",
     "error: unsupported type encoding \"z\""},
    {"QsortWithAScriptComparator",
     "set cmp [objc::callback new i8^v0^v4 {a b} {\n"
     "  expr {[objc::memory read $a i] - [objc::memory read $b i]} }]\n"
     "set buf [objc::memory alloc 16]\n"
     "foreach i {0 1 2 3} v {4 1 3 2} {\n"
     "  objc::memory write [objc::memory offset $buf [expr {$i * 4}]] i $v }\n"
     "objc::cfunction qsort v16^v0I4I8^?12 %Lqsort\n"
     "%Lqsort $buf 4 4 $cmp\n"
     "set sorted [objc::memory read $buf i 4]\n"
     "objc::memory free $buf; objc::callback free $cmp\n"
     "set sorted",
     "const cmp = objc.callback('i8^v0^v4',\n"
     "  (a, b) => objc.memory.read(a, 'i') - objc.memory.read(b, 'i'));\n"
     "const buf = objc.memory.alloc(16);\n"
     "[4, 1, 3, 2].forEach((v, i) =>\n"
     "  objc.memory.write(objc.memory.offset(buf, 4 * i), 'i', v));\n"
     "objc.cfunction('qsort', 'v16^v0I4I8^?12')(buf, 4, 4, cmp);\n"
     "const sorted = objc.memory.read(buf, 'i', 4).join(' ');\n"
     "objc.memory.free(buf); objc.callback.free(cmp); sorted",
     "local cmp = objc.callback('i8^v0^v4', function(a, b)\n"
     "  return objc.memory.read(a, 'i') - objc.memory.read(b, 'i') end)\n"
     "local buf = objc.memory.alloc(16)\n"
     "for i, v in ipairs({4, 1, 3, 2}) do\n"
     "  objc.memory.write(objc.memory.offset(buf, 4 * (i - 1)), 'i', v) end\n"
     "objc.cfunction('qsort', 'v16^v0I4I8^?12')(buf, 4, 4, cmp)\n"
     "local sorted = table.concat(objc.memory.read(buf, 'i', 4), ' ')\n"
     "objc.memory.free(buf); objc.callback.free(cmp)\nreturn sorted",
     "1 2 3 4"},
    {"ACallbacksErrorIsTheCallsError",
     "set cmp [objc::callback new i8^v0^v4 {a b} { error boom }]\n"
     "objc::cfunction qsort v16^v0I4I8^?12 %LqsortBad\n"
     "%LqsortBad [objc::memory alloc 8] 2 4 $cmp",
     "const cmp = objc.callback('i8^v0^v4', () => { throw new Error('boom'); });\n"
     "objc.cfunction('qsort', 'v16^v0I4I8^?12', '%LqsortBad')\n"
     "(objc.memory.alloc(8), 2, 4, cmp)",
     "local cmp = objc.callback('i8^v0^v4', function() error('boom') end)\n"
     "return objc.cfunction('qsort', 'v16^v0I4I8^?12', '%LqsortBad')"
     "(objc.memory.alloc(8), 2, 4, cmp)",
     nullptr,
     {"error: boom", "error: boom", "error: *:1: boom"}},
    {"CallbackFreedOnce",
     "set cb [objc::callback new v0 {} {}]; objc::callback free $cb\n"
     "objc::callback free $cb",
     "const cb = objc.callback('v0', () => 0); objc.callback.free(cb);\n"
     "objc.callback.free(cb)",
     "local cb = objc.callback('v0', function() end); objc.callback.free(cb)\n"
     "return objc.callback.free(cb)",
     "error: no callback 0x*"},
    {"CallbacksGoWithTheirInterpreter",
     "set p [objc::pool {\n"
     "  set i [objc::send [objc::send ZELTclInterp alloc] init]\n"
     "  set v [objc::send $i evaluate: {objc::callback new v0 {} {}}]\n"
     "  objc::send $i release\n"
     "  objc::send [objc::send $v description] cString }]\n"
     "objc::callback free $p",
     "const p = objc.pool(() => {\n"
     "  const i = objc.send(objc.send('ZELJSInterp', 'alloc'), 'init');\n"
     "  const v = objc.send(i, 'evaluate:', \"objc.callback('v0', () => 0)\");\n"
     "  objc.send(i, 'release');\n"
     "  return objc.send(objc.send(v, 'description'), 'cString'); });\n"
     "objc.callback.free(p)",
     "local p = objc.pool(function()\n"
     "  local i = objc.send(objc.send('ZELLuaInterp', 'alloc'), 'init')\n"
     "  local v = objc.send(i, 'evaluate:',\n"
     "    \"return objc.callback('v0', function() end)\")\n"
     "  objc.send(i, 'release')\n"
     "  return objc.send(objc.send(v, 'description'), 'cString') end)\n"
     "return objc.callback.free(p)",
     "error: no callback 0x*"},
    {"TextWithANulIsNoCString",
     "objc::send NSString stringWithCString: \"ab\\0c\"",
     "objc.send('NSString', 'stringWithCString:', 'ab\\0c')",
     "return objc.send('NSString', 'stringWithCString:', 'ab\\0c')",
     "error: text with a NUL byte (after \"ab\") cannot be a C string"},
    {"BytesWithANulComeBackWhole",
     "set p [objc::memory alloc 4]\n"
     "foreach i {0 1 2 3} v {97 0 98 255} {\n"
     "  objc::memory write [objc::memory offset $p $i] C $v }\n"
     "set s [objc::memory string $p 4]; objc::memory free $p\n"
     "list [string length $s] [scan [string index $s 1] %c] "
     "[scan [string index $s 2] %c]",
     "const p = objc.memory.alloc(4);\n"
     "[97, 0, 98, 255].forEach((v, i) =>\n"
     "  objc.memory.write(objc.memory.offset(p, i), 'C', v));\n"
     "const s = objc.memory.string(p, 4); objc.memory.free(p);\n"
     "[s.length, s.charCodeAt(1), s.charCodeAt(2)].join(' ')",
     "local p = objc.memory.alloc(4)\n"
     "for i, v in ipairs({97, 0, 98, 255}) do\n"
     "  objc.memory.write(objc.memory.offset(p, i - 1), 'C', v) end\n"
     "local s = objc.memory.string(p, 4); objc.memory.free(p)\n"
     "return #s .. ' ' .. s:byte(2) .. ' ' .. s:byte(3)",
     "4 0 98"},
    {"MemoryOutParameter",
     "set p [objc::memory new i 42]; objc::memory read $p i",
     "const p = objc.memory.new('i', 42); objc.memory.read(p, 'i')",
     "local p = objc.memory.new('i', 42); return objc.memory.read(p, 'i')",
     "42"},
    {"MemoryStructsAndText",
     "set p [objc::memory new {{P=ci}} {65 7}]\n"
     "list [objc::memory read $p {{P=ci}}] [objc::memory string $p] "
     "[objc::memory string $p 1]",
     "const p = objc.memory.new('{P=ci}', [65, 7]);\n"
     "[objc.memory.read(p, '{P=ci}').join(','), objc.memory.string(p),\n"
     " objc.memory.string(p, 1)].join(' ')",
     "local p = objc.memory.new('{P=ci}', {65, 7})\n"
     "return table.concat(objc.memory.read(p, '{P=ci}'), ',') .. ' ' ..\n"
     "  objc.memory.string(p) .. ' ' .. objc.memory.string(p, 1)",
     nullptr,
     {"{65 7} A A", "65,7 A A", "65,7 A A"}},
    {"MemoryStaysInsideItsBlocks",
     "set p [objc::memory alloc 4]; objc::memory read $p i 2",
     "const p = objc.memory.alloc(4); objc.memory.read(p, 'i', 2)",
     "local p = objc.memory.alloc(4); return objc.memory.read(p, 'i', 2)",
     "error: memory 0x*: 8 bytes run past the end of its block of 4"},
    {"MemoryFreesOnlyItsOwnBlocks", "objc::memory free 0x00001000",
     "objc.memory.free('0x00001000')", "return objc.memory.free('0x00001000')",
     "error: no memory block 0x00001000 made by memory alloc or memory new"},
    {"MemoryNullPointer", "objc::memory read {} i",
     "objc.memory.read(null, 'i')", "return objc.memory.read(nil, 'i')",
     "error: expected a pointer but got a null one"},
    {"CWritesIntoACopyOfTheText",
     "proc %Lgreet {} { return {Hello world} }\n"
     "objc::cfunction strcpy **0*4 %Lstrcpy\n"
     "set s [%Lgreet]; %Lstrcpy $s Bye; list $s [%Lgreet]",
     "const greeting = 'Hello world';\n"
     "objc.cfunction('strcpy', '**0*4')(greeting, 'Bye'); greeting",
     "local greeting = 'Hello world'\n"
     "objc.cfunction('strcpy', '**0*4')(greeting, 'Bye'); return greeting",
     nullptr,
     {"{Hello world} {Hello world}", "Hello world", "Hello world"}},
    {"TextInAStructResultOutlivesTheCall",
     "objc::defineClass %LNamer NSObject\n"
     "objc::method %LNamer named {{Named=*i}8@0:4} {} {\n"
     "  list [string repeat ab 40] 7 }\n"
     "objc::send [objc::send %LNamer new] named",
     "objc.defineClass('%LNamer', 'NSObject');\n"
     "objc.method('%LNamer', 'named', '{Named=*i}8@0:4',\n"
     "  () => ['ab'.repeat(40), 7]);\n"
     "objc.send(objc.send('%LNamer', 'new'), 'named').join(' ')",
     "objc.defineClass('%LNamer', 'NSObject')\n"
     "objc.method('%LNamer', 'named', '{Named=*i}8@0:4',\n"
     "  function() return {string.rep('ab', 40), 7} end)\n"
     "return table.concat(objc.send(objc.send('%LNamer', 'new'), 'named'), ' ')",
     "abababababababababababababababababababababababababababababababababababababababab 7"},
    {"ObjectiveCExceptionsKeepTheirIdentity",
     "catch {objc::send [objc::send NSMutableArray array] objectAtIndex: 3} "
     "m o\n"
     "list [lrange [dict get $o -errorcode] 0 1] $m",
     "try { objc.send(objc.send('NSMutableArray', 'array'), "
     "'objectAtIndex:', 3); }\n"
     "catch (e) { [e.name, e.message, e.exception.$className,\n"
     "            e.reason === e.message.slice(e.name.length + 2)].join('|') }",
     "local ok, e = pcall(objc.send, objc.send('NSMutableArray', 'array'),\n"
     "  'objectAtIndex:', 3)\n"
     "return table.concat({e.name, tostring(e), "
     "e.exception['$className'],\n"
     "  tostring(e.reason == tostring(e):sub(#e.name + 3))}, '|')",
     nullptr,
     {"{OBJC NSRangeException} {NSRangeException: *}",
      "NSRangeException|NSRangeException: *|NSException|true",
      "NSRangeException|NSRangeException: *|NSException|true"}},
    // A command failing inside a coroutine raises its error there, not on
    // the state that resumed it: the exception's table and a script's own
    // error value alike.
    {"ErrorsInsideACoroutineAreItsOwn", nullptr, nullptr,
     "local C = objc.defineClass('%LCoThrower', 'NSObject')\n"
     "objc.method(C, 'fail', 'v8@0:4', function() error({code = 7}) end)\n"
     "return coroutine.wrap(function()\n"
     "  local _, e = pcall(objc.send, objc.send('NSArray', 'new'),\n"
     "    'objectAtIndex:', 3)\n"
     "  local _, mine = pcall(objc.send, C:new(), 'fail')\n"
     "  return e.name .. '|' .. e.exception['$className'] .. '|' ..\n"
     "    mine.code end)()",
     "NSRangeException|NSException|7"},
    // An object whose description fails shows as its handle, and the
    // failure is not left behind for the next call that fails.
    {"AFailingDescriptionShowsTheHandle", nullptr,
     "objc.defineClass('%LMute', 'NSObject');\n"
     "objc.method('%LMute', 'description', '@8@0:4',\n"
     "  () => { throw new Error('mute'); });\n"
     "const m = objc.send('%LMute', 'new');\n"
     "const shown = String(m);\n"
     "let kind;\n"
     "try { objc.send(m, 'nothing'); }\n"
     "catch (e) { kind = e.exception === undefined ? 'plain' : 'exception'; }\n"
     "shown + ' ' + kind",
     "local C = objc.defineClass('%LMute', 'NSObject')\n"
     "objc.method(C, 'description', '@8@0:4', function() error('mute') end)\n"
     "local m = C:new()\n"
     "local shown = tostring(m)\n"
     "local _, e = pcall(objc.send, m, 'nothing')\n"
     "return shown .. ' ' .. (type(e) == 'string' and 'plain' or 'exception')",
     "<%LMute 0x*> plain"},
    {"ScriptErrorsComeBackThroughObjectiveC",
     "objc::defineClass %LThrower NSObject\n"
     "objc::method %LThrower fail v8@0:4 {} {\n"
     "  return -code error -errorcode {MINE 42} {my own error} }\n"
     "objc::method %LThrower outer v8@0:4 {} {\n"
     "  objc::send $self performSelector: fail }\n"
     "catch {objc::send [objc::send %LThrower new] performSelector: outer} m o\n"
     "list $m [dict get $o -errorcode]",
     "class Mine extends Error {}\n"
     "const mine = new Mine('my own error');\n"
     "objc.defineClass('%LThrower', 'NSObject');\n"
     "objc.method('%LThrower', 'fail', 'v8@0:4', () => { throw mine; });\n"
     "objc.method('%LThrower', 'outer', 'v8@0:4',\n"
     "  (self) => objc.send(self, 'performSelector:', 'fail'));\n"
     "try { objc.send(objc.send('%LThrower', 'new'), 'performSelector:', "
     "'outer'); }\n"
     "catch (e) { [e === mine, e.message].join(' ') }",
     "local mine = {what = 'my own error'}\n"
     "objc.defineClass('%LThrower', 'NSObject')\n"
     "objc.method('%LThrower', 'fail', 'v8@0:4', function() error(mine) end)\n"
     "objc.method('%LThrower', 'outer', 'v8@0:4', function(self)\n"
     "  objc.send(self, 'performSelector:', 'fail') end)\n"
     "local ok, e = pcall(objc.send, objc.send('%LThrower', 'new'),\n"
     "  'performSelector:', 'outer')\n"
     "return tostring(e == mine) .. ' ' .. e.what",
     nullptr,
     {"{my own error} {MINE 42}", "true my own error", "true my own error"}},
    {"TclCompletionCodesAreErrors",
     "objc::defineClass %LCoded NSObject\n"
     "objc::method %LCoded odd v8@0:4 {} { return -code 5 x }\n"
     "catch {objc::send [objc::send %LCoded new] odd} m; set m",
     nullptr, nullptr,
     "ZELTclException: the method's body ended with code 5"},
    {"ScriptReferencesAreCounted",
     "set s [objc::send [objc::send NSMutableString alloc] init]\n"
     "set a [objc::send NSMutableArray new]; objc::send $a addObject: $s\n"
     "set counts [objc::send $s retainCount]\n"
     "objc::send $s retain; lappend counts [objc::send $s retainCount]\n"
     "objc::send $s release; objc::send $s release\n"
     "lappend counts [objc::send $s retainCount]\n"
     "lappend counts [catch {objc::send $s release} m] $m",
     "const s = objc.send(objc.send('NSMutableString', 'alloc'), 'init');\n"
     "const a = objc.send('NSMutableArray', 'new'); objc.send(a, 'addObject:', s);\n"
     "const counts = [objc.send(s, 'retainCount')];\n"
     "objc.send(s, 'retain'); counts.push(objc.send(s, 'retainCount'));\n"
     "objc.send(s, 'release'); objc.send(s, 'release');\n"
     "counts.push(objc.send(s, 'retainCount'));\n"
     "try { objc.send(s, 'release'); } catch (e) { counts.push(1, e.message); }\n"
     "counts.join(' ')",
     "local s = objc.send(objc.send('NSMutableString', 'alloc'), 'init')\n"
     "local a = objc.send('NSMutableArray', 'new'); objc.send(a, 'addObject:', s)\n"
     "local counts = {objc.send(s, 'retainCount')}\n"
     "objc.send(s, 'retain'); counts[#counts + 1] = objc.send(s, 'retainCount')\n"
     "objc.send(s, 'release'); objc.send(s, 'release')\n"
     "counts[#counts + 1] = objc.send(s, 'retainCount')\n"
     "local ok, e = pcall(objc.send, s, 'release')\n"
     "counts[#counts + 1] = 1; counts[#counts + 1] = tostring(e)\n"
     "return table.concat(counts, ' ')",
     nullptr,
     {"2 3 1 1 {object 0x* was released (the script holds no reference to it)}",
      "2 3 1 1 object 0x* was released (the script holds no reference to it)",
      "2 3 1 1 object 0x* was released (the script holds no reference to it)"}},
    {"APoolsResultOutlivesThePool",
     "set s [objc::pool { objc::string {made in a pool} }]\n"
     "objc::send $s cString",
     "const s = objc.pool(() => objc.string('made in a pool'));\n"
     "objc.send(s, 'cString')",
     "local s = objc.pool(function() return objc.string('made in a pool') end)\n"
     "return objc.send(s, 'cString')",
     "made in a pool"},
    {"APoolIsDrainedWhenItsBodyFails",
     "list [catch {objc::pool { error {inside the pool} }} m] $m",
     "try { objc.pool(() => { throw new Error('inside the pool'); }); }\n"
     "catch (e) { [1, e.message].join(' ') }",
     "local ok, e = pcall(objc.pool, function() error('inside the pool', 0) end)\n"
     "return (ok and 0 or 1) .. ' ' .. e",
     nullptr,
     {"1 {inside the pool}", "1 inside the pool", "1 inside the pool"}},
    {"AValueHoldingAHandleKeepsItsObject",
     "objc::pool { set ::kept [objc::string {still here}] }\n"
     "objc::send $::kept cString",
     "let kept;\n"
     "objc.pool(() => { kept = objc.string('still here'); });\n"
     "gc(); objc.send(kept, 'cString')",
     "local kept\n"
     "objc.pool(function() kept = objc.string('still here') end)\n"
     "collectgarbage(); return objc.send(kept, 'cString')",
     "still here"},
    {"WhatOnlyAPoolHeldGoesWithIt",
     "set text [objc::pool {\n"
     "  set s [objc::string gone]; set copy [string trimright \"$s \"]\n"
     "  unset s\n"
     "  set copy }]\n"
     "objc::send $text length",
     nullptr, nullptr, "error: object 0x* was freed"},
    {"IvarsOfScriptClassesHoldTheirObjects",
     "objc::defineClass %LBox NSObject {{B=\"held\"@}}\n"
     "set b [objc::send %LBox new]\n"
     "objc::pool { objc::ivar $b held [objc::string {kept by the box}] }\n"
     "objc::send [objc::ivar $b held] cString",
     "objc.defineClass('%LBox', 'NSObject', '{B=\"held\"@}');\n"
     "const b = objc.send('%LBox', 'new');\n"
     "objc.pool(() => { objc.ivar(b, 'held', objc.string('kept by the box')); });\n"
     "gc(); objc.send(objc.ivar(b, 'held'), 'cString')",
     "objc.defineClass('%LBox', 'NSObject', '{B=\"held\"@}')\n"
     "local b = objc.send('%LBox', 'new')\n"
     "objc.pool(function() objc.ivar(b, 'held', objc.string('kept by the box')) end)\n"
     "collectgarbage(); return objc.send(objc.ivar(b, 'held'), 'cString')",
     "kept by the box"},
    {"ClassNamesSortedAndFiltered",
     "objc::classNames NSMutable*",
     "objc.classNames('NSMutable*').join(' ')",
     "return table.concat(objc.classNames('NSMutable*'), ' ')",
     "NSMutableArray NSMutableDictionary NSMutableString"},
    {"MethodsOwnAndInherited",
     "objc::defineClass %LListed NSObject\n"
     "objc::method %LListed probe i8@0:4 {} { return 1 }\n"
     "objc::method %LListed -class make @8@0:4 {} { return {} }\n"
     "list [objc::methods %LListed -own] [objc::methods %LListed -class -own] "
     "[expr {[lsearch -index 0 [objc::methods %LListed] hash] >= 0}]",
     "objc.defineClass('%LListed', 'NSObject');\n"
     "objc.method('%LListed', 'probe', 'i8@0:4', () => 1);\n"
     "objc.method('%LListed', '-class', 'make', '@8@0:4', () => null);\n"
     "[objc.methods('%LListed', {own: true}).join(';'),\n"
     " objc.methods('%LListed', {classSide: true, own: true}).join(';'),\n"
     " objc.methods('%LListed').some(([s]) => s === 'hash') ? 1 : 0].join(' ')",
     "objc.defineClass('%LListed', 'NSObject')\n"
     "objc.method('%LListed', 'probe', 'i8@0:4', function() return 1 end)\n"
     "objc.method('%LListed', '-class', 'make', '@8@0:4', function() end)\n"
     "local function show(list) local out = {}\n"
     "  for _, p in ipairs(list) do out[#out + 1] = p[1] .. ',' .. p[2] end\n"
     "  return table.concat(out, ';') end\n"
     "local inherited = 0\n"
     "for _, p in ipairs(objc.methods('%LListed')) do\n"
     "  if p[1] == 'hash' then inherited = 1 end end\n"
     "return show(objc.methods('%LListed', {own = true})) .. ' ' ..\n"
     "  show(objc.methods('%LListed', {classSide = true, own = true})) .. ' ' .. inherited",
     nullptr,
     {"{{probe i8@0:4}} {{make @8@0:4}} 1", "probe,i8@0:4 make,@8@0:4 1",
      "probe,i8@0:4 make,@8@0:4 1"}},
    {"IvarsWithTheirOffsets",
     "objc::defineClass %LLaid NSObject {{L=\"c\"c\"n\"i}}\n"
     "lrange [objc::ivars %LLaid] 1 end",
     "objc.defineClass('%LLaid', 'NSObject', '{L=\"c\"c\"n\"i}');\n"
     "objc.ivars('%LLaid').slice(1).map((v) => [v.name, v.type, v.offset].join(','))"
     ".join(' ')",
     "objc.defineClass('%LLaid', 'NSObject', '{L=\"c\"c\"n\"i}')\n"
     "local out = {}\n"
     "for i, v in ipairs(objc.ivars('%LLaid')) do\n"
     "  if i > 1 then out[#out + 1] = v.name .. ',' .. v.type .. ',' .. v.offset end end\n"
     "return table.concat(out, ' ')",
     nullptr,
     {"{c c 4} {n i 5}", "c,c,4 n,i,5", "c,c,4 n,i,5"}},
    {"ClassesAdoptProtocols",
     "objc::protocol create %LGreeting {} {greet @8@0:4}\n"
     "objc::defineClass %LGreeter NSObject {} -protocols {%LGreeting}\n"
     "objc::method %LGreeter greet {} { objc::string hello }\n"
     "list [objc::protocol conforms %LGreeter %LGreeting] "
     "[objc::send %LGreeter conformsToProtocol: [objc::protocol find %LGreeting]] "
     "[objc::protocols %LGreeter] "
     "[objc::send [objc::send [objc::send %LGreeter new] greet] cString]",
     "objc.protocol.create('%LGreeting', [], {greet: '@8@0:4'});\n"
     "objc.defineClass('%LGreeter', 'NSObject', null, {protocols: ['%LGreeting']});\n"
     "objc.method('%LGreeter', 'greet', () => objc.string('hello'));\n"
     "[objc.protocol.conforms('%LGreeter', '%LGreeting') ? 1 : 0,\n"
     " objc.send('%LGreeter', 'conformsToProtocol:', objc.protocol.find('%LGreeting')),\n"
     " objc.protocols('%LGreeter').join(','),\n"
     " objc.send(objc.send(objc.send('%LGreeter', 'new'), 'greet'), 'cString')]"
     ".join(' ')",
     "objc.protocol.create('%LGreeting', {}, {greet = '@8@0:4'})\n"
     "objc.defineClass('%LGreeter', 'NSObject', nil, {protocols = {'%LGreeting'}})\n"
     "objc.method('%LGreeter', 'greet', function() return objc.string('hello') end)\n"
     "return table.concat({objc.protocol.conforms('%LGreeter', '%LGreeting') and 1 or 0,\n"
     "  objc.send('%LGreeter', 'conformsToProtocol:', objc.protocol.find('%LGreeting')),\n"
     "  table.concat(objc.protocols('%LGreeter'), ','),\n"
     "  objc.send(objc.send(objc.send('%LGreeter', 'new'), 'greet'), 'cString')}, ' ')",
     "1 1 %LGreeting hello"},
    {"MethodTypesFromWhatTheyOverride",
     "objc::defineClass %LLength NSObject\n"
     "objc::method %LLength hash {} { return 42 }\n"
     "objc::send [objc::send %LLength new] hash",
     "objc.defineClass('%LLength', 'NSObject');\n"
     "objc.method('%LLength', 'hash', () => 42);\n"
     "objc.send(objc.send('%LLength', 'new'), 'hash')",
     "objc.defineClass('%LLength', 'NSObject')\n"
     "objc.method('%LLength', 'hash', function() return 42 end)\n"
     "return objc.send(objc.send('%LLength', 'new'), 'hash')",
     "42"},
    {"MethodTypesWithoutOffsetsGetThem",
     "objc::defineClass %LAdder NSObject\n"
     "objc::method %LAdder add:to: i@:ii {a b} { expr {$a + $b} }\n"
     "list [lindex [objc::methods %LAdder -own] 0 1] "
     "[objc::send [objc::send %LAdder new] add:to: 2 3]",
     "objc.defineClass('%LAdder', 'NSObject');\n"
     "objc.method('%LAdder', 'add:to:', 'i@:ii', (s, c, a, b) => a + b);\n"
     "[objc.methods('%LAdder', {own: true})[0][1],\n"
     " objc.send(objc.send('%LAdder', 'new'), 'add:to:', 2, 3)].join(' ')",
     "objc.defineClass('%LAdder', 'NSObject')\n"
     "objc.method('%LAdder', 'add:to:', 'i@:ii', function(s, c, a, b) return a + b end)\n"
     "return objc.methods('%LAdder', {own = true})[1][2] .. ' ' ..\n"
     "  objc.send(objc.send('%LAdder', 'new'), 'add:to:', 2, 3)",
     "i16@0:4i8i12 5"},
    {"MethodOffsetsMustFit",
     "objc::method NSObject %Lodd:and: i99@7:3i1i2 {a b} {}",
     "objc.method('NSObject', '%Lodd:and:', 'i99@7:3i1i2', () => 0)",
     "return objc.method('NSObject', '%Lodd:and:', 'i99@7:3i1i2', function() end)",
     "error: the offsets of \"i99@7:3i1i2\" do not fit its arguments' sizes "
     "(\"i16@0:4i8i12\" would)"},
    {"IncompatibleOverridesAreRefused",
     "objc::defineClass %LBadLength NSString\n"
     "objc::method %LBadLength length d8@0:4 {} { return 1.5 }",
     "objc.defineClass('%LBadLength', 'NSString');\n"
     "objc.method('%LBadLength', 'length', 'd8@0:4', () => 1.5)",
     "objc.defineClass('%LBadLength', 'NSString')\n"
     "return objc.method('%LBadLength', 'length', 'd8@0:4', function() return 1.5 end)",
     "error: types \"d8@0:4\" do not fit \"I8@0:4\" of the method length "
     "they would replace"},
    {"NoTypesToBeFound",
     "objc::method NSObject %LnoSuch {} {}",
     "objc.method('NSObject', '%LnoSuch', () => 0)",
     "return objc.method('NSObject', '%LnoSuch', function() end)",
     "error: no types given for %LnoSuch, and neither NSObject nor a protocol "
     "it adopts has such a method"},
    {"CollectionsBothWays",
     "set a [objc::nsarray [list one 2 [objc::string three]]]\n"
     "set d [objc::nsdictionary [list k [objc::nsnumber 7] n [objc::nsnumber 2.5]]]\n"
     "list [objc::send $a count] [objc::send [objc::send $a description] cString] "
     "[objc::send [lindex [objc::items $a] 2] cString] "
     "[objc::send [dict get [objc::entries $d] [lindex [objc::entries $d] 0]] "
     "longLongValue] [objc::send [objc::send $d description] cString]",
     nullptr, nullptr,
     "3 {(one, 2, three)} three 7 {{k = 7; n = 2.5;}}"},
    {"LanguageValuesBecomeFoundationObjects", nullptr,
     "const a = objc.send(objc.send('NSMutableArray', 'array'), 'self');\n"
     "objc.send(a, 'addObject:', [1, 'two', {k: 3.5}]);\n"
     "const inner = objc.send(a, 'objectAtIndex:', 0);\n"
     "[objc.send(objc.send(inner, 'description'), 'cString'),\n"
     " objc.items(inner).length, objc.entries(objc.items(inner)[2])[0].length]"
     ".join(' ')",
     "local a = objc.send(objc.send('NSMutableArray', 'array'), 'self')\n"
     "objc.send(a, 'addObject:', {1, 'two', {k = 3.5}})\n"
     "local inner = objc.send(a, 'objectAtIndex:', 0)\n"
     "return table.concat({objc.send(objc.send(inner, 'description'), 'cString'),\n"
     "  #objc.items(inner), #objc.entries(objc.items(inner)[3])[1]}, ' ')",
     "(1, two, {k = 3.5;}) 3 2"},
    {"LiveInstancesFromTheRegistry",
     "objc::defineClass %LCounted NSObject\n"
     "objc::instances %LCounted\n"
     "set kept [list [objc::send %LCounted new] [objc::send %LCounted new]]\n"
     "llength [objc::instances %LCounted]",
     "objc.defineClass('%LCounted', 'NSObject'); objc.instances('%LCounted');\n"
     "const kept = [objc.send('%LCounted', 'new'), objc.send('%LCounted', 'new')];\n"
     "objc.choose('%LCounted').length",
     "objc.defineClass('%LCounted', 'NSObject'); objc.instances('%LCounted')\n"
     "local kept = {objc.send('%LCounted', 'new'), objc.send('%LCounted', 'new')}\n"
     "return #objc.choose('%LCounted')",
     "2"},
    // One live object is one Lua userdata: table keys, rawequal and ==
    // go by the object, through sends, collections and the idiom alike.
    {"AnObjectIsAlwaysTheSameUserdata", nullptr, nullptr,
     "local s = objc.send('NSMutableString', 'new')\n"
     "local seen, members, count = {[s] = 'the string'}, {}, 0\n"
     "for _, h in ipairs({s, objc.send(s, 'self'), s:self(),\n"
     "    objc.send(objc.nsarray({s, s}), 'lastObject')}) do\n"
     "  members[h] = true end\n"
     "for _ in pairs(members) do count = count + 1 end\n"
     "return table.concat({tostring(rawequal(objc.class('NSObject'),\n"
     "    objc.class('NSObject'))),\n"
     "  tostring(rawequal(objc.classes.NSString, objc.classes.NSString)),\n"
     "  tostring(rawequal(objc.classes.NSMutableString, s:class())),\n"
     "  seen[objc.send(s, 'self')], seen[s:self()], count,\n"
     "  tostring(s == objc.send(s, 'self')), tostring(s ~= objc.string('s'))},\n"
     "  ' ')",
     "true true true the string the string 1 true true"},
    {"ObjectsInTheLanguagesIdiom",
     "set s [objc::send NSMutableString new]\n"
     "$s appendString: hello\n"
     "list [$s length] [[objc::class NSString] stringWithCString: hi] "
     "[[$s description] cString]",
     "const s = objc.classes.NSMutableString.new();\n"
     "s.appendString_('hello');\n"
     "[s.length(), objc.classes.NSString.stringWithCString_('hi').length(),\n"
     " String(s), s.$className, s.$methods.includes('- appendString:'),\n"
     " s.then === undefined].join(' ')",
     "local s = objc.classes.NSMutableString:new()\n"
     "s:appendString_('hello')\n"
     "return table.concat({s:length(), objc.classes.NSString:stringWithCString_('hi'):length(),\n"
     "  tostring(s), s['$className'], #s['$ownMethods'] == 0 and 'none' or 'some'}, ' ')",
     nullptr,
     {"5 0x*#* hello", "5 2 hello NSMutableString true true",
      "5 2 hello NSMutableString some"}},
    {"AHandleCommandHoldsItsObjectUntilReleased",
     "objc::pool { set ::h [objc::send NSMutableString new] }\n"
     "$::h appendString: kept\n"
     "set text [$::h cString]; $::h release\n"
     "list $text [catch {$::h length} m] $m",
     nullptr, nullptr, "kept 1 {object 0x* was freed}"},
    {"IvarsAsProperties", nullptr,
     "const B = objc.defineClass('%LPropBox', 'NSObject', '{B=\"n\"i}');\n"
     "const b = B.new(); b.$ivars.n = 7; b.$ivars.n + objc.ivar(b, 'n')",
     "local B = objc.defineClass('%LPropBox', 'NSObject', '{B=\"n\"i}')\n"
     "local b = B:new(); b['$ivars'].n = 7\n"
     "return b['$ivars'].n + objc.ivar(b, 'n')",
     "14"},
    {"ClassExists", "objc::defineClass NSObject NSObject",
     "objc.defineClass('NSObject', 'NSObject')",
     "return objc.defineClass('NSObject', 'NSObject')",
     "error: a class named NSObject exists already"},
    {"SuperclassMustBeAClass",
     "objc::defineClass %LOdd [objc::string x]",
     "objc.defineClass('%LOdd', objc.string('x'))",
     "return objc.defineClass('%LOdd', objc.string('x'))",
     "error: expected a class but got *"},
    {"MethodsIvarsAndSuper",
     "objc::defineClass %LCounter NSObject {{C=\"count\"i}}\n"
     "objc::method %LCounter init @8@0:4 {} {\n"
     "  set self [objc::super $self init]; objc::ivar $self count 5\n"
     "  return $self }\n"
     "objc::method %LCounter bump: i12@0:4i8 {by} {\n"
     "  objc::ivar $self count [expr {[objc::ivar $self count] + $by}] }\n"
     "set c [objc::send [objc::send %LCounter alloc] init]\n"
     "objc::send $c bump: 3\n"
     "objc::send -types i16@0:4:8@12 $c performSelector:withObject: bump: {}\n"
     "objc::ivar $c count",
     "objc.defineClass('%LCounter', 'NSObject', '{C=\"count\"i}');\n"
     "objc.method('%LCounter', 'init', '@8@0:4', function (self) {\n"
     "  self = objc.super(self, 'init'); objc.ivar(self, 'count', 5);\n"
     "  return self; });\n"
     "objc.method('%LCounter', 'bump:', 'i12@0:4i8', function (self, _cmd, by) {\n"
     "  return objc.ivar(self, 'count', objc.ivar(self, 'count') + by); });\n"
     "const c = objc.send(objc.send('%LCounter', 'alloc'), 'init');\n"
     "objc.send(c, 'bump:', 3);\n"
     "objc.sendTyped('i16@0:4:8@12', c, 'performSelector:withObject:',\n"
     "  'bump:', null);\n"
     "objc.ivar(c, 'count')",
     "objc.defineClass('%LCounter', 'NSObject', '{C=\"count\"i}')\n"
     "objc.method('%LCounter', 'init', '@8@0:4', function (self)\n"
     "  self = objc.super(self, 'init'); objc.ivar(self, 'count', 5)\n"
     "  return self end)\n"
     "objc.method('%LCounter', 'bump:', 'i12@0:4i8', function (self, _cmd, by)\n"
     "  return objc.ivar(self, 'count', objc.ivar(self, 'count') + by) end)\n"
     "local c = objc.send(objc.send('%LCounter', 'alloc'), 'init')\n"
     "objc.send(c, 'bump:', 3)\n"
     "objc.sendTyped('i16@0:4:8@12', c, 'performSelector:withObject:',\n"
     "  'bump:', nil)\n"
     "return objc.ivar(c, 'count')",
     "8"},
    {"ClassSideMethodAndFormer",
     "objc::defineClass %LMaker NSObject\n"
     "objc::method %LMaker -class answer i8@0:4 {} { return 20 }\n"
     "objc::method %LMaker -class answer i8@0:4 {} {\n"
     "  expr {[objc::former $self answer] + 1} }\n"
     "objc::send %LMaker answer",
     "objc.defineClass('%LMaker', 'NSObject');\n"
     "objc.method('%LMaker', '-class', 'answer', 'i8@0:4', () => 20);\n"
     "objc.method('%LMaker', '-class', 'answer', 'i8@0:4',\n"
     "  (self) => objc.former(self, 'answer') + 1);\n"
     "objc.send('%LMaker', 'answer')",
     "objc.defineClass('%LMaker', 'NSObject')\n"
     "objc.method('%LMaker', '-class', 'answer', 'i8@0:4', function() "
     "return 20 end)\n"
     "objc.method('%LMaker', '-class', 'answer', 'i8@0:4', function(self)\n"
     "  return objc.former(self, 'answer') + 1 end)\n"
     "return objc.send('%LMaker', 'answer')",
     "21"},
    {"MethodTypesChecked",
     "objc::method NSObject %Lfoo: zzz {} {}",
     "objc.method('NSObject', '%Lfoo:', 'zzz', () => 0)",
     "return objc.method('NSObject', '%Lfoo:', 'zzz', function() end)",
     "error: unsupported type encoding \"z\""},
    {"MethodBodyIsChecked", nullptr,
     "objc.method('NSObject', '%Lbar', 'v8@0:4', 3)",
     "return objc.method('NSObject', '%Lbar', 'v8@0:4', 3)",
     "error: expected a function but got \"3\""},
    {"UnknownInstanceVariable",
     "objc::ivar [objc::send NSObject new] nothing",
     "objc.ivar(objc.send('NSObject', 'new'), 'nothing')",
     "return objc.ivar(objc.send('NSObject', 'new'), 'nothing')",
     "error: <NSObject 0x*> has no instance variable nothing"},
    {"ProtocolTypesRefused",
     "objc::protocol create %LBad {} {foo: zzz}",
     "objc.protocol.create('%LBad', [], [['foo:', 'zzz']])",
     "return objc.protocol.create('%LBad', {}, {{'foo:', 'zzz'}})",
     "error: unsupported type encoding \"z\""},
    {"ProtocolTypesRefusedInMaps", nullptr,
     "objc.protocol.create('%LBadMap', [], {'foo:': 'zzz'})",
     "return objc.protocol.create('%LBadMap', {}, {['foo:'] = 'zzz'})",
     "error: unsupported type encoding \"z\""},
    {"ProtocolMethodsAsPairs",
     "objc::protocol create %LPairs {} {{length I8@0:4} {hash I8@0:4}}\n"
     "objc::protocol implements NSString %LPairs",
     "objc.protocol.create('%LPairs', [], [['length', 'I8@0:4'], "
     "['hash', 'I8@0:4']]);\n"
     "objc.protocol.implements('NSString', '%LPairs')",
     "objc.protocol.create('%LPairs', {}, {{'length', 'I8@0:4'}, "
     "{'hash', 'I8@0:4'}})\n"
     "return objc.protocol.implements('NSString', '%LPairs')",
     "1"},
    {"ProtocolMethodsFlatOrAsAMap",
     "objc::protocol create %LFlat {} {length I8@0:4 noSuchMethod v8@0:4}\n"
     "objc::protocol implements NSString %LFlat",
     "objc.protocol.create('%LFlat', [], {length: 'I8@0:4', "
     "noSuchMethod: 'v8@0:4'});\n"
     "objc.protocol.implements('NSString', '%LFlat')",
     "objc.protocol.create('%LFlat', {}, {length = 'I8@0:4', "
     "noSuchMethod = 'v8@0:4'})\n"
     "return objc.protocol.implements('NSString', '%LFlat')",
     "0"},
    {"ProtocolNameFindAndList",
     "set p [objc::protocol create %LNamed]\n"
     "list [objc::protocol name $p] [objc::protocol name %LNamed] "
     "[expr {\"%LNamed\" in [objc::protocol list]}] "
     "[objc::protocol find %LNothing]",
     "const p = objc.protocol.create('%LNamed');\n"
     "[objc.protocol.name(p), objc.protocol.name('%LNamed'),\n"
     " objc.protocol.list().includes('%LNamed') ? 1 : 0,\n"
     " objc.protocol.find('%LNothing') === null ? '{}' : 'x'].join(' ')",
     "local p = objc.protocol.create('%LNamed')\n"
     "local listed = 0\n"
     "for _, name in ipairs(objc.protocol.list()) do\n"
     "  if name == '%LNamed' then listed = 1 end end\n"
     "return table.concat({objc.protocol.name(p), "
     "objc.protocol.name('%LNamed'), listed,\n"
     "  objc.protocol.find('%LNothing') == nil and '{}' or 'x'}, ' ')",
     "%LNamed %LNamed 1 {}"},
    {"ProtocolIncorporatesAndConforms",
     "objc::protocol create %LOuter {%LNamed2}\n"
     "objc::protocol conforms NSObject %LOuter",
     "objc.protocol.create('%LOuter', ['%LNamed2'])",
     "return objc.protocol.create('%LOuter', {'%LNamed2'})",
     "error: no protocol named %LNamed2"},
    {"AnObjectIsNoProtocol",
     "objc::protocol name [objc::send NSObject new]",
     "objc.protocol.name(objc.send('NSObject', 'new'))",
     "return objc.protocol.name(objc.send('NSObject', 'new'))",
     "error: expected a protocol but got *"},
    {"AClassIsNoProtocol",
     "objc::protocol conforms NSObject [objc::class NSString]",
     "objc.protocol.conforms('NSObject', objc.class('NSString'))",
     "return objc.protocol.conforms('NSObject', objc.class('NSString'))",
     "error: expected a protocol but got *"},
    {"CFunctionNamedOrNot",
     "objc::cfunction probeTwice i4i0 %Ltwice\n"
     "expr {[%Ltwice 21] + [[objc::cfunction probeTwice i4i0] 0]}",
     "objc.cfunction('probeTwice', 'i4i0', '%Ltwice');\n"
     "%Ltwice(21) + objc.cfunction('probeTwice', 'i4i0')(0)",
     "objc.cfunction('probeTwice', 'i4i0', '%Ltwice')\n"
     "return %Ltwice(21) + objc.cfunction('probeTwice', 'i4i0')(0)",
     "42"},
    {"CFunctionErrorsNameTheFunction",
     "objc::cfunction probeTwice i4i0 %LtwiceBad; %LtwiceBad x",
     "objc.cfunction('probeTwice', 'i4i0', '%LtwiceBad')('x')",
     "return objc.cfunction('probeTwice', 'i4i0', '%LtwiceBad')('x')",
     "error: %LtwiceBad: expected integer but got \"x\""},
    {"UnknownCFunction", "objc::cfunction no_such_function_here v0",
     "objc.cfunction('no_such_function_here', 'v0')",
     "return objc.cfunction('no_such_function_here', 'v0')",
     "error: unknown C symbol no_such_function_here"},
    {"TclGroupsAreEnsembles",
     "list [objc::protocol na [objc::protocol create %LPrefixed]] "
     "[namespace ensemble exists objc::symbols]",
     nullptr, nullptr, "%LPrefixed 1"},
    /* Each send's answer takes over the interpreter's result in place and
       leaves its value for the next: answers kept, listed or changed stay
       what they were, and the holds balance. */
    {"TclObjectAnswersStayApart",
     "set o [objc::send NSObject new]; set p [objc::send NSObject new]\n"
     "set before [objc::send $o retainCount]\n"
     "set a [objc::send $o self]; set b [objc::send $p self]\n"
     "lappend l [objc::send $p self] [objc::send $o self]\n"
     "set c [objc::send $o self]; append c x\n"
     "for {set i 0} {$i < 3} {incr i} {objc::send $p self}\n"
     "list [expr {$a eq $o && $b eq $p}] [expr {$l eq [list $p $o]}] "
     "[expr {$c eq \"${o}x\"}] [string equal [objc::send $p self] $p] "
     "[expr {[objc::send $o retainCount] - $before}]",
     nullptr, nullptr, "1 1 1 1 0"},
    {"TclUnknownSubcommand", "objc::protocol frob", nullptr, nullptr,
     "error: unknown or ambiguous subcommand \"frob\": must be *"},
    {"SymbolsLoadAnswersTheTable",
     "expr {[objc::symbols load %P] in [objc::symbols tables]}",
     "const t = objc.symbols.load('%P'); objc.symbols.tables().includes(t)",
     "local t = objc.symbols.load('%P')\n"
     "for _, each in ipairs(objc.symbols.tables()) do\n"
     "  if each == t then return true end end\nreturn false",
     "1"},
    {"SymbolsLookupInATable",
     "lrange [objc::symbols lookup probeTwice [objc::symbols load %P]] 0 1",
     "const d = objc.symbols.lookup('probeTwice', objc.symbols.load('%P'));\n"
     "d.kind + ' ' + d.name",
     "local d = objc.symbols.lookup('probeTwice', objc.symbols.load('%P'))\n"
     "return d.kind .. ' ' .. d.name",
     "FUNCTION probeTwice"},
    {"SymbolsLookupMisses", "objc::symbols lookup noSuchSymbolAnywhere",
     "objc.symbols.lookup('noSuchSymbolAnywhere')",
     "return objc.symbols.lookup('noSuchSymbolAnywhere')", ""},
    {"SymbolsEnumerateATable",
     "llength [objc::symbols enumerate [objc::symbols load %P]]",
     "objc.symbols.enumerate(objc.symbols.load('%P')).length",
     "return #objc.symbols.enumerate(objc.symbols.load('%P'))", "2"},
    {"SymbolsSignatureForCFunction",
     "objc::symbols load %P; objc::cfunction probeTwice {} %LfromTable\n"
     "%LfromTable 4",
     "objc.symbols.load('%P');\n"
     "objc.cfunction('probeTwice', null, '%LfromTable')(4)",
     "objc.symbols.load('%P')\n"
     "return objc.cfunction('probeTwice', nil, '%LfromTable')(4)",
     "8"},
    {"SymbolsUnknownTable", "objc::symbols enumerate 0x00001234",
     "objc.symbols.enumerate('0x00001234')",
     "return objc.symbols.enumerate('0x00001234')",
     "error: no symbol table 0x00001234"},
    {"SymbolsUnreadableFile", "objc::symbols load /no/such/file.sym",
     "objc.symbols.load('/no/such/file.sym')",
     "return objc.symbols.load('/no/such/file.sym')",
     "error: cannot load symbol table /no/such/file.sym"},
};
// clang-format on

std::string symbolFile() {
  static std::string path = [] {
    std::string made = testing::TempDir() + "bridge_commands.sym";
    SymbolTable *table = ZelObjC_NewSymbolTable();
    ZelObjC_DefineSymbol(table, "probeTwice", ZEL_SYMBOL_FUNCTION, "i4i0");
    ZelObjC_DefineSymbol(table, "PROBE_LIMIT", ZEL_SYMBOL_MACRO, "10");
    ZelObjC_SaveSymbolTable(table, made.c_str());
    ZelObjC_DestroySymbolTable(table);
    return made;
  }();
  return path;
}

std::string replaced(std::string text, const std::string &from,
                     const std::string &to) {
  for (size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

std::string prepared(const char *text, Language language) {
  return replaced(replaced(text, "%L", tags[language]), "%P", symbolFile());
}

std::string jsString(const std::string &text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\\' || c == '\'')
      quoted += '\\';
    quoted += c == '\n' ? std::string("\\n") : std::string(1, c);
  }
  return quoted + "'";
}

// The case's script wrapped so that its answer, or "error: MESSAGE", is
// the text of the result; nil answers "".
std::string wrapped(const std::string &script, Language language) {
  switch (language) {
  case Tcl:
    return "if {[catch {" + script +
           "} r]} {set r \"error: $r\"} else "
           "{set r}";
  case JS:
    return "(() => { try { const r = eval(" + jsString(script) +
           "); return r === null || r === undefined ? '' : "
           "r === true ? '1' : r === false ? '0' : String(r); } "
           "catch (e) { return 'error: ' + e.message; } })()";
  default:
    return "local ok, r = pcall(load([==========[" + script +
           "]==========]))\n"
           "if not ok then return 'error: ' .. tostring(r) end\n"
           "if r == nil then return '' elseif r == true then return '1' "
           "elseif r == false then return '0' end\nreturn tostring(r)";
  }
}

std::string text(id string) {
  const char *chars = string ? objc_send<const char *>(string, "cString") : "";
  return chars ? chars : "";
}

id nsString(const std::string &text) {
  return objc_send_class("NSString", "stringWithCString:", text.c_str());
}

id interp(Language language) {
  return objc_send_class((std::string(prefixes[language]) + "Interp").c_str(),
                         "mainInterp");
}

id raised = nil;

// evaluate: of the language's main interpreter: the result's description,
// or "raised NAME: REASON".
std::string evaluate(Language language, const std::string &script) {
  raised = nil;
  id volatile result = nil;
  id target = interp(language);
  id source = nsString(script);
  NS_DURING
  result = objc_send(target, "evaluate:", source);
  NS_HANDLER
  raised = localException;
  NS_ENDHANDLER
  if (raised)
    return "raised " + text(objc_send(raised, "name")) + ": " +
           text(objc_send(raised, "reason"));
  return text(objc_send(result, "description"));
}

// '*' matches any text.
bool matches(const char *pattern, const char *text) {
  if (!*pattern)
    return !*text;
  if (*pattern == '*')
    return matches(pattern + 1, text) || (*text && matches(pattern, text + 1));
  return *pattern == *text && matches(pattern + 1, text + 1);
}

class InAutoreleasePool {
protected:
  InAutoreleasePool()
      : pool_(
            objc_send(objc_send_class("NSAutoreleasePool", "alloc"), "init")) {}
  ~InAutoreleasePool() { objc_send<void>(pool_, "release"); }
  id pool_;
};

using Run = std::tuple<size_t, Language>;

class Commands : public testing::TestWithParam<Run>,
                 protected InAutoreleasePool {};

TEST_P(Commands, AnswerAlikeInEveryLanguage) {
  const Case &test = cases[std::get<0>(GetParam())];
  Language language = std::get<1>(GetParam());
  const char *scripts[] = {test.tcl, test.js, test.lua};
  if (!scripts[language])
    GTEST_SKIP() << "not a case in this language";
  const char *expected =
      test.perLanguage[language] ? test.perLanguage[language] : test.expected;
  std::string answer = evaluate(
      language, wrapped(prepared(scripts[language], language), language));
  std::string pattern = prepared(expected, language);
  EXPECT_TRUE(matches(pattern.c_str(), answer.c_str()))
      << "expected: " << pattern << "\n     got: " << answer;
}

INSTANTIATE_TEST_SUITE_P(
    Table, Commands,
    testing::Combine(testing::Range<size_t>(0, std::size(cases)),
                     testing::Values(Tcl, JS, Lua)),
    [](const testing::TestParamInfo<Run> &run) {
      return std::string(cases[std::get<0>(run.param)].name) + "_" +
             tags[std::get<1>(run.param)];
    });

// ---- the classes the core makes for each language ----

class LanguageClasses : public testing::TestWithParam<Language>,
                        protected InAutoreleasePool {
protected:
  std::string className(const char *suffix) {
    return std::string(prefixes[GetParam()]) + suffix;
  }
  id language() {
    id cls = objc_getClass(className("Language").c_str());
    id all = objc_send_class("ZELScriptingLanguage", "availableLanguages");
    id each = objc_send(all, "objectEnumerator");
    for (id found; (found = objc_send(each, "nextObject"));)
      if (found->isa == reinterpret_cast<Class>(cls))
        return found;
    return nil;
  }
};

TEST_P(LanguageClasses, AreRegisteredInTheOrderTclJavaScriptLua) {
  id all = objc_send_class("ZELScriptingLanguage", "availableLanguages");
  id each = objc_send(all, "objectEnumerator");
  std::string order;
  for (id found; (found = objc_send(each, "nextObject"));)
    order += text(objc_send(found, "fileExtension")) + " ";
  EXPECT_EQ(order, "tcl js lua ");
  ASSERT_NE(language(), nil);
  EXPECT_EQ(
      objc_send<Class>(language(), "interpClass"),
      reinterpret_cast<Class>(objc_getClass(className("Interp").c_str())));
}

TEST_P(LanguageClasses, ValuesFromCReachTheScript) {
  id values = objc_getClass(className("Value").c_str());
  EXPECT_EQ(
      text(objc_send(objc_send(values, "valueWithInt:", 42), "description")),
      "42");
  const char *words[] = {"one", "two words", nullptr};
  id list = objc_send(values, "valueWithPointer:toObjCType:", words, "*");
  objc_send<void>(interp(GetParam()),
                  "setVariable:toValue:global:", nsString("probeWords"), list,
                  YES);
  const char *count[] = {"llength $probeWords", "probeWords.length",
                         "return #probeWords"};
  EXPECT_EQ(evaluate(GetParam(), count[GetParam()]), "2");
}

TEST_P(LanguageClasses, AnObjectThatIsNoValueIsRefused) {
  id target = interp(GetParam());
  id name = nsString("probe");
  id notAValue = nsString("hello");
  raised = nil;
  NS_DURING
  objc_send<void>(target, "setVariable:toValue:global:", name, notAValue, YES);
  NS_HANDLER
  raised = localException;
  NS_ENDHANDLER
  ASSERT_NE(raised, nil);
  std::string expected =
      "expected a " + className("Value") + " but got <NSString 0x*>";
  EXPECT_TRUE(
      matches(expected.c_str(), text(objc_send(raised, "reason")).c_str()))
      << text(objc_send(raised, "reason"));
}

TEST_P(LanguageClasses, ScriptErrorsRaiseTheLanguagesException) {
  const char *failing[] = {"error {on purpose}",
                           "throw new Error('on purpose')",
                           "error('on purpose')"};
  const char *names[] = {"ZELTclException", "ZELJavaScriptException",
                         "ZELLuaException"};
  std::string answer = evaluate(GetParam(), failing[GetParam()]);
  EXPECT_EQ(answer.rfind(std::string("raised ") + names[GetParam()] + ": ", 0),
            0u)
      << answer;
  EXPECT_NE(answer.find("on purpose"), std::string::npos) << answer;
  ASSERT_NE(raised, nil);
  id all = objc_send_class("ZELScriptingLanguage", "availableLanguages");
  id each = objc_send(all, "objectEnumerator");
  int claims = 0;
  for (id found; (found = objc_send(each, "nextObject"));)
    claims += objc_send<BOOL>(found, "isResponsibleForException:", raised);
  EXPECT_EQ(claims, 1);
  EXPECT_TRUE(
      objc_send<BOOL>(language(), "isResponsibleForException:", raised));
}

TEST_P(LanguageClasses, AnInterpreterReleasedByItsOwnScriptFinishesIt) {
  id made = objc_send(objc_getClass(className("Interp").c_str()), "alloc");
  probeDoomedInterp = objc_send(made, "init");
  const char *scripts[] = {
      "objc::cfunction probeReleaseInterp v0; probeReleaseInterp; "
      "set after [expr {6 * 7}]",
      "objc.cfunction('probeReleaseInterp', 'v0')(); 6 * 7",
      "objc.cfunction('probeReleaseInterp', 'v0')(); return 6 * 7"};
  id result =
      objc_send(probeDoomedInterp, "evaluate:", nsString(scripts[GetParam()]));
  EXPECT_EQ(text(objc_send(result, "description")), "42");
}

long residentKilobytes() {
  FILE *status = std::fopen("/proc/self/status", "r");
  char line[256];
  long kilobytes = 0;
  while (status && std::fgets(line, sizeof line, status))
    if (std::sscanf(line, "VmRSS: %ld", &kilobytes) == 1)
      break;
  if (status)
    std::fclose(status);
  return kilobytes;
}

// Resident sizes mean nothing under AddressSanitizer, which keeps freed
// memory aside on purpose.
#ifdef __SANITIZE_ADDRESS__
#define SKIP_UNDER_SANITIZER() GTEST_SKIP() << "resident size under ASan"
#else
#define SKIP_UNDER_SANITIZER() (void)0
#endif

// What a call from C makes in the language is given back when it returns,
// not held for the whole outer call.
TEST_P(LanguageClasses, CallbacksFromCKeepMemoryFlat) {
  SKIP_UNDER_SANITIZER();
  const char *define[] = {
      "set ::one [objc::callback new i4i0 {n} { return 1 }]\n"
      "objc::cfunction probeCallBack i8^?0i4 %LcallBack; list",
      "globalThis.one = objc.callback('i4i0', (n) => 1);\n"
      "globalThis.callBack = objc.cfunction('probeCallBack', 'i8^?0i4'); 0",
      "one = objc.callback('i4i0', function(n) return 1 end)\n"
      "callBack = objc.cfunction('probeCallBack', 'i8^?0i4')"};
  const char *call[] = {"%LcallBack $::one COUNT", "callBack(one, COUNT)",
                        "return callBack(one, COUNT)"};
  Language language = GetParam();
  evaluate(language, prepared(define[language], language));
  auto run = [&](const char *count) {
    return evaluate(
        language, replaced(prepared(call[language], language), "COUNT", count));
  };
  EXPECT_EQ(run("20000"), "20000"); /* the engine's own growth comes first */
  long before = residentKilobytes();
  EXPECT_EQ(run("300000"), "300000");
  EXPECT_LT(residentKilobytes() - before, 8 * 1024);
}

// Sends making autoreleased strings, a pool per thousand: the resident
// size stays within a bound of its start (Tcl: 2 MB over a million sends;
// JavaScript and Lua, with a collection after each pool, 8 MB over two
// hundred thousand, their collectors' own slack).
TEST_P(LanguageClasses, PoolsGiveTheirObjectsBack) {
  SKIP_UNDER_SANITIZER();
  const char *loops[] = {
      "for {set i 0} {$i < POOLS} {incr i} { objc::pool {\n"
      "  for {set j 0} {$j < 1000} {incr j} {\n"
      "    objc::send NSString stringWithCString: abc } } }",
      "for (let i = 0; i < POOLS; ++i) { objc.pool(() => {\n"
      "  for (let j = 0; j < 1000; ++j)\n"
      "    objc.send('NSString', 'stringWithCString:', 'abc'); }); gc(); }",
      "for i = 1, POOLS do objc.pool(function()\n"
      "  for j = 1, 1000 do\n"
      "    objc.send('NSString', 'stringWithCString:', 'abc') end end)\n"
      "  collectgarbage() end"};
  const char *pools[] = {"1000", "200", "200"};
  Language language = GetParam();
  evaluate(language, replaced(loops[language], "POOLS", "20"));
  long before = residentKilobytes();
  evaluate(language, replaced(loops[language], "POOLS", pools[language]));
  long grown = residentKilobytes() - before;
  EXPECT_LT(grown, language == Tcl ? 2 * 1024 : 8 * 1024);
}

// What the console's Tab offers: asked of the interpreter, and asked
// again after the script added a class or a method.
TEST_P(LanguageClasses, CompleteClassNamesAndSelectorsAsTheyChange) {
  id target = interp(GetParam());
  auto completions = [&](const std::string &prefix) {
    id names = objc_send(target, "completionsOf:", nsString(prefix));
    std::string all;
    for (unsigned i = 0; i < objc_send<unsigned>(names, "count"); ++i)
      all += text(objc_send(names, "objectAtIndex:", i)) + " ";
    return all;
  };
  EXPECT_NE(completions("NSStr").find("NSString "), std::string::npos);
  EXPECT_NE(completions("stringWithC").find("stringWithCString: "),
            std::string::npos);
  std::string name = std::string(tags[GetParam()]) + "Completed";
  EXPECT_EQ(completions(name), "");
  const char *defineClass[] = {"objc::defineClass %LCompleted NSObject",
                               "objc.defineClass('%LCompleted', 'NSObject')",
                               "objc.defineClass('%LCompleted', 'NSObject')"};
  evaluate(GetParam(), prepared(defineClass[GetParam()], GetParam()));
  EXPECT_EQ(completions(name), name + " ");
  std::string selector = tags[GetParam()] + std::string("Probe");
  EXPECT_EQ(completions(selector), "");
  const char *defineMethod[] = {
      "objc::method %LCompleted -class %LProbe:with: @16@0:4@8@12 {a b} {}",
      "objc.method('%LCompleted', '-class', '%LProbe:with:', '@16@0:4@8@12',\n"
      "  () => null)",
      "objc.method('%LCompleted', '-class', '%LProbe:with:', '@16@0:4@8@12',\n"
      "  function() end)"};
  evaluate(GetParam(), prepared(defineMethod[GetParam()], GetParam()));
  EXPECT_EQ(completions(selector), selector + ":with: ");
  EXPECT_EQ(completions("\x01"), "");
}

INSTANTIATE_TEST_SUITE_P(Each, LanguageClasses, testing::Values(Tcl, JS, Lua),
                         [](const testing::TestParamInfo<Language> &each) {
                           return std::string(tags[each.param]);
                         });

// ---- Lua userdata over several evaluations (each in a pool of its own) ----

class LuaHandles : public testing::Test, protected InAutoreleasePool {
protected:
  static std::string run(const std::string &script) {
    return evaluate(Lua, wrapped(script, Lua));
  }
};

// A userdata nobody refers to is collected and gives its object back; one
// still referred to survives the collection and stays the object's.
TEST_F(LuaHandles, DroppedUserdataAreCollected) {
  EXPECT_EQ(run("objc.defineClass('LuaDropped', 'NSObject')\n"
                "objc.instances('LuaDropped')\n"
                "kept = objc.send('LuaDropped', 'new')\n"
                "local before = objc.pool(function()\n"
                "  for i = 1, 500 do objc.send('LuaDropped', 'new') end\n"
                "  return #objc.instances('LuaDropped') end)\n"
                "collectgarbage(); objc.class('NSObject')\n"
                "local live = objc.instances('LuaDropped')\n"
                "return before .. ' ' .. #live .. ' ' ..\n"
                "  tostring(rawequal(live[1], kept))"),
            "501 1 true");
  EXPECT_EQ(run("collectgarbage(); return rawequal(objc.send(kept, 'self'), "
                "kept)"),
            "1");
}

// An object received again in a later pool, through the userdata it
// already has, lives until the end of that pool, even when the userdata
// goes within it.
TEST_F(LuaHandles, AnObjectReceivedAgainLivesUntilTheEndOfThatPool) {
  ASSERT_EQ(run("objc.defineClass('LuaReceived', 'NSObject')\n"
                "objc.instances('LuaReceived')\n"
                "keep = objc.send('LuaReceived', 'new'); return 0"),
            "0");
  EXPECT_EQ(run("return objc.pool(function()\n"
                "  objc.send(keep, 'self'); keep = nil\n"
                "  collectgarbage(); objc.class('NSObject')\n"
                "  return #objc.instances('LuaReceived') end)"),
            "1");
}

// Lua takes a userdata out of weak values before its __gc runs: an object
// coming back while its dropped userdata waits for __gc (here from the
// finalizer of a table that held it, which runs first) gets a new
// userdata, which keeps the object once the old one's __gc has run.
TEST_F(LuaHandles, AnObjectBackBeforeItsUserdatasFinalizerGetsANewOne) {
  EXPECT_EQ(
      run("objc.defineClass('LuaFinalized', 'NSObject')\n"
          "objc.instances('LuaFinalized')\n"
          "local h = objc.send('LuaFinalized', 'new')\n"
          "setmetatable({h = h}, {__gc = function(t)\n"
          "  stale = t.h; again = objc.instances('LuaFinalized')[1] end})\n"
          "h = nil; collectgarbage()\n"
          "return tostring(rawequal(stale, again)) .. ' ' ..\n"
          "  tostring(again ~= nil)"),
      "false true");
  EXPECT_EQ(run("collectgarbage(); objc.class('NSObject')\n"
                "return #objc.instances('LuaFinalized') .. ' ' ..\n"
                "  tostring(rawequal(objc.send(again, 'self'), again))"),
            "1 true");
  EXPECT_EQ(
      run("stale, again = nil, nil; collectgarbage()\n"
          "objc.class('NSObject'); return #objc.instances('LuaFinalized')"),
      "0");
}

// The Lua global NAME set to the object, by a script method.
void setLuaObject(const char *name, id object) {
  if (!objc_getClass("LuaKeeper"))
    evaluate(Lua,
             "objc.defineClass('LuaKeeper', 'NSObject')\n"
             "objc.method('LuaKeeper', '-class', 'keep:as:', 'v16@0:4@8*12',\n"
             "  function(_, _, object, name) _G[name] = object end)");
  objc_send<void>(objc_getClass("LuaKeeper"), "keep:as:", object, name);
}

// A new object at a freed object's address is another object: it gets a
// userdata of its own, and the freed one's stays refused.
TEST_F(LuaHandles, AnAddressReusedIsANewUserdata) {
  id old = objc_send(objc_send_class("NSObject", "alloc"), "init");
  setLuaObject("old", old);
  ASSERT_EQ(run("objc.send(old, 'release'); return math.type(old:hash())"),
            "integer");
  ReusedAddress reused(old);
  if (!reused.fresh)
    GTEST_SKIP() << "no new object came at the freed one's address";
  setLuaObject("fresh", reused.fresh);
  EXPECT_EQ(
      run("local refused, message = pcall(objc.send, old, 'hash')\n"
          "return table.concat({tostring(rawequal(fresh, old)),\n"
          "  tostring(fresh == old), math.type(fresh:hash()),\n"
          "  tostring(refused), tostring(message:find('was freed') ~= nil),\n"
          "  tostring(tostring(old):find('was freed') ~= nil)}, ' ')"),
      "false false integer false true true");
}

} // namespace
