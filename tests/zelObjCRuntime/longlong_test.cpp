// 64-bit integer text: reading against the C library where the rules
// agree, the cases where they differ, and writing against snprintf.
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include <zelObjCRuntime/zelObjCRuntime.h>

namespace {

constexpr unsigned long long maxValue = ULLONG_MAX;

struct Read {
  unsigned long long value;
  ptrdiff_t end;
  int error;
};

Read readText(const char *text, int base) {
  char *end = nullptr;
  errno = 0;
  unsigned long long value = zelObjC_strtoull(text, &end, base);
  return {value, end - text, errno};
}

std::string inBase(unsigned long long value, int base, bool upper) {
  const char *digits = upper ? "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"
                             : "0123456789abcdefghijklmnopqrstuvwxyz";
  std::string text;
  do {
    text.insert(text.begin(), digits[value % static_cast<unsigned>(base)]);
    value /= static_cast<unsigned>(base);
  } while (value);
  return text;
}

TEST(Strtoull, AgreesWithTheCLibraryOnPlainDigits) {
  std::mt19937_64 random(20240611);
  const char *spaces[] = {"", " ", "\t\n ", "  "};
  const char *tails[] = {"", " ", "!", "-3", "\xff"};
  for (int i = 0; i < 4000; ++i) {
    unsigned long long value = random() >> (random() % 64);
    int base = 2 + static_cast<int>(random() % 35);
    std::string text = std::string(spaces[i % 4]) +
                       inBase(value, base, random() & 1) + tails[i % 5];
    SCOPED_TRACE(text + " base " + std::to_string(base));
    char *libEnd = nullptr;
    errno = 0;
    unsigned long long expected = std::strtoull(text.c_str(), &libEnd, base);
    int libError = errno;
    Read r = readText(text.c_str(), base);
    EXPECT_EQ(r.value, expected);
    EXPECT_EQ(r.end, libEnd - text.c_str());
    EXPECT_EQ(r.error, libError);
  }
}

TEST(Strtoull, AgreesOnPrefixesInBases0And16) {
  const char *texts[] = {"0x1f",   "0xFFFFFFFFFFFFFFFF", "017", "0",  "42",
                         "  0777", "1844674407370955",   "9z",  "0x0"};
  for (const char *text : texts)
    for (int base : {0, 16, 10, 8}) {
      SCOPED_TRACE(std::string(text) + " base " + std::to_string(base));
      char *libEnd = nullptr;
      unsigned long long expected = std::strtoull(text, &libEnd, base);
      Read r = readText(text, base);
      EXPECT_EQ(r.value, expected);
      EXPECT_EQ(r.end, libEnd - text);
    }
}

struct Case {
  const char *text;
  int base;
  unsigned long long value;
  ptrdiff_t end;
  int error;
};

// Where the rules part from the C library's: no upper-case "0X", no sign,
// and on overflow the wrapped value with the overflowing digit unread.
const Case ownRules[] = {
    {"  42", 0, 42, 4, 0},
    {"0x1F", 0, 31, 4, 0},
    {"0X1F", 0, 0, 1, 0},
    {"0X1F", 16, 0, 1, 0},
    {"017", 0, 15, 3, 0},
    {"0", 0, 0, 1, 0},
    {"08", 0, 0, 1, 0},
    {"0x", 0, 0, 0, 0},
    {"0x", 16, 0, 0, 0},
    {"0xz", 0, 0, 0, 0},
    {"-5", 10, 0, 0, 0},
    {"+5", 10, 0, 0, 0},
    {" -5", 0, 0, 0, 0},
    {"ff", 16, 255, 2, 0},
    {"0xff", 16, 255, 4, 0},
    {"z", 36, 35, 1, 0},
    {"z", 35, 0, 0, 0},
    {"18446744073709551615", 10, maxValue, 20, 0},
    {"18446744073709551616", 10, 0, 19, ERANGE},
    {"23058430092136939520", 10, 1ULL << 62, 19, ERANGE}, // 2^61 * 10
    {"1ffffffffffffffff", 16, maxValue, 16, ERANGE},
    {"@", 36, 0, 0, 0},
    {"[", 36, 0, 0, 0},
};

TEST(Strtoull, OwnRules) {
  for (const Case &c : ownRules) {
    SCOPED_TRACE(std::string(c.text) + " base " + std::to_string(c.base));
    Read r = readText(c.text, c.base);
    EXPECT_EQ(r.value, c.value);
    EXPECT_EQ(r.end, c.end);
    EXPECT_EQ(r.error, c.error);
  }
}

// The rules digit by digit, with the overflow found by the compiler's
// checked arithmetic: value, end and ERANGE for a text of digits only.
Read referenceRead(const std::string &text, int base) {
  unsigned long long value = 0;
  size_t i = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    const int digit = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'a' && c <= 'z' ? c - 'a' + 10
                                             : 99;
    if (digit >= base)
      break;
    unsigned long long product, sum;
    const bool over =
        __builtin_mul_overflow(value, static_cast<unsigned>(base), &product) |
        __builtin_add_overflow(product, static_cast<unsigned>(digit), &sum);
    value = sum;
    if (over)
      return {value, static_cast<ptrdiff_t>(i), ERANGE};
  }
  return {value, static_cast<ptrdiff_t>(i), 0};
}

// Long texts around the lengths where reading changes pace: the pieces
// that 32 bits hold, the last digit that cannot overflow, the first that
// can. Leading zeros push each length further out.
TEST(Strtoull, EveryLengthInEveryBaseAgreesWithTheRules) {
  const char *digitsOf = "0123456789abcdefghijklmnopqrstuvwxyz";
  for (int base = 2; base <= 36; ++base) {
    const char top = digitsOf[base - 1];
    for (int length = 1; length <= 70; ++length) {
      for (int zeros : {0, 1, 9, 30}) {
        const std::string texts[] = {
            std::string(zeros, '0') + std::string(length, top),
            std::string(zeros, '0') + "1" + std::string(length - 1, '0'),
            std::string(zeros, '0') + std::string(length, top) + "!"};
        for (const std::string &text : texts) {
          SCOPED_TRACE(text + " base " + std::to_string(base));
          const Read expected = referenceRead(text, base);
          const Read r = readText(text.c_str(), base);
          ASSERT_EQ(r.value, expected.value);
          ASSERT_EQ(r.end, expected.end);
          ASSERT_EQ(r.error, expected.error);
        }
      }
    }
  }
}

TEST(Strtoull, DecimalTextEndingAtEveryPosition) {
  const std::string digits = "98765432109876543210987";
  for (size_t cut = 1; cut <= digits.size(); ++cut)
    for (const char *tail : {"", "x", " 5", "\xff"}) {
      const std::string text = digits.substr(0, cut) + tail;
      SCOPED_TRACE(text);
      const Read expected = referenceRead(text, 10);
      const Read r = readText(text.c_str(), 10);
      EXPECT_EQ(r.value, expected.value);
      EXPECT_EQ(r.end, expected.end);
      EXPECT_EQ(r.error, expected.error);
    }
}

TEST(Strtoull, BadBaseReadsNothing) {
  for (int base : {1, 37, -1, 100, INT_MIN}) {
    SCOPED_TRACE(base);
    Read r = readText("  12:;", base);
    EXPECT_EQ(r.value, 0u);
    EXPECT_EQ(r.end, 0);
    EXPECT_EQ(r.error, EINVAL);
  }
}

TEST(Strtoull, ErrnoIsOnlySetAndEndMayBeNull) {
  errno = EDOM;
  EXPECT_EQ(zelObjC_strtoull("7", nullptr, 10), 7u);
  EXPECT_EQ(errno, EDOM);
}

void expectWritten(long long value) {
  char expected[32];
  char buf[21];
  int length = std::snprintf(expected, sizeof expected, "%lld", value);
  EXPECT_EQ(zelObjC_lltostr(value, buf), length) << expected;
  EXPECT_STREQ(buf, expected);
}

void expectWritten(unsigned long long value) {
  char expected[32];
  char buf[21];
  int length = std::snprintf(expected, sizeof expected, "%llu", value);
  EXPECT_EQ(zelObjC_ulltostr(value, buf), length) << expected;
  EXPECT_STREQ(buf, expected);
}

TEST(Writers, EdgeValuesMatchSnprintf) {
  const long long signedEdges[] = {0,         1,         -1,
                                   9,         10,        -10,
                                   LLONG_MAX, LLONG_MIN, LLONG_MIN + 1,
                                   INT_MAX,   INT_MIN,   1000000000000000000LL};
  for (long long v : signedEdges)
    expectWritten(v);
  const unsigned long long unsignedEdges[] = {
      0, 1, 9, 10, maxValue, maxValue - 1, 1ULL << 63, 10000000000000000000ULL};
  for (unsigned long long v : unsignedEdges)
    expectWritten(v);
  char buf[21];
  EXPECT_EQ(zelObjC_lltostr(LLONG_MIN, buf), 20);
  EXPECT_EQ(zelObjC_ulltostr(maxValue, buf), 20);
}

TEST(Writers, PowersOfTenAndRandomValuesMatchSnprintf) {
  unsigned long long power = 1;
  for (int i = 0; i < 20; ++i, power *= 10) {
    expectWritten(power - 1);
    expectWritten(power);
    if (i < 19)
      expectWritten(-static_cast<long long>(power));
  }
  std::mt19937_64 random(7);
  for (int i = 0; i < 5000; ++i) {
    unsigned long long bits = random() >> (random() % 64);
    expectWritten(bits);
    expectWritten(static_cast<long long>(bits));
  }
}

} // namespace
