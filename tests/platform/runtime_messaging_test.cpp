// objc_msgSend, objc_msgSend_fpret and objc_msgSend_stret: results of
// every width, arguments passed through untouched, nil receivers, and the
// forwarding of messages that nothing implements.
#include <objc/objc-load.h>
#include <objc/objc-send.h>

#include <gtest/gtest.h>

#include <cstdint>

using namespace objc_module_records;

namespace {

struct Triple {
  int a, b, c;
  static constexpr char objcEncoding[] = "{Triple=iii}";
};

struct Pair {
  int a, b;
  static constexpr char objcEncoding[] = "{Pair=ii}";
};

SEL lastUnrecognized;
// Stack pointer modulo 16 at the entry of +initialize: 12 when the call
// into it was made with an aligned stack.
int baseEntryAlignment = -1;
int stretEntryAlignment = -1;
struct KeepSeen {
  id self;
  SEL op;
  int a, b;
} keepSeen;

id Base_new(id self, SEL) {
  return class_createInstance(reinterpret_cast<Class>(self), 0);
}
} // namespace

// +initialize, entered from the lookup that machine code called: it
// measures the stack pointer as it finds it (a compiler would assume it
// aligned) and hands the measure on.
extern "C" __attribute__((visibility("hidden"))) void
recordEntryAlignment(id self, int alignment);
extern "C" __attribute__((visibility("hidden"))) void
initializeMeasuringStack(id self, SEL op);
asm(R"(
        .text
        .globl  initializeMeasuringStack
        .hidden initializeMeasuringStack
        .type   initializeMeasuringStack, @function
initializeMeasuringStack:
        movl    %esp, %eax
        andl    $15, %eax
        movl    %eax, 8(%esp)
        jmp     recordEntryAlignment
        .size   initializeMeasuringStack, .-initializeMeasuringStack
)");

namespace {
id Base_free(id self, SEL) { return object_dispose(self); }
int Base_answer(id, SEL) { return 42; }
long long Base_wide(id, SEL) { return 0x123456789abcLL; }
double Base_half(id, SEL, double x) { return x / 2; }
float Base_third(id, SEL, float x) { return x / 3; }
Triple Base_triple(id, SEL, int a, int b, int c) { return {a, b, c}; }
Pair Base_pair(id, SEL, int a) { return {a, -a}; }
double Base_mix(id, SEL, char c, long long l, double d, int i, short s) {
  return c + static_cast<double>(l) + d + i + s;
}
id Base_self(id self, SEL) { return self; }
void Base_notRecognized(id, SEL, SEL sel) { lastUnrecognized = sel; }
int Sub_answer(id, SEL) { return 7; }
int Base_keep(id self, SEL op, int a, int b) {
  keepSeen = {self, op, a, b};
  return a * 10 + b;
}
Pair Stret_origin(id, SEL, int a) { return {a, a + 1}; }

MethodList<2> Base_cmethods = {
    nullptr,
    2,
    {OBJC_DERIVED_METHOD("new", Base_new),
     OBJC_DERIVED_METHOD("initialize", initializeMeasuringStack)}};
MethodList<11> Base_imethods = {
    nullptr,
    11,
    {OBJC_DERIVED_METHOD("free", Base_free),
     OBJC_DERIVED_METHOD("keep::", Base_keep),
     OBJC_DERIVED_METHOD("answer", Base_answer),
     OBJC_DERIVED_METHOD("wide", Base_wide),
     OBJC_DERIVED_METHOD("half:", Base_half),
     OBJC_DERIVED_METHOD("third:", Base_third),
     OBJC_DERIVED_METHOD("triple:::", Base_triple),
     OBJC_DERIVED_METHOD("pair:", Base_pair),
     OBJC_DERIVED_METHOD("mix:::::", Base_mix),
     OBJC_DERIVED_METHOD("self", Base_self),
     OBJC_DERIVED_METHOD("doesNotRecognizeSelector:", Base_notRecognized)}};
MethodList<1> Sub_imethods = {
    nullptr, 1, {OBJC_DERIVED_METHOD("answer", Sub_answer)}};

OBJC_CLASS_RECORDS(Base_class, "MsgBase", nullptr, 4, nullptr, &Base_imethods,
                   &Base_cmethods);
OBJC_CLASS_RECORDS(Sub_class, "MsgSub", "MsgBase", 4, nullptr, &Sub_imethods,
                   nullptr);

// A root class without methods: nothing reports for it.
OBJC_CLASS_RECORDS(Bare_class, "MsgBare", nullptr, 4, nullptr, nullptr,
                   nullptr);

// A root class whose first message returns a structure.
MethodList<2> Stret_cmethods = {
    nullptr,
    2,
    {OBJC_DERIVED_METHOD("initialize", initializeMeasuringStack),
     OBJC_DERIVED_METHOD("origin:", Stret_origin)}};
OBJC_CLASS_RECORDS(Stret_class, "MsgStret", nullptr, 4, nullptr, nullptr,
                   &Stret_cmethods);

// The subclass comes first: it waits for its superclass.
OBJC_MODULE_RECORD(module, 4, 0, &Sub_class, &Base_class, &Bare_class,
                   &Stret_class);

class Messaging : public ::testing::Test {
protected:
  void SetUp() override { obj = objc_send_class("MsgBase", "new"); }
  void TearDown() override { objc_send(obj, "free"); }
  id obj = nil;
};

TEST_F(Messaging, ResultsOfEveryWidth) {
  ASSERT_NE(obj, nil);
  EXPECT_EQ(objc_send<int>(obj, "answer"), 42);
  EXPECT_EQ(objc_send<long long>(obj, "wide"), 0x123456789abcLL);
  EXPECT_DOUBLE_EQ(objc_send<double>(obj, "half:", 5.0), 2.5);
  EXPECT_FLOAT_EQ(objc_send<float>(obj, "third:", 1.5f), 0.5f);
  EXPECT_EQ(objc_send<id>(obj, "self"), obj);
  // Twice: once through the lookup, once from the cache.
  for (int i = 0; i < 2; ++i) {
    Triple t = objc_send<Triple>(obj, "triple:::", 1, 2, 3);
    EXPECT_EQ(t.a, 1);
    EXPECT_EQ(t.b, 2);
    EXPECT_EQ(t.c, 3);
    Pair p = objc_send<Pair>(obj, "pair:", 9);
    EXPECT_EQ(p.a, 9);
    EXPECT_EQ(p.b, -9);
  }
}

TEST_F(Messaging, ArgumentsReachTheMethodUntouched) {
  double r = objc_send<double>(obj, "mix:::::", static_cast<char>(1),
                               10000000000LL, 0.5, -4, static_cast<short>(300));
  EXPECT_DOUBLE_EQ(r, 1 + 10000000000.0 + 0.5 - 4 + 300);
}

TEST_F(Messaging, SlowPathKeepsTheStackAligned) {
  EXPECT_EQ(baseEntryAlignment, 12);
  Pair p = objc_send<Pair>(&Stret_class, "origin:", 4);
  EXPECT_EQ(stretEntryAlignment, 12);
  EXPECT_EQ(p.a, 4);
  EXPECT_EQ(p.b, 5);
}

TEST_F(Messaging, PlainSendOfADoubleMethod) {
  using Fn = double (*)(id, SEL, double);
  SEL half = sel_registerName("half:");
  for (int i = 0; i < 2; ++i) // through the lookup, then the cache
    EXPECT_DOUBLE_EQ(objc_fn_cast<Fn>(objc_msgSend)(obj, half, 9.0), 4.5);
}

// Calls fn with four argument words while ebx, esi, edi and ebp hold known
// values, and answers how many of the four differ afterwards. The stret
// form is for callees that pop the first word (the result pointer).
extern "C" __attribute__((visibility("hidden"))) int
callKeepingRegisters(void *fn, int a0, int a1, int a2, int a3);
extern "C" __attribute__((visibility("hidden"))) int
callKeepingRegistersStret(void *fn, int a0, int a1, int a2, int a3);
asm(R"(
        .text
.macro KEEPING_REGISTERS name, unwind
        .globl  \name
        .hidden \name
        .type   \name, @function
\name:
        pushl   %ebp
        pushl   %ebx
        pushl   %esi
        pushl   %edi
        movl    20(%esp), %eax
        subl    $12, %esp
        pushl   48(%esp)
        pushl   48(%esp)
        pushl   48(%esp)
        pushl   48(%esp)
        movl    $0x0b0b0b0b, %ebx
        movl    $0x05050505, %esi
        movl    $0x0d0d0d0d, %edi
        movl    $0x0e0e0e0e, %ebp
        call    *%eax
        addl    $\unwind, %esp
        xorl    %eax, %eax
        cmpl    $0x0b0b0b0b, %ebx
        je      1f
        incl    %eax
1:      cmpl    $0x05050505, %esi
        je      2f
        incl    %eax
2:      cmpl    $0x0d0d0d0d, %edi
        je      3f
        incl    %eax
3:      cmpl    $0x0e0e0e0e, %ebp
        je      4f
        incl    %eax
4:      popl    %edi
        popl    %esi
        popl    %ebx
        popl    %ebp
        ret
        .size   \name, .-\name
.endm
        KEEPING_REGISTERS callKeepingRegisters, 28
        KEEPING_REGISTERS callKeepingRegistersStret, 24
)");

int word(const void *p) {
  return static_cast<int>(reinterpret_cast<uintptr_t>(p));
}

TEST_F(Messaging, CalleeSavedRegistersSurviveEveryPath) {
  void *send = reinterpret_cast<void *>(objc_msgSend);
  SEL keep = sel_registerName("keep::");
  for (int i = 0; i < 2; ++i) { // through the lookup, then the cache
    keepSeen = {};
    EXPECT_EQ(callKeepingRegisters(send, word(obj), word(keep), 3, 4), 0);
    EXPECT_EQ(keepSeen.self, obj);
    EXPECT_EQ(keepSeen.op, keep);
    EXPECT_EQ(keepSeen.a, 3);
    EXPECT_EQ(keepSeen.b, 4);
  }
  EXPECT_EQ(callKeepingRegisters(send, 0, word(keep), 3, 4), 0);

  void *stret = reinterpret_cast<void *>(objc_msgSend_stret);
  SEL pair = sel_registerName("pair:");
  for (int i = 0; i < 2; ++i) {
    Pair p = {0, 0};
    EXPECT_EQ(
        callKeepingRegistersStret(stret, word(&p), word(obj), word(pair), 6),
        0);
    EXPECT_EQ(p.a, 6);
    EXPECT_EQ(p.b, -6);
  }
  Pair untouched = {1, 2};
  EXPECT_EQ(
      callKeepingRegistersStret(stret, word(&untouched), 0, word(pair), 6), 0);
  EXPECT_EQ(untouched.a, 1);

  // Forwarded messages, plain and aggregate.
  lastUnrecognized = nullptr;
  SEL unknown = sel_registerName("keepUnknown:");
  EXPECT_EQ(callKeepingRegisters(send, word(obj), word(unknown), 1, 2), 0);
  EXPECT_EQ(lastUnrecognized, unknown);
  Pair forwarded = {0, 0};
  EXPECT_EQ(callKeepingRegistersStret(stret, word(&forwarded), word(obj),
                                      word(unknown), 1),
            0);
}

TEST_F(Messaging, SubclassOverridesAndInherits) {
  id sub = objc_send_class("MsgSub", "new");
  ASSERT_NE(sub, nil);
  EXPECT_EQ(object_getClass(sub),
            reinterpret_cast<Class>(objc_getClass("MsgSub")));
  EXPECT_EQ(objc_send<int>(sub, "answer"), 7);
  EXPECT_EQ(objc_send<long long>(sub, "wide"), 0x123456789abcLL);
  objc_send(sub, "free");
}

TEST(MessagingNil, NilAnswersZero) {
  EXPECT_EQ(objc_send<int>(nil, "answer"), 0);
  EXPECT_EQ(objc_send<long long>(nil, "wide"), 0);
  EXPECT_EQ(objc_send<id>(nil, "self"), nil);
  EXPECT_EQ(objc_send<double>(nil, "half:", 3.0), 0.0);
  // A nil float result must not unbalance the x87 stack: many in a row.
  double sum = 0;
  for (int i = 0; i < 20; ++i)
    sum += objc_send<double>(nil, "half:", 3.0);
  EXPECT_EQ(sum, 0.0);
  EXPECT_DOUBLE_EQ(1.0 / 4.0, 0.25);
}

TEST(MessagingNil, NilLeavesAStructResultAlone) {
  Triple t = {5, 6, 7};
  using Fn = void (*)(Triple *, id, SEL, int, int, int);
  objc_fn_cast<Fn>(objc_msgSend_stret)(&t, nil, sel_registerName("triple:::"),
                                       1, 2, 3);
  EXPECT_EQ(t.a, 5);
  EXPECT_EQ(t.c, 7);
}

TEST_F(Messaging, UnknownSelectorReportsThroughTheReceiver) {
  lastUnrecognized = nullptr;
  EXPECT_EQ(objc_send<id>(obj, "noSuchMethod"), nil);
  EXPECT_EQ(lastUnrecognized, sel_registerName("noSuchMethod"));
  lastUnrecognized = nullptr;
  Triple t = {5, 6, 7};
  t = objc_send<Triple>(obj, "noSuchStruct:", 1);
  EXPECT_EQ(lastUnrecognized, sel_registerName("noSuchStruct:"));
  // Again, now from the cache.
  lastUnrecognized = nullptr;
  objc_send<Triple>(obj, "noSuchStruct:", 1);
  EXPECT_EQ(lastUnrecognized, sel_registerName("noSuchStruct:"));
}

TEST(MessagingDeath, UnknownSelectorWithoutReportAborts) {
  Class bare = reinterpret_cast<Class>(objc_getClass("MsgBare"));
  ASSERT_NE(bare, nullptr);
  EXPECT_DEATH(objc_send(bare, "vanish"), "MsgBare vanish");
  id instance = class_createInstance(bare, 0);
  EXPECT_DEATH(objc_send<Triple>(instance, "vanish:", 1), "MsgBare vanish:");
  object_dispose(instance);
}

} // namespace

extern "C" void recordEntryAlignment(id self, int alignment) {
  if (self == reinterpret_cast<id>(&Base_class))
    baseEntryAlignment = alignment;
  else
    stretEntryAlignment = alignment;
}

OBJC_REGISTER_MODULE(module)
OBJC_LIBRARY_REGISTRATION()
