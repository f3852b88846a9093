/* 64-bit integers to and from text, for scripts that see call results of
   64-bit kinds as strings. */
#include <zelObjCRuntime/zelObjCRuntime.h>

#include <cctype>
#include <cerrno>
#include <cstring>

namespace {

/* Digit value of the characters '0' to 'z'; the punctuation between the
   digits and the letters is 100, which no base reaches. */
constexpr signed char cvtIn[] = {
    0,   1,   2,   3,   4,   5,   6,   7,   8,   9,          /* 0-9 */
    100, 100, 100, 100, 100, 100, 100,                       /* :-@ */
    10,  11,  12,  13,  14,  15,  16,  17,  18,  19,         /* A-J */
    20,  21,  22,  23,  24,  25,  26,  27,  28,  29,         /* K-T */
    30,  31,  32,  33,  34,  35,                             /* U-Z */
    100, 100, 100, 100, 100, 100,                            /* [-` */
    10,  11,  12,  13,  14,  15,  16,  17,  18,  19,         /* a-j */
    20,  21,  22,  23,  24,  25,  26,  27,  28,  29,         /* k-t */
    30,  31,  32,  33,  34,  35,                             /* u-z */
};
static_assert(sizeof cvtIn == 'z' - '0' + 1, "one entry per character");

constexpr char digits[] = "0123456789";
constexpr char smallestLongLong[] = "-9223372036854775808";

/* The digit value of c, or -1 when c is no digit of base. */
int digitOf(char c, int base) {
  if (c < '0' || c > 'z')
    return -1;
  int value = cvtIn[c - '0'];
  return value < base ? value : -1;
}

bool validBase(int base) { return base == 0 || (base >= 2 && base <= 36); }

/* Settles the base from a prefix. Lower-case "0x" only; in base 0 a lone
   leading "0" means octal and is itself a digit read. */
const char *readPrefix(const char *s, int &base, bool &anyDigit) {
  if (base == 0) {
    if (*s != '0') {
      base = 10;
      return s;
    }
    if (s[1] == 'x') {
      base = 16;
      return s + 2;
    }
    base = 8;
    anyDigit = true;
    return s + 1;
  }
  if (base == 16 && s[0] == '0' && s[1] == 'x')
    return s + 2;
  return s;
}

/* Writes the digits of value backwards from buf[1] on, buf[0] holding the
   NUL; answers the index of the last one written. A 64-bit division is a
   library call on this processor, so the value is cut into nine-digit
   pieces that 32-bit arithmetic finishes. */
int writeReversedDigits(unsigned long long value, char *buf) {
  constexpr unsigned piece = 1000000000u;
  int last = 0;
  buf[0] = '\0';
  while (value > 0xffffffffull) {
    const unsigned long long high = value / piece;
    auto low = static_cast<unsigned>(value - high * piece);
    for (int i = 0; i < 9; ++i, low /= 10)
      buf[++last] = digits[low % 10];
    value = high;
  }
  auto rest = static_cast<unsigned>(value);
  do {
    buf[++last] = digits[rest % 10];
    rest /= 10;
  } while (rest != 0);
  return last;
}

/* Reverses buf[0..last], bringing the NUL to the end; answers the length. */
int reverseText(char *buf, int last) {
  for (int i = 0, j = last; i < j; ++i, --j) {
    char c = buf[i];
    buf[i] = buf[j];
    buf[j] = c;
  }
  return last;
}

} // namespace

/* Digits of the base are read while the value fits 64 bits; on overflow
   errno is ERANGE, the value is the wrapped one and the overflowing digit
   is left unread. Signs are not accepted. A base outside 0 and 2 to 36
   reads nothing and sets EINVAL. */
ZEL_EXPORT unsigned long long zelObjC_strtoull(const char *str, char **end,
                                               int base) noexcept {
  const char *s = str;
  bool anyDigit = false;
  unsigned long long value = 0;
  if (!validBase(base)) {
    errno = EINVAL;
  } else {
    while (std::isspace(static_cast<unsigned char>(*s)))
      ++s;
    s = readPrefix(s, base, anyDigit);
    const auto b = static_cast<unsigned>(base);
    /* Leading digits that keep the value within 32 bits need no 64-bit
       multiplication at all. */
    const unsigned smallLimit = (0xffffffffu - (b - 1)) / b;
    unsigned small = 0;
    int digit;
    for (; small <= smallLimit && (digit = digitOf(*s, base)) >= 0; ++s) {
      small = small * b + static_cast<unsigned>(digit);
      anyDigit = true;
    }
    value = small;
    /* One 64-bit division per call rather than one per digit: value * b +
       digit overflows exactly when value passes cutoff, or equals it and
       the digit passes cutlim. */
    const unsigned long long cutoff = ~0ULL / b;
    const auto cutlim = static_cast<unsigned>(~0ULL - cutoff * b);
    for (; (digit = digitOf(*s, base)) >= 0; ++s) {
      const auto d = static_cast<unsigned>(digit);
      const unsigned long long next = value * b + d;
      anyDigit = true;
      if (value > cutoff || (value == cutoff && d > cutlim)) {
        errno = ERANGE;
        value = next; /* wrapped */
        break;
      }
      value = next;
    }
  }
  if (end)
    *end = const_cast<char *>(anyDigit ? s : str);
  return value;
}

ZEL_EXPORT int zelObjC_lltostr(long long value, char *buf) noexcept {
  if (value == (-0x7fffffffffffffffLL - 1)) {
    std::memcpy(buf, smallestLongLong, sizeof smallestLongLong);
    return static_cast<int>(sizeof smallestLongLong - 1);
  }
  bool negative = value < 0;
  int last = writeReversedDigits(
      static_cast<unsigned long long>(negative ? -value : value), buf);
  if (negative)
    buf[++last] = '-';
  return reverseText(buf, last);
}

ZEL_EXPORT int zelObjC_ulltostr(unsigned long long value, char *buf) noexcept {
  return reverseText(buf, writeReversedDigits(value, buf));
}
