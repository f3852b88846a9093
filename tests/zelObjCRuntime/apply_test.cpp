// The dynamic call against callees compiled normally: argument layout,
// results of every kind, aggregates, callees that pop their arguments,
// and the x87 stack left clean.
#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include <zelObjCRuntime/zelObjCRuntime.h>

namespace {

template <typename T> ApplyVal arg(T &value) {
  return {APPLY_POINTER, static_cast<int>(sizeof value), &value};
}

template <typename F> void *code(F *function) {
  return reinterpret_cast<void *>(function);
}

// ---- argument layout ----

char seenChar;
int mixed(int a, double b, char c) {
  seenChar = c;
  return a + static_cast<int>(b * 2);
}

// The same arguments seen as raw stack words.
unsigned seenWords[4];
void words(unsigned w0, unsigned w1, unsigned w2, unsigned w3) {
  seenWords[0] = w0;
  seenWords[1] = w1;
  seenWords[2] = w2;
  seenWords[3] = w3;
}

TEST(ApplyArguments, MixedArgumentsAtTheirOffsets) {
  int a = 1;
  double b = 2.5;
  char c = 'x';
  ApplyVal args[] = {arg(a), arg(b), arg(c)};
  ASSERT_EQ(args[2].size, 1);
  int r = 0;
  ApplyVal result = {APPLY_INT, 4, &r};
  EXPECT_EQ(apply(code(mixed), &result, 3, args), 1);
  EXPECT_EQ(r, 6);
  EXPECT_EQ(seenChar, 'x');

  apply(code(words), nullptr, 3, args);
  unsigned doubleWords[2];
  std::memcpy(doubleWords, &b, sizeof b);
  EXPECT_EQ(seenWords[0], 1u);             // offset 0
  EXPECT_EQ(seenWords[1], doubleWords[0]); // offset 4, low word first
  EXPECT_EQ(seenWords[2], doubleWords[1]);
  EXPECT_EQ(seenWords[3] & 0xff, 0x78u); // offset 12, one byte meant
}

long long twenty(int a1, char a2, short a3, long long a4, double a5, float a6,
                 int a7, unsigned char a8, int a9, int a10, long long a11,
                 int a12, int a13, double a14, int a15, unsigned short a16,
                 int a17, int a18, int a19, int a20) {
  return a1 + a2 * 2 + a3 * 3 + a4 * 4 + static_cast<long long>(a5 * 5) +
         static_cast<long long>(a6 * 6) + a7 * 7 + a8 * 8 + a9 * 9 + a10 * 10 +
         a11 * 11 + a12 * 12 + a13 * 13 + static_cast<long long>(a14 * 14) +
         a15 * 15 + a16 * 16 + a17 * 17 + a18 * 18 + a19 * 19 + a20 * 20;
}

TEST(ApplyArguments, TwentyArguments) {
  int a1 = 1, a7 = 7, a9 = -9, a10 = 10, a12 = 12, a13 = 13, a15 = 15, a17 = 17,
      a18 = 18, a19 = 19, a20 = 20;
  char a2 = -2;
  short a3 = 3000;
  long long a4 = 1LL << 40, a11 = -(1LL << 35);
  double a5 = 5.5, a14 = -14.25;
  float a6 = 6.5f;
  unsigned char a8 = 200;
  unsigned short a16 = 60000;
  ApplyVal args[] = {arg(a1),  arg(a2),  arg(a3),  arg(a4),  arg(a5),
                     arg(a6),  arg(a7),  arg(a8),  arg(a9),  arg(a10),
                     arg(a11), arg(a12), arg(a13), arg(a14), arg(a15),
                     arg(a16), arg(a17), arg(a18), arg(a19), arg(a20)};
  long long r = 0;
  ApplyVal result = {APPLY_LONGLONG, 8, &r};
  apply(code(twenty), &result, 20, args);
  EXPECT_EQ(r, twenty(a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13,
                      a14, a15, a16, a17, a18, a19, a20));
}

struct Ten {
  char bytes[10];
};
int afterTen(Ten t, int after) { return t.bytes[9] * 1000 + after; }
int afterNothing(int first) { return first; }
int noArguments() { return 77; }

TEST(ApplyArguments, SlotsAreWholeWords) {
  Ten t;
  std::memset(&t, 3, sizeof t);
  int after = 42;
  ApplyVal args[] = {arg(t), arg(after)};
  ASSERT_EQ(args[0].size, 10);
  int r = 0;
  ApplyVal result = {APPLY_INT, 4, &r};
  apply(code(afterTen), &result, 2, args);
  EXPECT_EQ(r, 3042);

  ApplyVal withEmpty[] = {{APPLY_VOID, 0, nullptr}, arg(after)};
  apply(code(afterNothing), &result, 2, withEmpty);
  EXPECT_EQ(r, 42);

  for (int argc : {0, -3}) {
    r = 0;
    apply(code(noArguments), &result, argc, nullptr);
    EXPECT_EQ(r, 77);
  }
}

// Raw words of a callee that takes three odd-sized values and an int.
unsigned oddWords[6];
void sixWords(unsigned w0, unsigned w1, unsigned w2, unsigned w3, unsigned w4,
              unsigned w5) {
  const unsigned seen[] = {w0, w1, w2, w3, w4, w5};
  std::memcpy(oddWords, seen, sizeof seen);
}

TEST(ApplyArguments, OddSizesKeepEveryByteAndTheirSlots) {
  unsigned char three[3] = {0x11, 0x22, 0x33};
  unsigned char seven[7] = {1, 2, 3, 4, 5, 6, 7};
  unsigned char one = 0x99;
  int after = -2;
  ApplyVal args[] = {{APPLY_AGGREGATE, 3, three},
                     {APPLY_AGGREGATE, 7, seven},
                     {APPLY_CHAR, 1, &one},
                     arg(after)};
  apply(code(sixWords), nullptr, 4, args);
  EXPECT_EQ(oddWords[0] & 0xffffff, 0x332211u);
  EXPECT_EQ(oddWords[1], 0x04030201u);
  EXPECT_EQ(oddWords[2] & 0xffffff, 0x070605u);
  EXPECT_EQ(oddWords[3] & 0xff, 0x99u);
  EXPECT_EQ(static_cast<int>(oddWords[4]), -2);

  // A value past two words after smaller ones: the area is laid out anew.
  int first = 5;
  unsigned char twelve[12];
  for (int i = 0; i < 12; ++i)
    twelve[i] = static_cast<unsigned char>(0xa0 + i);
  ApplyVal late[] = {
      arg(first), arg(first), {APPLY_AGGREGATE, 12, twelve}, arg(after)};
  apply(code(sixWords), nullptr, 4, late);
  EXPECT_EQ(oddWords[0], 5u);
  EXPECT_EQ(oddWords[1], 5u);
  EXPECT_EQ(oddWords[2], 0xa3a2a1a0u);
  EXPECT_EQ(oddWords[4], 0xabaaa9a8u);
  EXPECT_EQ(static_cast<int>(oddWords[5]), -2);
}

// The address of the first stack word the caller passed: above the saved
// frame pointer and the return address. Not &parameter, which a sanitizer
// build moves into a frame of its own.
#define FIRST_STACK_WORD()                                                     \
  (reinterpret_cast<uintptr_t>(__builtin_frame_address(0)) + 8)

uintptr_t firstArgumentAddress;
void noteAlignment(int) { firstArgumentAddress = FIRST_STACK_WORD(); }

TEST(ApplyArguments, StackIsAlignedAtTheCall) {
  // Arguments of 0 to 3 words below apply's frame must all land aligned.
  int first = 1, pad = 2;
  for (int extra = 0; extra < 4; ++extra) {
    ApplyVal args[] = {arg(first), arg(pad), arg(pad), arg(pad)};
    apply(code(noteAlignment), nullptr, 1 + extra, args);
    EXPECT_EQ(firstArgumentAddress % 16, 0u) << extra;
  }
}

// ---- results ----

template <typename T, T value> T answer() { return value; }
double answerDouble() { return -2.75; }
float answerFloat() { return 1.5f; }
int calls;
void noResult() { ++calls; }

template <typename T> T callFor(void *function, int kind) {
  T value;
  std::memset(&value, 0xa5, sizeof value);
  ApplyVal result = {kind, static_cast<int>(sizeof value), &value};
  EXPECT_EQ(apply(function, &result, 0, nullptr), 1);
  return value;
}

TEST(ApplyResults, EveryScalarKind) {
  EXPECT_EQ((callFor<signed char>(code(answer<signed char, -5>), APPLY_CHAR)),
            -5);
  EXPECT_EQ(
      (callFor<unsigned char>(code(answer<unsigned char, 200>), APPLY_UCHAR)),
      200);
  EXPECT_EQ((callFor<short>(code(answer<short, -1234>), APPLY_SHORT)), -1234);
  EXPECT_EQ((callFor<unsigned short>(code(answer<unsigned short, 60000>),
                                     APPLY_USHORT)),
            60000);
  EXPECT_EQ((callFor<int>(code(answer<int, -7>), APPLY_INT)), -7);
  EXPECT_EQ(
      (callFor<unsigned>(code(answer<unsigned, 4000000000u>), APPLY_UINT)),
      4000000000u);
  EXPECT_EQ((callFor<long>(code(answer<long, -8>), APPLY_LONG)), -8);
  EXPECT_EQ(
      (callFor<unsigned long>(code(answer<unsigned long, 9>), APPLY_ULONG)),
      9u);
  EXPECT_EQ((callFor<long long>(code(answer<long long, -(1LL << 40) - 3>),
                                APPLY_LONGLONG)),
            -(1LL << 40) - 3);
  EXPECT_EQ((callFor<unsigned long long>(
                code(answer<unsigned long long, 0xfedcba9876543210ULL>),
                APPLY_ULONGLONG)),
            0xfedcba9876543210ULL);
  EXPECT_EQ(callFor<float>(code(answerFloat), APPLY_FLOAT), 1.5f);
  EXPECT_EQ(callFor<double>(code(answerDouble), APPLY_DOUBLE), -2.75);
  EXPECT_EQ(callFor<void *>(code(answer<int, 0x1234>), APPLY_POINTER),
            reinterpret_cast<void *>(0x1234));
}

TEST(ApplyResults, NarrowKindsStoreOnlyTheirWidth) {
  unsigned char bytes[4] = {9, 9, 9, 9};
  ApplyVal result = {APPLY_CHAR, 1, bytes};
  apply(code(answer<int, 0x11223344>), &result, 0, nullptr);
  EXPECT_EQ(bytes[0], 0x44);
  EXPECT_EQ(bytes[1], 9);
  result.kind = APPLY_USHORT;
  apply(code(answer<int, 0x11223344>), &result, 0, nullptr);
  EXPECT_EQ(bytes[1], 0x33);
  EXPECT_EQ(bytes[2], 9);
}

TEST(ApplyResults, DiscardedAndVoidResults) {
  calls = 0;
  ApplyVal voidResult = {APPLY_VOID, 0, nullptr};
  EXPECT_EQ(apply(code(noResult), &voidResult, 0, nullptr), 1);
  EXPECT_EQ(apply(code(answer<int, 3>), nullptr, 0, nullptr), 1);
  EXPECT_EQ(calls, 1);
}

TEST(ApplyResults, KindsOutOfRangeMakeNoCall) {
  calls = 0;
  int storage = 5;
  for (int kind : {15, -1, 1000}) {
    ApplyVal result = {kind, 4, &storage};
    EXPECT_EQ(apply(code(noResult), &result, 0, nullptr), 1);
  }
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(storage, 5);
}

volatile double sink;
double half(double x) { return x / 2; }

TEST(ApplyResults, FloatResultsNeverPileUpOnTheX87Stack) {
  double x = 9.0;
  ApplyVal args[] = {arg(x)};
  for (int i = 0; i < 20; ++i)
    apply(code(half), nullptr, 1, args);
  int wrongKind = 0;
  ApplyVal asInt = {APPLY_INT, 4, &wrongKind};
  for (int i = 0; i < 20; ++i)
    apply(code(answerFloat), &asInt, 0, nullptr);
  volatile double a = 1.25, b = 3.0;
  sink = a * b + std::sqrt(b * 3.0);
  EXPECT_EQ(sink, 6.75);
  EXPECT_FALSE(std::isnan(half(a)));
}

TEST(ApplyResults, FloatKindWithoutAFloatLeavesTheStorage) {
  double d = 4.5;
  ApplyVal result = {APPLY_DOUBLE, 8, &d};
  apply(code(answer<int, 1>), &result, 0, nullptr);
  EXPECT_EQ(d, 4.5);
  volatile double a = 2.0;
  EXPECT_EQ(a * a, 4.0);
}

// ---- the x87 stack after the call ----

// Callees that push count values of 1.0 and leave them there: the first
// answers count, the second puts pi on top of them as its double result.
extern "C" int pushOnes(int count);
extern "C" double pushOnesUnderPi(int count);
__asm__(".text\n"
        ".globl pushOnes\n.hidden pushOnes\n.type pushOnes, @function\n"
        "pushOnes:\n"
        "  movl 4(%esp), %ecx\n"
        "  movl %ecx, %eax\n"
        "  testl %ecx, %ecx\n"
        "  jz 2f\n"
        "1: fld1\n"
        "  decl %ecx\n"
        "  jnz 1b\n"
        "2: ret\n"
        ".size pushOnes, . - pushOnes\n"
        ".globl pushOnesUnderPi\n.hidden pushOnesUnderPi\n"
        ".type pushOnesUnderPi, @function\n"
        "pushOnesUnderPi:\n"
        "  pushl 4(%esp)\n"
        "  call pushOnes\n"
        "  addl $4, %esp\n"
        "  fldpi\n"
        "  ret\n"
        ".size pushOnesUnderPi, . - pushOnesUnderPi\n");

// The x87 tag word: 0xffff when all eight registers are empty.
unsigned x87Tags() {
  struct {
    unsigned words[7];
  } environment;
  __asm__ volatile("fnstenv %0\n\tfldenv %0" : "+m"(environment));
  return environment.words[2] & 0xffff;
}

TEST(ApplyX87, EveryStrayValueIsDroppedWhateverTheKind) {
  ASSERT_EQ(x87Tags(), 0xffffu);
  for (int count = 1; count <= 8; ++count) {
    SCOPED_TRACE(count);
    ApplyVal args[] = {arg(count)};
    long long wide = 0;
    for (int kind : {APPLY_INT, APPLY_POINTER, APPLY_VOID, APPLY_CHAR,
                     APPLY_SHORT, APPLY_LONGLONG}) {
      wide = 0;
      ApplyVal result = {kind, 8, &wide};
      apply(code(pushOnes), &result, 1, args);
      EXPECT_EQ(x87Tags(), 0xffffu) << "kind " << kind;
      if (kind != APPLY_VOID) {
        EXPECT_EQ(wide & 0xff, count) << "kind " << kind;
      }
    }
    apply(code(pushOnes), nullptr, 1, args);
    EXPECT_EQ(x87Tags(), 0xffffu) << "discarded";
  }
  volatile double a = 1.25, b = 3.0;
  sink = a * b + std::sqrt(b * 3.0);
  EXPECT_EQ(sink, 6.75);
}

TEST(ApplyX87, FloatResultOverStrayValues) {
  for (int count = 0; count <= 7; ++count) {
    SCOPED_TRACE(count);
    ApplyVal args[] = {arg(count)};
    double d = 0;
    ApplyVal asDouble = {APPLY_DOUBLE, 8, &d};
    apply(code(pushOnesUnderPi), &asDouble, 1, args);
    EXPECT_EQ(d, M_PI);
    EXPECT_EQ(x87Tags(), 0xffffu);
    float f = 0;
    ApplyVal asFloat = {APPLY_FLOAT, 4, &f};
    apply(code(pushOnesUnderPi), &asFloat, 1, args);
    EXPECT_EQ(f, static_cast<float>(M_PI));
    EXPECT_EQ(x87Tags(), 0xffffu);
  }
}

double answerNaN() { return std::numeric_limits<double>::quiet_NaN(); }

TEST(ApplyX87, NaNResultsAndMissingOnesRaiseNoException) {
  std::feclearexcept(FE_ALL_EXCEPT);
  double d = 0;
  ApplyVal result = {APPLY_DOUBLE, 8, &d};
  apply(code(answerNaN), &result, 0, nullptr);
  EXPECT_TRUE(std::isnan(d));
  float f = 0;
  ApplyVal asFloat = {APPLY_FLOAT, 4, &f};
  apply(code(answerNaN), &asFloat, 0, nullptr);
  EXPECT_TRUE(std::isnan(f));

  d = 4.5;
  apply(code(answer<int, 1>), &result, 0, nullptr); // no float returned
  EXPECT_EQ(d, 4.5);
  EXPECT_FALSE(std::fetestexcept(FE_INVALID));
  EXPECT_EQ(x87Tags(), 0xffffu);
}

// ---- aggregates, passed and returned ----

template <int N> struct Bytes { unsigned char b[N]; };

// Answers the argument with every byte increased by step.
template <int N> Bytes<N> stepBytes(int step, Bytes<N> in) {
  for (int i = 0; i < N; ++i)
    in.b[i] = static_cast<unsigned char>(in.b[i] + step);
  return in;
}

template <int N> void checkAggregate() {
  SCOPED_TRACE(N);
  Bytes<N> in;
  for (int i = 0; i < N; ++i)
    in.b[i] = static_cast<unsigned char>(10 * i + 1);
  int step = 5;
  ApplyVal args[] = {arg(step), arg(in)};
  Bytes<N> out[2];
  std::memset(out, 0xee, sizeof out);
  ApplyVal result = {APPLY_AGGREGATE, N, &out[0]};
  EXPECT_EQ(apply(code(stepBytes<N>), &result, 2, args), 1);
  for (int i = 0; i < N; ++i)
    EXPECT_EQ(out[0].b[i], 10 * i + 6) << i;
  EXPECT_EQ(out[1].b[0], 0xee); // nothing written beyond the result
}

TEST(ApplyAggregates, PassedAndReturnedThroughTheHiddenPointer) {
  checkAggregate<1>();
  checkAggregate<2>();
  checkAggregate<3>();
  checkAggregate<4>();
  checkAggregate<8>();
  checkAggregate<12>();
  checkAggregate<16>();
  checkAggregate<20>();
}

struct Pair {
  int first, second;
};
uintptr_t hiddenAlignmentSeen;
Pair makePair(int first) {
  hiddenAlignmentSeen = (FIRST_STACK_WORD() + 4) % 16;
  return {first, -first};
}

TEST(ApplyAggregates, HiddenPointerIsTheFirstWord) {
  int first = 31;
  ApplyVal args[] = {arg(first)};
  Pair p = {};
  ApplyVal result = {APPLY_AGGREGATE, 8, &p};
  apply(code(makePair), &result, 1, args);
  EXPECT_EQ(p.first, 31);
  EXPECT_EQ(p.second, -31);
  EXPECT_EQ(hiddenAlignmentSeen, 4u); // behind the hidden pointer
}

// An aggregate result that the caller discards still needs a record of
// its kind and size: without storage, apply passes room of its own.
Bytes<40> fortyBytes(int fill) {
  calls = fill;
  Bytes<40> out;
  std::memset(out.b, fill, sizeof out.b);
  return out;
}

TEST(ApplyAggregates, DiscardedAggregateGoesToScratchRoom) {
  int fill = 7;
  ApplyVal args[] = {arg(fill)};
  for (int size : {40, 8}) {
    calls = 0;
    ApplyVal result = {APPLY_AGGREGATE, size, nullptr};
    void *callee = size == 8 ? code(makePair) : code(fortyBytes);
    EXPECT_EQ(apply(callee, &result, 1, args), 1);
    if (size == 40) {
      EXPECT_EQ(calls, 7);
    }
  }
  // The caller's own frame is intact.
  int first = 9;
  ApplyVal pairArgs[] = {arg(first)};
  Pair p = {};
  ApplyVal result = {APPLY_AGGREGATE, 8, &p};
  apply(code(makePair), &result, 1, pairArgs);
  EXPECT_EQ(p.second, -9);
}

TEST(ApplyAggregates, NullRecordPassesNoHiddenPointer) {
  // The callee takes its first argument word for the hidden pointer.
  Pair target = {};
  Pair *where = &target;
  int first = 12;
  ApplyVal args[] = {arg(where), arg(first)};
  EXPECT_EQ(apply(code(makePair), nullptr, 2, args), 1);
  EXPECT_EQ(target.first, 12);
  EXPECT_EQ(target.second, -12);
}

// ---- callees that pop, and callees that call apply ----

__attribute__((stdcall)) int popsItsArguments(int a, int b, int c) {
  return a * 100 + b * 10 + c;
}

TEST(ApplyStack, StdcallCalleeLeavesTheStackRight) {
  int a = 1, b = 2, c = 3;
  ApplyVal args[] = {arg(a), arg(b), arg(c)};
  int r = 0;
  ApplyVal result = {APPLY_INT, 4, &r};
  for (int i = 0; i < 100; ++i)
    apply(code(popsItsArguments), &result, 3, args);
  EXPECT_EQ(r, 123);
}

int applyAgain(int depth) {
  if (depth == 0)
    return 1;
  int next = depth - 1;
  ApplyVal args[] = {arg(next)};
  int r = 0;
  ApplyVal result = {APPLY_INT, 4, &r};
  apply(code(applyAgain), &result, 1, args);
  return r + depth;
}

TEST(ApplyStack, CalleeThatCallsApply) {
  int depth = 10;
  ApplyVal args[] = {arg(depth)};
  int r = 0;
  ApplyVal result = {APPLY_INT, 4, &r};
  apply(code(applyAgain), &result, 1, args);
  EXPECT_EQ(r, 56);
}

} // namespace
