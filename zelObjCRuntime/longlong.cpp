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
    0,   1,   2,   3,   4,   5,   6,   7,  8,  9,  /* 0-9 */
    100, 100, 100, 100, 100, 100, 100,             /* :-@ */
    10,  11,  12,  13,  14,  15,  16,  17, 18, 19, /* A-J */
    20,  21,  22,  23,  24,  25,  26,  27, 28, 29, /* K-T */
    30,  31,  32,  33,  34,  35,                   /* U-Z */
    100, 100, 100, 100, 100, 100,                  /* [-` */
    10,  11,  12,  13,  14,  15,  16,  17, 18, 19, /* a-j */
    20,  21,  22,  23,  24,  25,  26,  27, 28, 29, /* k-t */
    30,  31,  32,  33,  34,  35,                   /* u-z */
};
static_assert(sizeof cvtIn == 'z' - '0' + 1, "one entry per character");

constexpr char digits[] = "0123456789";
constexpr char smallestLongLong[] = "-9223372036854775808";

/* The digit value of c, or -1 when c is no digit of base. */
int digitOf(char c, int base) {
  if (base <= 10) { /* the digits '0' up to base */
    const unsigned value = static_cast<unsigned char>(c - '0');
    return value < static_cast<unsigned>(base) ? static_cast<int>(value) : -1;
  }
  if (c < '0' || c > 'z')
    return -1;
  int value = cvtIn[c - '0'];
  return value < base ? value : -1;
}

bool validBase(int base) { return base == 0 || (base >= 2 && base <= 36); }

/* White space as the locale classifies it. Letters and digits are never
   white space in any locale, so the usual first character, a digit, needs
   no look at the locale's tables. */
const char *skipSpace(const char *s) {
  for (;; ++s) {
    const auto c = static_cast<unsigned char>(*s);
    if ((c >= '0' && c <= '9') || !std::isspace(c))
      return s;
  }
}

/* For each base: how many digits can never overflow 64 bits; how many a
   32-bit piece holds with base to their power still in 32 bits; and the
   overflow bounds, as value * base + digit overflows exactly when value
   passes cutoff, or equals it and the digit passes cutlim. */
struct BaseLimits {
  int safeDigits = 0;
  int pieceDigits = 0;
  unsigned long long cutoff = 0;
  unsigned cutlim = 0;
};

/* The largest n with base to the n-th at most bound. */
constexpr int powersUpTo(unsigned long long bound, unsigned base) {
  int n = 0;
  for (unsigned long long power = 1; power <= bound / base; power *= base)
    ++n;
  return n;
}

/* n digits never overflow while base to the n-th is at most 2^64, one
   more than 64-bit arithmetic shows where it is 2^64 exactly (bases 2, 4
   and 16): the largest such text is then 2^64 - 1. */
constexpr int safeDigits(unsigned base) {
  const int n = powersUpTo(~0ULL, base);
  unsigned long long power = 1;
  for (int i = 0; i < n; ++i)
    power *= base;
  const bool exact = ~0ULL % base == base - 1 && power == ~0ULL / base + 1;
  return exact ? n + 1 : n;
}

struct LimitTable {
  BaseLimits of[37];
  constexpr LimitTable() : of() {
    for (unsigned base = 2; base <= 36; ++base)
      of[base] = {safeDigits(base), powersUpTo(0xffffffffULL, base),
                  ~0ULL / base,
                  static_cast<unsigned>(~0ULL - ~0ULL / base * base)};
  }
};
constexpr LimitTable limits;
static_assert(limits.of[10].safeDigits == 19 && limits.of[10].pieceDigits == 9,
              "nineteen decimal digits, nine at a time");
static_assert(limits.of[16].safeDigits == 16 && limits.of[16].pieceDigits == 7,
              "sixteen hex digits, seven at a time");
static_assert(limits.of[2].safeDigits == 64 && limits.of[8].safeDigits == 21,
              "binary and octal");

/* Digits read on while value * base + digit fits 64 bits; on overflow
   errno is ERANGE, value keeps the wrapped result and the digit is left
   unread. */
const char *readOnChecked(const char *s, unsigned base,
                          unsigned long long &value) {
  const BaseLimits &limit = limits.of[base];
  for (int digit; (digit = digitOf(*s, static_cast<int>(base))) >= 0; ++s) {
    const auto d = static_cast<unsigned>(digit);
    const unsigned long long next = value * base + d;
    if (value > limit.cutoff || (value == limit.cutoff && d > limit.cutlim)) {
      errno = ERANGE;
      value = next; /* wrapped */
      return s;
    }
    value = next;
  }
  return s;
}

/* Up to most digits of base, in 32 bits. */
struct Piece {
  unsigned value;
  unsigned scale; /* base to the power of digits */
  int digits;
};

inline __attribute__((always_inline)) Piece readPiece(const char *s,
                                                      unsigned base, int most) {
  Piece piece = {0, 1, 0};
  for (int digit;
       piece.digits < most &&
       (digit = digitOf(s[piece.digits], static_cast<int>(base))) >= 0;
       ++piece.digits) {
    piece.value = piece.value * base + static_cast<unsigned>(digit);
    piece.scale *= base;
  }
  return piece;
}

/* The digits that can never overflow (nineteen in base 10, sixteen in
   base 16) are read in pieces that 32-bit arithmetic takes, joined by one
   multiply each; only digits beyond them need the overflow test. */
inline __attribute__((always_inline)) const char *
readDigits(const char *s, unsigned base, unsigned long long &value,
           bool &anyDigit) {
  const BaseLimits limit = limits.of[base];
  const char *at = s;
  unsigned long long sum = 0;
  for (int left = limit.safeDigits; left > 0;) {
    const int most = left < limit.pieceDigits ? left : limit.pieceDigits;
    const Piece piece = readPiece(at, base, most);
    sum = sum * piece.scale + piece.value;
    at += piece.digits;
    left -= piece.digits;
    if (piece.digits < most) { /* the digits ended */
      value = sum;
      anyDigit = anyDigit || at != s;
      return at;
    }
  }
  value = sum;
  anyDigit = true;
  return readOnChecked(at, base, value);
}

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
    s = readPrefix(skipSpace(s), base, anyDigit);
    /* Decimal, the usual base, with the base known to the compiler. */
    if (base == 10)
      s = readDigits(s, 10, value, anyDigit);
    else
      s = readDigits(s, static_cast<unsigned>(base), value, anyDigit);
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
