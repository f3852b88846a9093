// The bridge core against hostile input: types whose member walk and
// measure disagree, bitfields of classes and their subclasses (hidden ones
// too), array arguments, counts past every bound, native recursion and
// the wording and length of messages.
#include <zelBridge/zelBridge.h>
#include <Foundation/Foundation.h>

#include <gtest/gtest.h>

#include <pthread.h>

#include <cstring>
#include <string>

#include "fake_script.h"

using zelbridge::ScriptValue;

namespace {

Class nsObject() { return reinterpret_cast<Class>(objc_getClass("NSObject")); }

std::string prepareError(const char *types) {
  std::string error;
  EXPECT_EQ(zelbridge::prepare(types, error), nullptr) << types;
  return error;
}

bool contains(const std::string &text, const std::string &part) {
  return text.find(part) != std::string::npos;
}

// ---- one member walk ----

// Each type's walk over its members disagrees with what it measures: the
// skipping walk ends a nested name part elsewhere than the measuring one.
const char *const disagreeing[] = {
    "{=^{\"{}\"i}}\"[64i]}",
    "{=^{\"(}\"i}}\"i",
    "{=(=s(\"{=(\"d))})i",
    "(=^{\"{}\"i}}\"[64i])",
};

TEST(MemberWalk, TypesWhoseWalksDisagreeAreRefusedAtPreparation) {
  for (const char *type : disagreeing) {
    std::string argument = std::string("v12@0:4") + type + "8";
    std::string result = std::string(type) + "8@0:4";
    for (const std::string &types : {argument, result}) {
      std::string error = prepareError(types.c_str());
      EXPECT_TRUE(contains(error, "unsupported type encoding \"")) << error;
    }
  }
  std::string error = prepareError("v12@0:4{=^{\"{}\"i}}\"[64i]}8");
  EXPECT_EQ(error, "unsupported type encoding \"{=^{\"{}\"i}}\"[64i]}\": its "
                   "members take 260 bytes where it measures 4");
}

TEST(MemberWalk, ConversionNeverWritesPastTheMeasuredSize) {
  fake::Script script;
  zelbridge::Arena arena;
  std::string error;
  std::vector<ScriptValue> many(64, script.integer(-1));
  ScriptValue value = script.list({script.newNil(), script.list(many)});
  unsigned char bytes[300];
  std::memset(bytes, 0x5a, sizeof bytes);
  EXPECT_FALSE(zelbridge::toC(script, value, disagreeing[0], bytes, false,
                              arena, error));
  for (unsigned char byte : bytes)
    ASSERT_EQ(byte, 0x5a); // nothing converted, not even half
  EXPECT_EQ(zelbridge::fromC(script, disagreeing[0], bytes, error), nullptr);
  EXPECT_TRUE(contains(error, "unsupported type encoding")) << error;
}

TEST(MemberWalk, InstanceVariablesOfSuchTypesAreRefusedWithTheClass) {
  std::string error;
  std::string ivars = std::string("{X=\"v\"") + disagreeing[0] + "}";
  EXPECT_EQ(
      zelbridge::defineClass("WalkDisagrees", nsObject(), ivars.c_str(), error),
      nullptr);
  EXPECT_TRUE(contains(error, "unsupported type encoding")) << error;
  EXPECT_EQ(objc_lookUpClass("WalkDisagrees"), nil);
}

TEST(MemberWalk, WellFormedAggregatesStillConvertBothWays) {
  fake::Script script;
  zelbridge::Arena arena;
  std::string error;
  const char *type = "{n=\"a\"c\"b\"[2{q=sc}]\"c\"(w=qc)}";
  ScriptValue pair = script.list({script.integer(-2), script.integer(3)});
  ScriptValue value = script.list(
      {script.integer(1), script.list({pair, pair}), script.text("-5")});
  unsigned char bytes[32] = {};
  ASSERT_EQ(objc_sizeof_type(type), 20);
  ASSERT_TRUE(zelbridge::toC(script, value, type, bytes, false, arena, error))
      << error;
  ScriptValue back = zelbridge::fromC(script, type, bytes, error);
  ASSERT_NE(back, nullptr) << error;
  EXPECT_EQ(fake::Script::of(fake::Script::of(back).items[2]).text, "-5");
}

// ---- bitfields per class ----

id newInstance(Class cls) {
  return objc_send(reinterpret_cast<id>(cls), "new");
}

unsigned char byteAt(id object, int offset) {
  return reinterpret_cast<unsigned char *>(object)[offset];
}

TEST(Bitfields, ARunNeverReachesAcrossTheClassBoundary) {
  std::string error;
  Class base =
      zelbridge::defineClass("BitBase2", nsObject(), "{B=\"a\"b7}", error);
  ASSERT_NE(base, nullptr) << error;
  Class sub = zelbridge::defineClass("BitSub2", base, "{S=\"x\"b8}", error);
  ASSERT_NE(sub, nullptr) << error;
  ASSERT_EQ(sub->instance_size, 6);
  fake::Script script;
  id object = newInstance(sub);
  ASSERT_TRUE(
      zelbridge::setIvar(script, object, "x", script.integer(255), error))
      << error;
  EXPECT_EQ(byteAt(object, 5), 0xff);
  EXPECT_EQ(byteAt(object, 4), 0);
  ASSERT_TRUE(
      zelbridge::setIvar(script, object, "a", script.integer(127), error));
  ScriptValue x = nullptr;
  ASSERT_TRUE(zelbridge::getIvar(script, object, "x", x, error));
  EXPECT_EQ(fake::Script::of(x).integer, 255);
  objc_send<void>(object, "release");
}

TEST(Bitfields, ASubclassRunStartsAtItsOwnFirstBit) {
  std::string error;
  Class base =
      zelbridge::defineClass("NibbleBase", nsObject(), "{B=\"e\"b12}", error);
  ASSERT_NE(base, nullptr) << error;
  Class sub =
      zelbridge::defineClass("NibbleSub", base, "{S=\"g\"b4\"f\"b4}", error);
  ASSERT_NE(sub, nullptr) << error;
  fake::Script script;
  id object = newInstance(sub);
  ASSERT_TRUE(
      zelbridge::setIvar(script, object, "f", script.integer(15), error))
      << error;
  EXPECT_EQ(byteAt(object, 6), 0xf0); // f is the high nibble, g the low
  objc_send<void>(object, "release");
}

TEST(Bitfields, AHiddenClassPlacesItsOwnBitfields) {
  std::string error;
  Class visible =
      zelbridge::defineClass("ShownBits", nsObject(), "{V=\"v\"i}", error);
  ASSERT_NE(visible, nullptr) << error;
  Class hidden = zelbridge::defineClass("!ShownBits", visible,
                                        "{H=\"g\"b4\"f\"b4}", error);
  ASSERT_NE(hidden, nullptr) << error;
  fake::Script script;
  id object = newInstance(hidden);
  ASSERT_TRUE(zelbridge::setIvar(script, object, "g", script.integer(9), error))
      << error;
  ASSERT_TRUE(
      zelbridge::setIvar(script, object, "f", script.integer(3), error));
  EXPECT_EQ(byteAt(object, 8), 0x39);
  ScriptValue g = nullptr;
  ASSERT_TRUE(zelbridge::getIvar(script, object, "g", g, error));
  EXPECT_EQ(fake::Script::of(g).integer, 9);
  objc_send<void>(object, "release");
}

// ---- array arguments and bounds ----

extern "C" int firstOfFour(const char *bytes) {
  return bytes ? bytes[0] + bytes[3] : -1;
}

TEST(ArrayArguments, TakeExactListsPointersOrShortTexts) {
  std::string error;
  auto signature = zelbridge::prepare("i4[4c]0", error);
  ASSERT_NE(signature, nullptr) << error;
  fake::Script script;
  void *fn = reinterpret_cast<void *>(firstOfFour);
  ScriptValue result = nullptr;
  ScriptValue four = script.list({script.integer(1), script.integer(2),
                                  script.integer(3), script.integer(4)});
  ASSERT_TRUE(zelbridge::call(script, *signature, fn, &four, 1, result, error))
      << error;
  EXPECT_EQ(fake::Script::of(result).integer, 5);
  ScriptValue text = script.text("ab");
  ASSERT_TRUE(zelbridge::call(script, *signature, fn, &text, 1, result, error));
  EXPECT_EQ(fake::Script::of(result).integer, 'a'); // zero filled
  ScriptValue none = script.newNil();
  ASSERT_TRUE(zelbridge::call(script, *signature, fn, &none, 1, result, error));
  EXPECT_EQ(fake::Script::of(result).integer, -1);

  ScriptValue one = script.list({script.integer(5)});
  EXPECT_FALSE(zelbridge::call(script, *signature, fn, &one, 1, result, error));
  EXPECT_EQ(error, "expected a pointer or a list of 4 elements or a text of "
                   "at most 4 bytes for \"[4c]\" but got \"\"");
  ScriptValue five = script.integer(5); // as a text: "5"
  ASSERT_TRUE(zelbridge::call(script, *signature, fn, &five, 1, result, error));
  EXPECT_EQ(fake::Script::of(result).integer, '5');
  auto ints = zelbridge::prepare("i4[4i]0", error);
  ASSERT_NE(ints, nullptr) << error;
  EXPECT_FALSE(zelbridge::call(script, *ints, fn, &five, 1, result, error));
  EXPECT_EQ(error, "expected a pointer or a list of 4 elements for \"[4i]\" "
                   "but got \"5\""); // an integer is no address here
  ScriptValue longText = script.text("abcde");
  EXPECT_FALSE(
      zelbridge::call(script, *signature, fn, &longText, 1, result, error));
}

TEST(Bounds, CountsPastTheBoundsAreErrorsBeforeAnyAllocation) {
  std::string error;
  auto huge = zelbridge::prepare("i4[4294967298i]0", error);
  ASSERT_NE(huge, nullptr) << error; // still callable with a pointer
  fake::Script script;
  ScriptValue result = nullptr;
  ScriptValue list = script.list({script.integer(1), script.integer(2)});
  EXPECT_FALSE(zelbridge::call(script, *huge,
                               reinterpret_cast<void *>(firstOfFour), &list, 1,
                               result, error));
  EXPECT_TRUE(contains(error, "more than 16777216 elements")) << error;

  EXPECT_TRUE(contains(prepareError("{x=[268435456i]}4@0:4"),
                       "more than 16777216 elements"));
  EXPECT_TRUE(contains(prepareError("[9000000{p=ii}]4@0:4"),
                       "more than 16777216 items"));
  EXPECT_TRUE(contains(prepareError("{x=[4294967298i]}4@0:4"),
                       "more than 16777216 elements"));
  zelbridge::Arena arena;
  int storage = 0;
  EXPECT_FALSE(zelbridge::toC(script, script.list({}), "[4294967298i]",
                              &storage, false, arena, error));
}

TEST(Bounds, SignaturesWithTooManyArgumentsAreRefused) {
  std::string types = "i0";
  for (int i = 0; i < 1025; ++i)
    types += "i" + std::to_string(4 * i);
  EXPECT_TRUE(
      contains(prepareError(types.c_str()), "has more than 1024 arguments"));
  std::string error;
  EXPECT_TRUE(contains(prepareError("v8{x=[20000i]}0"), "bytes of arguments"));
  EXPECT_NE(zelbridge::prepare("v8{x=[200i]}0", error), nullptr) << error;
}

TEST(Bounds, ArityIsReportedInWordsForEveryLanguage) {
  std::string error;
  auto signature = zelbridge::prepare("i4[4c]0", error);
  fake::Script script;
  ScriptValue result = nullptr;
  EXPECT_FALSE(zelbridge::call(script, *signature,
                               reinterpret_cast<void *>(firstOfFour), nullptr,
                               0, result, error));
  EXPECT_EQ(error, "expected 1 argument, got 0");
}

// A script method that sends itself the same message until the bridge
// refuses to go deeper, then answers how deep it got.
class Recurse : public zelbridge::MethodBody {
public:
  explicit Recurse(fake::Script &script) : script_(script) {}
  zelbridge::Script &script() override { return script_; }
  const char *exceptionName() override { return "FakeException"; }
  bool run(ScriptValue *args, int, ScriptValue &result,
           std::string &) override {
    ++depth;
    zelbridge::Handle self;
    script_.getHandle(args[0], self);
    std::string error;
    if (!zelbridge::send(script_, self.object, sel_registerName("dive"),
                         nullptr, 0, result, error)) {
      refusal = error;
      result = script_.integer(depth);
    }
    return true;
  }
  fake::Script &script_;
  int depth = 0;
  std::string refusal;
};

TEST(NativeDepth, RecursionThroughTheBridgeStopsBeforeTheStackEnds) {
  std::string error;
  Class cls = zelbridge::defineClass("DeepDiver", nsObject(), nullptr, error);
  ASSERT_NE(cls, nullptr) << error;
  fake::Script script;
  auto body = std::make_unique<Recurse>(script);
  Recurse *recurse = body.get();
  ASSERT_TRUE(zelbridge::defineMethod(cls, false, sel_registerName("dive"),
                                      "i8@0:4", std::move(body), error))
      << error;
  id object = newInstance(cls);
  ScriptValue result = nullptr;
  ASSERT_TRUE(zelbridge::send(script, object, sel_registerName("dive"), nullptr,
                              0, result, error))
      << error;
  EXPECT_GT(recurse->depth, 100);
  EXPECT_TRUE(contains(recurse->refusal, "nested too deep"))
      << recurse->refusal;
  objc_send<void>(object, "release");
}

/* A send from a thread of its own, with a small stack, after using up
   `used` bytes of it. */
struct ThreadSend {
  id object;
  size_t used;
  bool sent = false;
  std::string error;
};

void sendAfterUsing(ThreadSend &send, size_t used) {
  if (used >= 16 * 1024) {
    volatile char filler[16 * 1024];
    filler[0] = 1;
    sendAfterUsing(send, used - sizeof filler);
    filler[1] = filler[0];
    return;
  }
  fake::Script script;
  ScriptValue result = nullptr;
  send.sent = zelbridge::send(script, send.object, sel_registerName("self"),
                              nullptr, 0, result, send.error);
}

void *sendOnThread(void *data) {
  auto &send = *static_cast<ThreadSend *>(data);
  sendAfterUsing(send, send.used);
  return nullptr;
}

bool sendFromSmallStack(ThreadSend &send) {
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, 256 * 1024);
  pthread_t thread;
  bool started = pthread_create(&thread, &attributes, sendOnThread, &send) == 0;
  if (started)
    pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
  return started;
}

/* The stack of the thread that drives the bridge is known once the bridge
   ran there; another thread's is measured for itself. */
TEST(NativeDepth, AnotherThreadsStackIsMeasuredForItself) {
  id object = newInstance(nsObject());
  fake::Script script;
  ScriptValue result = nullptr;
  std::string error;
  ASSERT_TRUE(zelbridge::send(script, object, sel_registerName("self"), nullptr,
                              0, result, error))
      << error;
  ThreadSend roomy{object, 0, false, ""};
  ASSERT_TRUE(sendFromSmallStack(roomy));
  EXPECT_TRUE(roomy.sent) << roomy.error;
  ThreadSend cramped{object, 224 * 1024, false, ""}; /* its last quarter */
  ASSERT_TRUE(sendFromSmallStack(cramped));
  EXPECT_FALSE(cramped.sent);
  EXPECT_TRUE(contains(cramped.error, "nested too deep")) << cramped.error;
  objc_send<void>(object, "release");
}

// A C string's text lives only as long as the call that converted it.
TEST(CStrings, NeverOutliveTheirTextInsideAggregates) {
  std::string error;
  Class cls = zelbridge::defineClass("NestedText", nsObject(),
                                     "{N=\"p\"{pt=i*}\"u\"(v=i*)}", error);
  ASSERT_NE(cls, nullptr) << error;
  fake::Script script;
  id object = newInstance(cls);
  ScriptValue pair = script.list({script.integer(1), script.text("text")});
  EXPECT_FALSE(zelbridge::setIvar(script, object, "p", pair, error));
  EXPECT_EQ(error, "cannot store a C string in p: nothing would own it");
  EXPECT_TRUE(zelbridge::setIvar(script, object, "u", script.integer(3),
                                 error))
      << error; // a union converts its first member only
  objc_send<void>(object, "release");
  // A method's result owns its texts until the method's next call.
  EXPECT_TRUE(zelbridge::defineMethod(cls, false, sel_registerName("r"),
                                      "{r=i*}8@0:4",
                                      std::make_unique<Recurse>(script), error))
      << error;
}

// ---- messages ----

TEST(Messages, NameWhatWasWrongAndQuoteInputsCutShort) {
  EXPECT_EQ(prepareError("v12@0:4@\""),
            "malformed signature \"v12@0:4@\"\": a quoted name with no type "
            "after it");
  EXPECT_TRUE(contains(prepareError("()8@0:4"), "a union without"));
  EXPECT_TRUE(contains(prepareError("(u=)8@0:4"), "a union without members"));
  fake::Script script;
  zelbridge::Arena arena;
  std::string error;
  int storage = 0;
  ScriptValue big = script.text(std::string(10 * 1024 * 1024, '7') + "x");
  EXPECT_FALSE(zelbridge::toC(script, big, "i", &storage, false, arena, error));
  EXPECT_LT(error.size(), 300u);
  EXPECT_EQ(error.substr(error.size() - 4), "...\"");
  std::string longType = "v8@0:4" + std::string(5000, 'B') + "8";
  EXPECT_LT(prepareError(longType.c_str()).size(), 300u);
}

TEST(Messages, ClassesAreNeverMadeWithVariablesDropped) {
  std::string deep = "{X=" + std::string(1000, '{');
  const char *faulty[][2] = {
      {"{X=\"a\"", "variable \"a\" has no type"},
      {deep.c_str(), "unsupported type encoding"},
      {"{X=(a={b)=}", "do not end where its text ends"},
      {"{X=\"a\"i", "no closing }"},
      {"{X=\"a\"i}junk", "text after the closing }"},
      {"{X=\"w\"b40}", "wider than 32 bits"},
  };
  int index = 0;
  for (auto &each : faulty) {
    std::string name = "Dropped" + std::to_string(index++);
    std::string error;
    EXPECT_EQ(zelbridge::defineClass(name.c_str(), nsObject(), each[0], error),
              nullptr)
        << each[0];
    EXPECT_TRUE(contains(error, each[1])) << error;
    EXPECT_EQ(objc_lookUpClass(name.c_str()), nil);
  }
  std::string error;
  EXPECT_EQ(zelbridge::defineClass("", nsObject(), nullptr, error), nullptr);
  EXPECT_EQ(error, "a class needs a name");
  EXPECT_EQ(zelbridge::defineClass("TooLarge", nsObject(),
                                   "{X=\"a\"[400000000i]\"b\"[400000000i]}",
                                   error),
            nullptr);
  EXPECT_EQ(error, "cannot make class TooLarge: out of memory, or its "
                   "instances would pass 2 GB");
}

TEST(Messages, AnEmptyUnionResultIsRefusedWhenTheMethodIsDefined) {
  std::string error;
  Class cls =
      zelbridge::defineClass("EmptyUnionResult", nsObject(), nullptr, error);
  ASSERT_NE(cls, nullptr);
  fake::Script script;
  EXPECT_FALSE(
      zelbridge::defineMethod(cls, false, sel_registerName("u"), "()8@0:4",
                              std::make_unique<Recurse>(script), error));
  EXPECT_TRUE(contains(error, "a union without")) << error;
}

} // namespace
