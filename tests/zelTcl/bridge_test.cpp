// The objc commands of zelTcl and the bridge core under them: sends of
// every call kind, structs both ways, script methods called from C with
// every result kind, redefinition and former methods, ivars with
// bitfields, protocols, C functions and symbol tables, and the errors.
#include <zelTcl/zelTcl.h>
#include <zelObjCRuntime/zelObjCRuntime.h>
#include <objc/objc-load.h>
#include <Foundation/Foundation.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

using namespace objc_module_records;

OBJC_IMPORT_CLASS(NSFramework_zelTcl);
OBJC_LIBRARY_REGISTRATION()

struct Point {
  int x, y;
  static constexpr char objcEncoding[] = "{Point=ii}";
};
struct Rect {
  double x, y, width, height;
  static constexpr char objcEncoding[] = "{Rect=dddd}";
};
struct Odd { /* a member after padding */
  char c;
  int i;
  static constexpr char objcEncoding[] = "{Odd=ci}";
};

// ---- C functions found by name (declared first, as a header would) ----
#define PROBE_EXPORT extern "C" __attribute__((visibility("default")))
PROBE_EXPORT Rect probeMakeRect(double x, double y, double width,
                                double height);
PROBE_EXPORT double probeArea(Rect rect);
PROBE_EXPORT long long probeNegate(long long value);

extern "C" __attribute__((visibility("default"))) Rect
probeMakeRect(double x, double y, double width, double height) {
  return Rect{x, y, width, height};
}
extern "C" __attribute__((visibility("default"))) double probeArea(Rect rect) {
  return rect.width * rect.height;
}
extern "C" __attribute__((visibility("default"))) long long
probeNegate(long long value) {
  return -value;
}

namespace {

// ---- a compiled class with a method of every kind ----
template <typename T> T echo(id, SEL, T value) { return value; }
Point makePoint(id, SEL, int x, int y) { return Point{x, y}; }
double sumRect(id, SEL, Rect r) { return r.x + r.y + r.width + r.height; }
Rect growRect(id, SEL, Rect r, double by) {
  return Rect{r.x - by, r.y - by, r.width + 2 * by, r.height + 2 * by};
}
int oddSum(id, SEL, Odd odd) { return odd.c + odd.i; }
void raiseUp(id, SEL) {
  id exception =
      objc_send_class("NSException", "exceptionWithName:reason:userInfo:",
                      NSSTR("ProbeException"), NSSTR("raised on purpose"), nil);
  objc_send<void>(exception, "raise");
}
int sumArray(id, SEL, int *values) { return values[0] + values[1] + values[2]; }
union Number {
  int i;
  float f;
  static constexpr char objcEncoding[] = "(Number=if)";
};

MethodList<22> Probe_imethods = {
    nullptr,
    22,
    {OBJC_DERIVED_METHOD("echoChar:", echo<signed char>),
     OBJC_DERIVED_METHOD("echoUChar:", echo<unsigned char>),
     OBJC_DERIVED_METHOD("echoShort:", echo<short>),
     OBJC_DERIVED_METHOD("echoUShort:", echo<unsigned short>),
     OBJC_DERIVED_METHOD("echoInt:", echo<int>),
     OBJC_DERIVED_METHOD("echoUInt:", echo<unsigned>),
     OBJC_DERIVED_METHOD("echoLong:", echo<long>),
     OBJC_DERIVED_METHOD("echoULong:", echo<unsigned long>),
     OBJC_DERIVED_METHOD("echoLongLong:", echo<long long>),
     OBJC_DERIVED_METHOD("echoULongLong:", echo<unsigned long long>),
     OBJC_DERIVED_METHOD("echoFloat:", echo<float>),
     OBJC_DERIVED_METHOD("echoDouble:", echo<double>),
     /* written out: the plain "*", not the function's "r*" */
     OBJC_METHOD("echoString:", "*12@0:4*8", echo<const char *>),
     OBJC_DERIVED_METHOD("echoSelector:", echo<SEL>),
     OBJC_DERIVED_METHOD("echoObject:", echo<id>),
     OBJC_DERIVED_METHOD("echoPointer:", echo<void *>),
     OBJC_DERIVED_METHOD("makePoint:y:", makePoint),
     OBJC_DERIVED_METHOD("sumRect:", sumRect),
     OBJC_DERIVED_METHOD("grow:by:", growRect),
     OBJC_DERIVED_METHOD("oddSum:", oddSum),
     OBJC_DERIVED_METHOD("raiseUp", raiseUp),
     OBJC_DERIVED_METHOD("echoNumber:", echo<Number>)}};
MethodList<1> Probe_cmethods = {
    nullptr,
    1, /* an array argument, which no C++ function has */
    {OBJC_METHOD("sumArray:", "i12@0:4[3i]8", sumArray)}};

OBJC_CLASS_RECORDS(Probe_class, "BridgeProbe", "NSObject", sizeof(id), nullptr,
                   &Probe_imethods, &Probe_cmethods);

std::string tcl(const std::string &script);

/* A class whose +initialize sends it a message from Tcl: the lookup then
   answers the emergency record, whose types are not the method's. */
std::string sentDuringInitialize;
void initializeEarly(id, SEL) {
  sentDuringInitialize = tcl("objc::send [objc::send EarlyProbe alloc] "
                             "isKindOfClass: EarlyProbe");
}
MethodList<1> Early_cmethods = {
    nullptr, 1, {OBJC_DERIVED_METHOD("initialize", initializeEarly)}};
OBJC_CLASS_RECORDS(Early_class, "EarlyProbe", "NSObject", sizeof(id), nullptr,
                   nullptr, &Early_cmethods);
OBJC_MODULE_RECORD(Probe_module, 2, 0, &Probe_class, &Early_class);
OBJC_REGISTER_MODULE(Probe_module)

std::string text(id string) {
  const char *characters =
      string ? objc_send<const char *>(string, "cString") : nullptr;
  return characters ? characters : "<nil>";
}

id interp() {
  static id main = objc_send_class("ZELTclInterp", "mainInterp");
  return main;
}

// The script's result, or "ERROR: " and its message.
std::string tcl(const std::string &script) {
  std::string wrapped =
      "if {[catch {" + script + "} m]} {set m \"ERROR: $m\"} else {set m}";
  id value = objc_send(
      interp(), "evaluate:",
      objc_send_class("NSString", "stringWithCString:", wrapped.c_str()));
  return text(objc_send(value, "description"));
}

id object(const std::string &script) {
  std::string address = tcl("scan [" + script + "] %x");
  return reinterpret_cast<id>(std::stoul(address));
}

class Bridge : public testing::Test {
protected:
  void SetUp() override {
    pool_ = objc_send(objc_send_class("NSAutoreleasePool", "alloc"), "init");
    tcl("set probe [objc::send [objc::send BridgeProbe alloc] init]");
  }
  void TearDown() override { objc_send<void>(pool_, "release"); }
  id pool_ = nil;
};

// ---- sends ----

TEST_F(Bridge, SendsEveryIntegerKindWithRangeChecks) {
  EXPECT_EQ(tcl("objc::send $probe echoChar: -128"), "-128");
  EXPECT_EQ(tcl("objc::send $probe echoChar: true"), "1"); // BOOL
  EXPECT_EQ(tcl("objc::send $probe echoUChar: 255"), "255");
  EXPECT_EQ(tcl("objc::send $probe echoShort: -32768"), "-32768");
  EXPECT_EQ(tcl("objc::send $probe echoUShort: 65535"), "65535");
  EXPECT_EQ(tcl("objc::send $probe echoInt: -2147483648"), "-2147483648");
  EXPECT_EQ(tcl("objc::send $probe echoUInt: 4294967295"), "4294967295");
  EXPECT_EQ(tcl("objc::send $probe echoLong: 0x7fffffff"), "2147483647");
  EXPECT_EQ(tcl("objc::send $probe echoULong: 7"), "7");
  EXPECT_EQ(tcl("objc::send $probe echoChar: 128"),
            "ERROR: integer 128 does not fit type \"c\"");
  EXPECT_EQ(tcl("objc::send $probe echoUChar: -1"),
            "ERROR: integer -1 does not fit type \"C\"");
  EXPECT_EQ(tcl("objc::send $probe echoUInt: 4294967296"),
            "ERROR: integer 4294967296 does not fit type \"I\"");
  EXPECT_EQ(tcl("objc::send $probe echoInt: 18446744073709551615"),
            "ERROR: expected integer but got \"18446744073709551615\"");
  EXPECT_EQ(tcl("objc::send $probe echoInt: abc"),
            "ERROR: expected integer but got \"abc\"");
}

TEST_F(Bridge, SendsSixtyFourBitIntegersAsDecimalText) {
  EXPECT_EQ(tcl("objc::send $probe echoLongLong: -9223372036854775808"),
            "-9223372036854775808");
  EXPECT_EQ(tcl("objc::send $probe echoULongLong: 18446744073709551615"),
            "18446744073709551615");
  EXPECT_EQ(tcl("objc::send $probe echoULongLong: 0x10"), "16");
  EXPECT_EQ(tcl("objc::send $probe echoLongLong: 9223372036854775808"),
            "ERROR: integer 9223372036854775808 does not fit type \"q\"");
  EXPECT_EQ(tcl("objc::send $probe echoULongLong: -1"),
            "ERROR: integer -1 does not fit type \"Q\"");
  EXPECT_EQ(tcl("objc::send $probe echoULongLong: 18446744073709551616"),
            "ERROR: integer 18446744073709551616 does not fit type \"Q\"");
}

TEST_F(Bridge, SendsFloatsStringsSelectorsObjectsAndPointers) {
  EXPECT_EQ(tcl("objc::send $probe echoFloat: 0.5"), "0.5");
  EXPECT_EQ(tcl("objc::send $probe echoDouble: -2.25"), "-2.25");
  EXPECT_EQ(tcl("objc::send $probe echoFloat: 1e300"),
            "ERROR: number \"1e300\" does not fit type \"f\"");
  EXPECT_EQ(tcl("objc::send $probe echoString: {two words}"), "two words");
  EXPECT_EQ(tcl("objc::send $probe echoString: {}"), "");
  EXPECT_EQ(tcl("objc::send $probe echoString: nil"), ""); // null
  EXPECT_EQ(tcl("objc::send $probe echoSelector: makePoint:y:"),
            "makePoint:y:");
  EXPECT_EQ(tcl("expr {[objc::send $probe echoObject: $probe] eq $probe}"),
            "1");
  EXPECT_EQ(tcl("objc::send $probe echoObject: {}"), "");
  EXPECT_EQ(tcl("objc::send [objc::send $probe echoObject: text] cString"),
            "text"); // a string where an object goes becomes an NSString
  EXPECT_EQ(tcl("objc::send $probe echoPointer: 0x1234"), "0x00001234");
  EXPECT_EQ(tcl("objc::send $probe echoPointer: nil"), "");
  EXPECT_EQ(tcl("objc::send NSObject class"), tcl("objc::class NSObject"));
}

TEST_F(Bridge, PassesAndReturnsStructsAndArraysAsLists) {
  EXPECT_EQ(tcl("objc::send $probe makePoint:y: 3 -4"), "3 -4");
  EXPECT_EQ(tcl("objc::send $probe sumRect: {1 2 3 4.5}"), "10.5");
  EXPECT_EQ(tcl("objc::send $probe grow:by: {0 0 10 20} 1"),
            "-1.0 -1.0 12.0 22.0");
  EXPECT_EQ(tcl("objc::send $probe oddSum: {2 40}"), "42");
  EXPECT_EQ(tcl("objc::send BridgeProbe sumArray: {1 2 3}"), "6");
  EXPECT_EQ(tcl("objc::send $probe sumRect: {1 2 3}"),
            "ERROR: expected a list of 4 members but got \"1 2 3\"");
  EXPECT_EQ(tcl("objc::send $probe oddSum: {x 1}"),
            "ERROR: expected integer but got \"x\"");
}

TEST_F(Bridge, PassesUnionsAsTheirFirstMember) {
  EXPECT_EQ(tcl("objc::send $probe echoNumber: -17"), "-17");
}

TEST_F(Bridge, SendsFromInsideInitializeUseTheMethodsRealTypes) {
  EXPECT_EQ(tcl("objc::send EarlyProbe class"), tcl("objc::class EarlyProbe"));
  EXPECT_EQ(sentDuringInitialize, "1"); // +alloc answered an object
}

// Every nil answered is one shared empty Tcl value: a script changing the
// value it got must not change the next nil, in a result, a list or a
// method's argument.
TEST_F(Bridge, NilResultsStayEmptyWhateverScriptsDoWithThem) {
  EXPECT_EQ(tcl("set a [objc::send $probe echoObject: nil]\n"
                "append a changed\n"
                "lappend b [objc::send $probe echoPointer: nil] more\n"
                "set c [objc::send $probe echoString: nil]\n"
                "string length $c"),
            "0");
  EXPECT_EQ(tcl("list [string length [objc::send $probe echoObject: nil]] "
                "[objc::send $probe echoObject: nil] $a $b"),
            "0 {} changed {{} more}");
  tcl("objc::defineClass NilArgument NSObject\n"
      "objc::method NilArgument take: v12@0:4@8 {value} "
      "{append value x; set ::seen $value}");
  EXPECT_EQ(
      tcl("set n [objc::send NilArgument new]\n"
          "objc::send $n take: nil\n"
          "objc::send $n take: nil\n"
          "list $::seen [string length [objc::send $probe echoObject: nil]]"),
      "x 0");
}

TEST_F(Bridge, ReportsSendErrorsWithoutHarm) {
  EXPECT_EQ(tcl("objc::send NSObject noSuchThing"),
            "ERROR: NSObject does not respond to noSuchThing");
  EXPECT_EQ(tcl("objc::send $probe echoInt:"),
            "ERROR: expected 1 argument, got 0");
  EXPECT_EQ(tcl("objc::send $probe echoInt: 1 2"),
            "ERROR: expected 1 argument, got 2");
  EXPECT_EQ(tcl("objc::send Nowhere alloc"), "ERROR: no class named Nowhere");
  EXPECT_EQ(tcl("objc::send $probe raiseUp"),
            "ERROR: ProbeException: raised on purpose");
  EXPECT_EQ(tcl("objc::send {} anything"), ""); // nil answers nil
  EXPECT_EQ(tcl("objc::class Nowhere"), "ERROR: no class named Nowhere");
  EXPECT_EQ(tcl("objc::send $probe echoInt: 5"), "5"); // still usable
}

TEST_F(Bridge, StaleHandlesAreRefusedEvenWhenTheAddressComesBack) {
  std::string result =
      tcl("set a [objc::send [objc::send NSObject alloc] init]\n"
          "objc::send $a release\n"
          "set b [objc::send [objc::send NSObject alloc] init]\n"
          "list [expr {$a ne $b}] [catch {objc::send $a self} m] $m");
  std::string address = tcl("lindex [split $a #] 0");
  EXPECT_EQ(result, "1 1 {object " + address + " was freed}");
  EXPECT_EQ(tcl("expr {[objc::send $b self] eq $b}"), "1");
  EXPECT_EQ(tcl("objc::send 0x1234#999999 self"),
            "ERROR: no object 0x00001234#999999");
}

// ---- script classes and methods ----

TEST_F(Bridge, ScriptMethodsAnswerEveryResultKindToC) {
  tcl("objc::defineClass Kinds NSObject");
  struct {
    const char *sel, *types, *body;
  } methods[] = {
      {"aChar", "c8@0:4", "return -5"},
      {"aUChar", "C8@0:4", "return 250"},
      {"aShort", "s8@0:4", "return -300"},
      {"aUShort", "S8@0:4", "return 60000"},
      {"anInt", "i8@0:4", "return -70000"},
      {"aUInt", "I8@0:4", "return 4000000000"},
      {"aLongLong", "q8@0:4", "return -12345678901234"},
      {"aULongLong", "Q8@0:4", "return 18446744073709551615"},
      {"aFloat", "f8@0:4", "return 1.5"},
      {"aDouble", "d8@0:4", "return 2.75"},
      {"aString", "*8@0:4", "return {from Tcl}"},
      {"aSelector", ":8@0:4", "return aDouble"},
      {"anObject", "@8@0:4", "return $self"},
      {"aClass", "#8@0:4", "return NSObject"},
      {"aPoint", "{Point=ii}8@0:4", "return {7 8}"},
      {"aRect", "{Rect=dddd}8@0:4", "return {1 2 3 4}"},
      {"nothing", "v8@0:4", "return ignored"},
  };
  for (const auto &m : methods)
    ASSERT_EQ(tcl(std::string("objc::method Kinds ") + m.sel + " {" + m.types +
                  "} {} {" + m.body + "}"),
              "")
        << m.sel;
  id kinds = objc_send(objc_send_class("Kinds", "alloc"), "init");
  EXPECT_EQ(objc_send<signed char>(kinds, "aChar"), -5);
  EXPECT_EQ(objc_send<unsigned char>(kinds, "aUChar"), 250);
  EXPECT_EQ(objc_send<short>(kinds, "aShort"), -300);
  EXPECT_EQ(objc_send<unsigned short>(kinds, "aUShort"), 60000);
  EXPECT_EQ(objc_send<int>(kinds, "anInt"), -70000);
  EXPECT_EQ(objc_send<unsigned>(kinds, "aUInt"), 4000000000u);
  EXPECT_EQ(objc_send<long long>(kinds, "aLongLong"), -12345678901234LL);
  EXPECT_EQ(objc_send<unsigned long long>(kinds, "aULongLong"), ~0ULL);
  EXPECT_EQ(objc_send<float>(kinds, "aFloat"), 1.5f);
  EXPECT_EQ(objc_send<double>(kinds, "aDouble"), 2.75);
  EXPECT_STREQ(objc_send<const char *>(kinds, "aString"), "from Tcl");
  EXPECT_EQ(objc_send<SEL>(kinds, "aSelector"), sel_registerName("aDouble"));
  EXPECT_EQ(objc_send(kinds, "anObject"), kinds);
  EXPECT_EQ(objc_send(kinds, "aClass"), objc_getClass("NSObject"));
  Point point = objc_send<Point>(kinds, "aPoint");
  EXPECT_EQ(point.x, 7);
  EXPECT_EQ(point.y, 8);
  Rect rect = objc_send<Rect>(kinds, "aRect");
  EXPECT_EQ(rect.height, 4.0);
  objc_send<void>(kinds, "nothing");
  EXPECT_EQ(tcl("objc::send Kinds aChar"),
            "ERROR: Kinds does not respond to aChar");
  objc_send<void>(kinds, "release");
}

TEST_F(Bridge, ScriptMethodsTakeArgumentsFromC) {
  tcl("objc::defineClass Taker NSObject\n"
      "objc::method Taker mix:and:and:and: "
      "{*32@0:4c8d12{Point=ii}20@28} {flag number point object} "
      "{ return \"$flag $number $point [objc::send $object cString]\" }\n"
      "objc::method Taker -class twice: q16@0:4q8 {n} "
      "{ return [expr {$n * 2}] }");
  id taker = objc_send(objc_send_class("Taker", "alloc"), "init");
  EXPECT_STREQ(objc_send<const char *>(taker, "mix:and:and:and:", 1, 0.25,
                                       Point{-1, 2}, NSSTR("obj")),
               "1 0.25 -1 2 obj");
  EXPECT_EQ(objc_send<long long>(objc_getClass("Taker"), "twice:", 1LL << 40),
            1LL << 41);
  EXPECT_EQ(tcl("objc::send Taker twice: 21"), "42");
  objc_send<void>(taker, "release");
}

// What sending sel raised, or nil.
id raisedBy(id receiver, SEL sel) {
  id caught = nil;
  NS_DURING
  objc_send<void>(receiver, sel);
  NS_HANDLER
  caught = localException;
  NS_ENDHANDLER
  return caught;
}

std::string reasonOf(id exception) {
  EXPECT_EQ(text(objc_send(exception, "name")), "ZELTclException");
  return text(objc_send(exception, "reason"));
}

TEST_F(Bridge, ATclErrorInAMethodBecomesAnObjectiveCException) {
  tcl("objc::defineClass Failing NSObject\n"
      "objc::method Failing fail v8@0:4 {} { error {went wrong} }\n"
      "objc::method Failing badResult i8@0:4 {} { return notanumber }\n"
      "objc::method Failing leave v8@0:4 {} { break }");
  id failing = objc_send(objc_send_class("Failing", "alloc"), "init");
  EXPECT_EQ(reasonOf(raisedBy(failing, sel_registerName("fail"))).substr(0, 27),
            "went wrong\n    while execut");
  EXPECT_NE(reasonOf(raisedBy(failing, sel_registerName("badResult")))
                .find("expected integer but got \"notanumber\""),
            std::string::npos);
  // Not the information of the earlier error.
  EXPECT_EQ(
      reasonOf(raisedBy(failing, sel_registerName("leave"))).substr(0, 33),
      "invoked \"break\" outside of a loop");
  // Caught by Tcl through Objective-C, the error is the original one.
  EXPECT_EQ(tcl("objc::send [objc::send [objc::send Failing alloc] init] "
                "performSelector: fail"),
            "ERROR: went wrong");
  objc_send<void>(failing, "release");
}

id evaluateRaising(const char *script) {
  id caught = nil;
  NS_DURING
  objc_send(interp(), "evaluate:",
            objc_send_class("NSString", "stringWithCString:", script));
  NS_HANDLER
  caught = localException;
  NS_ENDHANDLER
  return caught;
}

TEST_F(Bridge, EvaluateRaisesTheScriptsErrorAsAnException) {
  id exception = evaluateRaising("error {evaluated and failed}");
  ASSERT_NE(exception, nil);
  EXPECT_EQ(reasonOf(exception).substr(0, 20), "evaluated and failed");
  EXPECT_EQ(evaluateRaising("set fine 1"), nil);
}

TEST_F(Bridge, RedefinedMethodsReachTheirFormerAndSuperImplementations) {
  EXPECT_EQ(tcl("objc::defineClass Base NSObject\n"
                "objc::defineClass Derived Base\n"
                "objc::method Base greet *8@0:4 {} { return base }\n"
                "objc::method Derived greet *8@0:4 {} "
                "{ return \"derived<[objc::super $self greet]>\" }\n"
                "set d [objc::send [objc::send Derived alloc] init]\n"
                "objc::send $d greet"),
            "derived<base>");
  EXPECT_EQ(tcl("objc::method Derived greet *8@0:4 {} "
                "{ return \"again([objc::former $self greet])\" }\n"
                "objc::send $d greet"),
            "again(derived<base>)");
  // A method of Base replaced and called on a Derived instance finds Base's
  // own former method, not the running one again.
  EXPECT_EQ(tcl("objc::defineClass Leaf Base\n"
                "objc::method Base greet *8@0:4 {} "
                "{ return \"new [objc::former $self greet]\" }\n"
                "objc::send [objc::send [objc::send Leaf alloc] init] greet"),
            "new base");
  // Nothing displaced: the superclass's answer is the forwarder.
  EXPECT_EQ(tcl("objc::former $probe echoInt: 1"),
            "ERROR: NSInvalidArgumentException: -[BridgeProbe echoInt:]: "
            "selector not recognized");
  EXPECT_EQ(tcl("objc::defineClass Base NSObject"),
            "ERROR: a class named Base exists already");
  EXPECT_EQ(tcl("objc::method Base two: i12@0:4i8 {} { }"),
            "ERROR: wrong number of argument names: \"i12@0:4i8\" takes 1 "
            "besides self and _cmd");
  EXPECT_EQ(tcl("objc::method Base odd B8@0:4 {} { }"),
            "ERROR: unsupported type encoding \"B\"");
}

TEST_F(Bridge, ClassMethodsReachTheirFormerAndSuperImplementations) {
  EXPECT_EQ(tcl("objc::defineClass Maker NSObject\n"
                "objc::defineClass SubMaker Maker\n"
                "objc::method Maker -class kind *8@0:4 {} { return maker }\n"
                "objc::method SubMaker -class kind *8@0:4 {} "
                "{ return \"sub/[objc::super $self kind]\" }\n"
                "objc::method SubMaker -class kind *8@0:4 {} "
                "{ return \"again/[objc::former $self kind]\" }\n"
                "objc::send SubMaker kind"),
            "again/sub/maker");
  EXPECT_STREQ(objc_send<const char *>(objc_getClass("SubMaker"), "kind"),
               "again/sub/maker");
}

TEST_F(Bridge, ReadsAndWritesInstanceVariablesBitfieldsIncluded) {
  tcl("objc::defineClass Row NSObject "
      "{{Row=\"flag\"c\"count\"i\"lo\"b3\"hi\"b5\"value\"d\"where\"{Point=ii}}}"
      "\n"
      "set row [objc::send [objc::send Row alloc] init]\n"
      "objc::ivar $row lo 5; objc::ivar $row hi 31; objc::ivar $row count -9\n"
      "objc::ivar $row value 0.5; objc::ivar $row where {3 4}");
  EXPECT_EQ(tcl("list [objc::ivar $row lo] [objc::ivar $row hi] "
                "[objc::ivar $row count] [objc::ivar $row value] "
                "[objc::ivar $row where] [objc::ivar $row flag]"),
            "5 31 -9 0.5 {3 4} 0");
  id row = object("set row");
  auto *bytes = reinterpret_cast<unsigned char *>(row);
  Ivar lo = ZelObjC_GetInstanceVariable(row->isa, "lo");
  EXPECT_EQ(bytes[lo->ivar_offset], 5 | 31 << 3); // one shared byte
  EXPECT_EQ(tcl("objc::ivar $row lo 8"),
            "ERROR: value \"8\" does not fit bitfield lo of 3 bits");
  EXPECT_EQ(tcl("objc::ivar $row nothing"),
            "ERROR: " + tcl("objc::send $row description").substr(0, 0) +
                "<Row " + tcl("lindex [split $row #] 0") +
                "> has no instance variable nothing");
  EXPECT_EQ(tcl("objc::ivar Row name"), "Row"); // class-record fields
}

// ---- protocols, C functions, symbols ----

TEST_F(Bridge, CreatesFindsAndTestsProtocols) {
  EXPECT_EQ(tcl("objc::protocol name [objc::protocol create Greeting {} "
                "{greet *8@0:4}]"),
            "Greeting");
  EXPECT_EQ(tcl("expr {\"Greeting\" in [objc::protocol list]}"), "1");
  EXPECT_EQ(tcl("objc::protocol find Nowhere"), "");
  EXPECT_EQ(tcl("objc::protocol create Greeting"),
            "ERROR: a protocol named Greeting exists already");
  EXPECT_EQ(tcl("objc::protocol create Broken Nowhere"),
            "ERROR: no protocol named Nowhere");
  EXPECT_EQ(tcl("objc::defineClass Greeter NSObject\n"
                "objc::method Greeter greet *8@0:4 {} { return hi }\n"
                "list [objc::protocol implements Greeter Greeting] "
                "[objc::protocol implements NSObject Greeting] "
                "[objc::protocol conforms Greeter Greeting]"),
            "1 0 0");
}

TEST_F(Bridge, CallsCFunctionsWithScalarsAndStructs) {
  EXPECT_EQ(tcl("objc::cfunction strlen I4*0\nstrlen hello"), "5");
  EXPECT_EQ(
      tcl("objc::cfunction atan2 d16d0d8 arctan\nexpr {[arctan 1 1] * 4}"),
      tcl("expr {atan2(1,1) * 4}"));
  EXPECT_EQ(tcl("objc::cfunction probeMakeRect {{Rect=dddd}32d0d8d16d24}\n"
                "probeMakeRect 1 2 3 4"),
            "1.0 2.0 3.0 4.0");
  EXPECT_EQ(tcl("objc::cfunction probeArea {d32{Rect=dddd}0}\n"
                "probeArea {0 0 3 5}"),
            "15.0");
  EXPECT_EQ(tcl("objc::cfunction probeNegate q8q0\n"
                "probeNegate -9223372036854775807"),
            "9223372036854775807");
  EXPECT_EQ(tcl("objc::cfunction libc.so.6:toupper i4i0\ntoupper 97"), "65");
  EXPECT_EQ(tcl("objc::cfunction libc.so.6:strlen I4*0 cstrlen\n"
                "cstrlen {two words}"),
            "9");
  EXPECT_EQ(tcl("strlen"), "ERROR: strlen: expected 1 argument, got 0");
  EXPECT_EQ(tcl("objc::cfunction noSuchFunctionAnywhere i0"),
            "ERROR: unknown C symbol noSuchFunctionAnywhere");
  EXPECT_EQ(tcl("objc::cfunction abs"),
            "ERROR: no signature given for abs and no loaded symbol table "
            "declares it as a function");
}

TEST_F(Bridge, FindsSignaturesInLoadedSymbolTables) {
  SymbolTable *table = ZelObjC_NewSymbolTable();
  ZelObjC_DefineSymbol(table, "abs", ZEL_SYMBOL_FUNCTION, "i4i0");
  ZelObjC_DefineSymbol(table, "LIMIT", ZEL_SYMBOL_MACRO, "10");
  std::string path = testing::TempDir() + "bridge_symbols.zsym";
  ASSERT_TRUE(ZelObjC_SaveSymbolTable(table, path.c_str()));
  ZelObjC_DestroySymbolTable(table);
  EXPECT_EQ(tcl("set t [objc::symbols load " + path +
                "]\n"
                "list [expr {$t in [objc::symbols tables]}] "
                "[lsort [objc::symbols enumerate $t]] "
                "[objc::symbols lookup LIMIT] [objc::symbols lookup none]"),
            "1 {{FUNCTION abs i4i0} {MACRO LIMIT 10}} {MACRO LIMIT 10} {}");
  EXPECT_EQ(tcl("objc::cfunction abs\nabs -7"), "7");
  EXPECT_EQ(tcl("objc::symbols load /nonexistent/file"),
            "ERROR: cannot load symbol table /nonexistent/file");
  EXPECT_EQ(tcl("objc::symbols enumerate 0x1234"),
            "ERROR: no symbol table 0x1234");
}

// The reproducers of hostile scripts: each gives a clear error or the
// right answer.
TEST_F(Bridge, HostileScriptsGetErrorsNotCorruption) {
  EXPECT_EQ(tcl("objc::cfunction atoi {i4[4c]0} atoi4\natoi4 {5}"), "5");
  EXPECT_EQ(
      tcl("atoi4 {1 2}"),
      "ERROR: atoi4: expected a pointer or a list of 4 elements or a text of "
      "at most 4 bytes for \"[4c]\" but got \"1 2\"");
  EXPECT_EQ(tcl("atoi4 {55 0 0 0}"), "7");
  EXPECT_EQ(tcl("objc::defineClass BitBase2 NSObject {{B=\"a\"b7}}\n"
                "objc::defineClass BitSub2 BitBase2 {{S=\"x\"b8}}\n"
                "set o [objc::send BitSub2 new]\n"
                "objc::ivar $o x 255\n"
                "objc::ivar $o a 1\n"
                "list [objc::ivar $o x] [objc::ivar $o a]"),
            "255 1");
  // Braces made by string map: the type's own are not balanced.
  EXPECT_EQ(tcl("set t [string map {L \\{ R \\}} "
                "{LX=\"v\"L=^L\"LR\"iRR\"[64i]RR}]\n"
                "objc::defineClass Bad1 NSObject $t"),
            "ERROR: instance variables \"{X=\"v\"{=^{\"{}\"i}}\"[64i]}}\": "
            "unsupported type encoding \"{=^{\"{}\"i}}\"[64i]}\": its "
            "members take 260 bytes where it measures 4");
  EXPECT_EQ(tcl("objc::cfunction abs {v4{x=[268435456i]}0} big"),
            "ERROR: unsupported type encoding \"[268435456i]\": more than "
            "16777216 elements");
  EXPECT_EQ(tcl("objc::cfunction abs {{x=[268435456i]}4i0} bigResult"),
            "ERROR: unsupported type encoding \"[268435456i]\": more than "
            "16777216 elements");
  // Recursion through sends, with Tcl's own limit out of the way, ends
  // in an error before the stack does.
  EXPECT_EQ(tcl("interp recursionlimit {} 1000000\n"
                "objc::defineClass Diver NSObject\n"
                "objc::method Diver dive: i12@0:4i8 {n} {\n"
                "  if {[catch {objc::send $self dive: [expr {$n + 1}]} r]} {\n"
                "    set ::deepest $n; set ::why $r; return $n }\n"
                "  return $r }\n"
                "set d [objc::send [objc::send Diver new] dive: 0]\n"
                "list [expr {$d > 100}] [string match {*nested too deep*} "
                "$::why]"),
            "1 1");
}

} // namespace
