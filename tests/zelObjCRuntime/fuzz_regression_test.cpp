// Inputs that fuzzing turned up, kept so that what they exposed stays
// mended: measuring absurd encodings, classes whose members are too large
// to measure, 64-bit text at the overflow boundary, and symbol files that
// break the format.
#include <gtest/gtest.h>

#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <Foundation/Foundation.h>
#include <zelObjCRuntime/zelObjCRuntime.h>

namespace {

// ---- encodings ----

// A count past 2^31 wraps like the register arithmetic does; what matters
// is that the walk stops at the NUL and the kind stays a kind.
TEST(FuzzEncodings, HugeArrayCountStaysInsideTheText) {
  const std::string text =
      "[11111111111111111111111/055555555\x1b[[[[[[[[[[[[[[[[[[[[[[[[[[[[";
  const char *end = text.c_str() + text.size();
  EXPECT_LE(objc_skip_typespec(text.c_str()), end);
  for (int flags = 0; flags < 4; ++flags) {
    ApplyVal val = {-1, -1, nullptr};
    if (zelObjC_TypeToApplyVal(text.c_str(), flags, &val)) {
      EXPECT_GE(val.kind, APPLY_POINTER);
      EXPECT_LE(val.kind, APPLY_AGGREGATE);
    }
  }
}

TEST(FuzzEncodings, CutShortTextsEndAtTheirNul) {
  for (const char *text : {"{", "{?=", "[4", "(", "^", "\"name", "b", "r",
                           "{a=\"x\"", "[12{?=i"}) {
    const std::string owned(text);
    const char *end = owned.c_str() + owned.size();
    EXPECT_LE(objc_skip_typespec(owned.c_str()), end) << text;
    EXPECT_LE(objc_skip_argspec(owned.c_str()), end) << text;
    objc_sizeof_type(owned.c_str());
    objc_alignof_type(owned.c_str());
  }
}

// Bytes from hex digits.
std::string fromHex(const char *hex) {
  std::string bytes;
  for (; hex[0] && hex[1]; hex += 2)
    bytes += static_cast<char>(std::stoi(std::string(hex, 2), nullptr, 16));
  return bytes;
}

// 94 bytes and 48 bytes 0xff, as fuzzing found them: measuring took time
// exponential in the text, and grew with text after the 13 bytes that
// the walk says the type spans.
std::string foundByFuzzing() {
  return fromHex("7b49387b7bff4effff7b7b7b7d7b7d7b7b7d7b7d7b7b7d7b49387b7bff"
                 "49387b7bff4effff7b7b7b7d7b7d7b7b7d7b7d7b7b7d7b49387b7bff4e"
                 "ffff7b7b7b7d7b7d7b7b7d7b7d7b7b7d7b7d7b4effff7b7b7b7d7b7d7b"
                 "7b7d7b7d7b7b7d") +
         std::string(48, '\xff');
}

// A copy of text whose NUL is the last byte before a page that cannot be
// read: a walk that reads past the copy faults.
class GuardedCopy {
public:
  explicit GuardedCopy(const std::string &text) {
    page_ = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    size_t pages = (text.size() + 1 + page_ - 1) / page_ + 1;
    length_ = pages * page_;
    void *m = mmap(nullptr, length_, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    base_ = m == MAP_FAILED ? nullptr : static_cast<char *>(m);
    if (!base_)
      return;
    mprotect(base_ + length_ - page_, page_, PROT_NONE);
    text_ = base_ + length_ - page_ - text.size() - 1;
    std::memcpy(text_, text.c_str(), text.size() + 1);
  }
  ~GuardedCopy() {
    if (base_)
      munmap(base_, length_);
  }
  const char *text() const { return text_; }

private:
  size_t page_ = 0, length_ = 0;
  char *base_ = nullptr;
  char *text_ = nullptr;
};

// The text before the end objc_skip_typespec gives, and the quadruple of
// measures of a type.
std::string spanned(const char *type) {
  return std::string(type, objc_skip_typespec(type));
}

struct Measures {
  int size, alignment, aligned, promoted;
  bool operator==(const Measures &o) const {
    return size == o.size && alignment == o.alignment && aligned == o.aligned &&
           promoted == o.promoted;
  }
};

Measures measuresOf(const char *type) {
  return {objc_sizeof_type(type), objc_alignof_type(type),
          objc_aligned_size(type), objc_promoted_size(type)};
}

// A type measures as the text its walk spans, read from a copy that ends
// there: nothing after the end can change a measure or be read.
TEST(FuzzEncodings, MeasuresReadOnlyTheSpannedText) {
  const std::string texts[] = {
      foundByFuzzing(), "{x{y=i}c}", "{{a=i}}", "{\"x}\"i}", "{[3}]",
      "(a{b=ic}s)", "b3\"n\"b4i", "@\"NoSuchClass\"i", "[3{x=ic}]c",
      "{a={x{y=i}c}i}", "({a)=}", "{?}i",
      // Qualifiers, then a quote: the name is passed over once only.
      "r\"\354y\"d}"};
  for (const std::string &text : texts) {
    SCOPED_TRACE(text);
    const std::string span = spanned(text.c_str());
    GuardedCopy copy(span);
    ASSERT_NE(copy.text(), nullptr);
    EXPECT_EQ(objc_skip_typespec(copy.text()), copy.text() + span.size());
    EXPECT_TRUE(measuresOf(copy.text()) == measuresOf(text.c_str()));
  }
  EXPECT_EQ(spanned(foundByFuzzing().c_str()).size(), 13u);
}

// The part that repeats in the input above, over and over: without a
// clock, a walk exponential (or quadratic) in the text would run into the
// test's time-out here.
TEST(FuzzEncodings, RepeatedInputIsMeasuredInLinearTime) {
  const std::string piece = foundByFuzzing().substr(0, 0x59);
  std::string text;
  for (int i = 0; i < 2000; ++i)
    text += piece;
  const char *t = text.c_str();
  EXPECT_LE(objc_skip_typespec(t), t + text.size());
  EXPECT_TRUE(measuresOf(spanned(t).c_str()) == measuresOf(t));
  ApplyVal val = {-7, -7, nullptr};
  zelObjC_TypeToApplyVal(t, 0, &val);
  EXPECT_EQ(zelObjC_CompatibleTypes(t, t), zelObjC_CompatibleTypes(t, t));
  // Long and deep: 490 levels around 200,000 members.
  std::string deep;
  for (int i = 0; i < 490; ++i)
    deep += "{x=";
  deep += std::string(200000, 'i');
  for (int i = 0; i < 490; ++i)
    deep += "}";
  EXPECT_EQ(objc_sizeof_type(deep.c_str()), 800000);
  ASSERT_EQ(zelObjC_TypeToApplyVal(deep.c_str(), 0, &val), 1);
  EXPECT_EQ(val.size, 800000);
  EXPECT_EQ(zelObjC_CompatibleTypes(deep.c_str(), deep.c_str()), 1);
}

std::string nestedIn(const char *open, int depth, const char *inner,
                     const char *close) {
  std::string text;
  for (int i = 0; i < depth; ++i)
    text += open;
  text += inner;
  for (int i = 0; i < depth; ++i)
    text += close;
  return text;
}

// A size of 0 that stands for "cannot be measured" must not become
// storage of 0 bytes that the callee then writes.
TEST(FuzzEncodings, TypesWithoutASizeHaveNoKind) {
  const std::string unsupported[] = {
      "{x=ci" + std::string(1100, '^') + "i}", // past the nesting bound
      "[1073741824i]",                         // 2^32 bytes wrap to 0
      "[1073741825i]",                         // and to 4
      "{x=[4294967297i]}",                     // a count past 32 bits
      "{{a=i}}", // the walk ends before the last brace
      "{x=ic",   // cut short
      "[4i",
      nestedIn("{x=", 1001, "i", "}")};
  for (const std::string &type : unsupported) {
    SCOPED_TRACE(type);
    ApplyVal val = {-7, -7, nullptr};
    EXPECT_EQ(zelObjC_TypeToApplyVal(type.c_str(), 0, &val), 0);
    EXPECT_EQ(val.kind, -7);
  }
  // Empty aggregates do have a size, and it is 0.
  for (const char *type : {"[0i]", "{x=}", "()"}) {
    ApplyVal val = {-7, -7, nullptr};
    EXPECT_EQ(zelObjC_TypeToApplyVal(type, 0, &val), 1) << type;
    EXPECT_EQ(val.size, 0) << type;
  }
}

// Texts that the compatibility walk must read the way the measuring walk
// does: each is compatible with itself.
TEST(FuzzEncodings, NestedOpenersAreCompatibleWithThemselves) {
  for (const char *type : {"((ii))", "{{a=i}}", "{{a=i}c}", "({a=i}s)",
                           "{(x=i)}", "((ii))8@0:4", "{{a=i}}12@0:4{{b=c}}8"}) {
    EXPECT_EQ(zelObjC_CompatibleTypes(type, type), 1) << type;
  }
}

// The walks run on whatever thread calls them, also on a small stack, at
// the nesting bound.
void *walkAtTheBound(void *result) {
  const std::string structs = nestedIn("{x=", 999, "i", "}");
  const std::string pointers = std::string(999, '^') + "i";
  const std::string mixed = nestedIn("(u=[1", 499, "i", "])");
  bool ok = objc_sizeof_type(structs.c_str()) == 4 &&
            objc_skip_typespec(pointers.c_str()) ==
                pointers.c_str() + pointers.size() &&
            objc_aligned_size(mixed.c_str()) == 4 &&
            zelObjC_CompatibleTypes(structs.c_str(), structs.c_str()) == 1 &&
            zelObjC_CompatibleTypes(pointers.c_str(), pointers.c_str()) == 1;
  ApplyVal val = {};
  ok = ok && zelObjC_TypeToApplyVal(structs.c_str(), 0, &val) == 1 &&
       val.size == 4;
  *static_cast<bool *>(result) = ok;
  return nullptr;
}

TEST(FuzzEncodings, WalksAtTheBoundFitASmallThreadStack) {
  pthread_attr_t attributes;
  ASSERT_EQ(pthread_attr_init(&attributes), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attributes, 64 * 1024), 0);
  bool ok = false;
  pthread_t thread;
  ASSERT_EQ(pthread_create(&thread, &attributes, walkAtTheBound, &ok), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
  EXPECT_TRUE(ok);
}

// ---- classes ----

Class objectClass() {
  return reinterpret_cast<Class>(objc_getClass("NSObject"));
}

// A bitfield run of 2^31 bits and more has no instance size that memory
// could hold: making the class fails rather than record a wrapped, negative
// size that the first allocation then trusts; the name stays free.
TEST(FuzzClasses, MembersTooLargeToMeasureAreRefused) {
  EXPECT_EQ(ZelObjC_NewClass("ZelFuzzHuge", objectClass(),
                             "{?{==b7\341=bs({=ab7\341\035b2222222226"),
            nullptr);
  EXPECT_EQ(ZelObjC_NewClass("ZelFuzzHuge", objectClass(),
                             "{?=\"a\"[11111111111111111111111i]}"),
            nullptr);
  Class fits = ZelObjC_NewClass("ZelFuzzHuge", objectClass(), "{?=\"a\"i}");
  ASSERT_NE(fits, nullptr);
  EXPECT_EQ(ZelObjC_DestroyClass(fits), 1);
}

// ---- 64-bit text ----

TEST(FuzzStrtoull, OverflowAtEveryBaseStopsAtTheDigitThatOverflowed) {
  struct Case {
    const char *text;
    int base;
    unsigned long long value;
    long consumed;
  };
  const Case cases[] = {
      {"18446744073709551615", 10, ~0ULL, 20},
      {"18446744073709551616", 10, 0ULL, 19}, // wraps to 0
      {"ffffffffffffffff", 16, ~0ULL, 16},
      {"0x10000000000000000", 16, 0ULL, 18},
      {"3w5e11264sgsf", 36, 18446744073709551615ULL, 13},
      {"3w5e11264sgsg", 36, 0ULL, 12},
      {"1111111111111111111111111111111111111111111111111111111111111111", 2,
       ~0ULL, 64},
      {"4294967295", 10, 4294967295ULL, 10}, // 32-bit edge
      {"4294967296", 10, 4294967296ULL, 10},
  };
  for (const Case &c : cases) {
    errno = 0;
    char *end = nullptr;
    const unsigned long long value = zelObjC_strtoull(c.text, &end, c.base);
    const bool overflowed =
        c.consumed < static_cast<long>(std::string(c.text).size());
    EXPECT_EQ(value, c.value) << c.text;
    EXPECT_EQ(end - c.text, c.consumed) << c.text;
    EXPECT_EQ(errno == ERANGE, overflowed) << c.text;
  }
}

TEST(FuzzStrtoull, TextsOfDigitsFromEveryBase) {
  char text[80];
  for (int base = 2; base <= 36; ++base) {
    // The largest value, written in the base, reads back without ERANGE.
    std::string digits;
    for (unsigned long long v = ~0ULL; v; v /= base)
      digits.insert(digits.begin(),
                    "0123456789abcdefghijklmnopqrstuvwxyz"[v % base]);
    std::snprintf(text, sizeof text, "%s", digits.c_str());
    errno = 0;
    char *end = nullptr;
    EXPECT_EQ(zelObjC_strtoull(text, &end, base), ~0ULL) << base;
    EXPECT_EQ(errno, 0) << base;
    EXPECT_EQ(*end, '\0') << base;
  }
}

TEST(FuzzLongLongText, WrittenDigitsAroundTheNineDigitPieces) {
  char buf[21];
  const struct {
    unsigned long long value;
    const char *text;
  } cases[] = {{999999999ULL, "999999999"},
               {1000000000ULL, "1000000000"},
               {4294967295ULL, "4294967295"},
               {4294967296ULL, "4294967296"},
               {1000000000000000000ULL, "1000000000000000000"},
               {10000000000000000000ULL, "10000000000000000000"},
               {18000000000000000009ULL, "18000000000000000009"}};
  for (const auto &c : cases) {
    EXPECT_EQ(zelObjC_ulltostr(c.value, buf),
              static_cast<int>(std::string(c.text).size()));
    EXPECT_STREQ(buf, c.text);
  }
  EXPECT_EQ(zelObjC_lltostr(-4294967296LL, buf), 11);
  EXPECT_STREQ(buf, "-4294967296");
}

// ---- symbol table files ----

class FuzzSymbolFiles : public ::testing::Test {
protected:
  void SetUp() override {
    pool_ = objc_send(objc_send_class("NSAutoreleasePool", "alloc"), "init");
    path_ = "/tmp/zel_fuzz_regression_" + std::to_string(getpid()) + ".sym";
  }
  void TearDown() override {
    std::remove(path_.c_str());
    objc_send<void>(pool_, "release");
  }

  SymbolTable *load(const std::string &bytes) {
    FILE *file = std::fopen(path_.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    return ZelObjC_LoadSymbolTable(path_.c_str());
  }

  id pool_ = nil;
  std::string path_;
};

TEST_F(FuzzSymbolFiles, MalformedFilesAreRefusedWithoutReadingPastThem) {
  const std::string malformed[] = {
      std::string("\0abc\0\4i", 7),    // no terminator
      std::string("abc\0\4i\0", 7),    // no lead byte
      std::string("\0abc\0\0i\0", 8),  // kind 0
      std::string("\0abc\0\7i\0", 8),  // kind past the last
      std::string("\0\0\4i\0", 5),     // empty name
      std::string("\0abc\0", 5),       // no kind before the end
      std::string("\0abc\0\4i\0x", 9), // bytes after the terminator
  };
  for (const std::string &bytes : malformed) {
    SymbolTable *table = load(bytes);
    EXPECT_EQ(table, nullptr) << bytes.size();
    if (table)
      ZelObjC_DestroySymbolTable(table);
  }
}

TEST_F(FuzzSymbolFiles, LaterRecordWinsAndSurvivesASaveAndReload) {
  SymbolTable *table = load(std::string("\0abc\0\4i\0abc\0\1v\0", 15));
  ASSERT_NE(table, nullptr);
  const char *type = nullptr;
  EXPECT_EQ(ZelObjC_LookupSymbol(table, "abc", &type), 1);
  EXPECT_STREQ(type, "v");
  const std::string copy = path_ + ".copy";
  ASSERT_TRUE(ZelObjC_SaveSymbolTable(table, copy.c_str()));
  ZelObjC_DestroySymbolTable(table);
  SymbolTable *reloaded = ZelObjC_LoadSymbolTable(copy.c_str());
  std::remove(copy.c_str());
  ASSERT_NE(reloaded, nullptr);
  EXPECT_EQ(ZelObjC_LookupSymbol(reloaded, "abc", &type), 1);
  EXPECT_STREQ(type, "v");
  ZelObjC_DestroySymbolTable(reloaded);
}

} // namespace
