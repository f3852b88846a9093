// Inputs that fuzzing turned up, kept so that what they exposed stays
// mended: measuring absurd encodings, classes whose members are too large
// to measure, 64-bit text at the overflow boundary, and symbol files that
// break the format.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <cstdio>
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
      {"18446744073709551616", 10, 0ULL, 19},                // wraps to 0
      {"ffffffffffffffff", 16, ~0ULL, 16},
      {"0x10000000000000000", 16, 0ULL, 18},
      {"3w5e11264sgsf", 36, 18446744073709551615ULL, 13},
      {"3w5e11264sgsg", 36, 0ULL, 12},
      {"1111111111111111111111111111111111111111111111111111111111111111",
       2, ~0ULL, 64},
      {"4294967295", 10, 4294967295ULL, 10},                 // 32-bit edge
      {"4294967296", 10, 4294967296ULL, 10},
  };
  for (const Case &c : cases) {
    errno = 0;
    char *end = nullptr;
    const unsigned long long value = zelObjC_strtoull(c.text, &end, c.base);
    const bool overflowed = c.consumed < static_cast<long>(
                                             std::string(c.text).size());
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
      std::string("\0abc\0\4i", 7),      // no terminator
      std::string("abc\0\4i\0", 7),      // no lead byte
      std::string("\0abc\0\0i\0", 8),    // kind 0
      std::string("\0abc\0\7i\0", 8),    // kind past the last
      std::string("\0\0\4i\0", 5),       // empty name
      std::string("\0abc\0", 5),         // no kind before the end
      std::string("\0abc\0\4i\0x", 9),   // bytes after the terminator
  };
  for (const std::string &bytes : malformed) {
    SymbolTable *table = load(bytes);
    EXPECT_EQ(table, nullptr) << bytes.size();
    if (table)
      ZelObjC_DestroySymbolTable(table);
  }
}

TEST_F(FuzzSymbolFiles, LaterRecordWinsAndSurvivesASaveAndReload) {
  SymbolTable *table =
      load(std::string("\0abc\0\4i\0abc\0\1v\0", 15));
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
