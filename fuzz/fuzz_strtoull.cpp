// zelObjC_strtoull against a plain reference of the same rules, in every
// base: the value, the end position and ERANGE must agree.
#include <cctype>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include <zelObjCRuntime/zelObjCRuntime.h>

namespace {

struct Reading {
  unsigned long long value = 0;
  std::size_t end = 0;
  bool overflow = false;
};

int digitValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'z')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z')
    return c - 'A' + 10;
  return 99;
}

Reading reference(const std::string &text, int base) {
  Reading r;
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
    ++i;
  bool anyDigit = false;
  if (base == 0) {
    if (text[i] != '0') {
      base = 10;
    } else if (text[i + 1] == 'x') {
      base = 16;
      i += 2;
    } else {
      base = 8;
      anyDigit = true;
      ++i;
    }
  } else if (base == 16 && text[i] == '0' && text[i + 1] == 'x') {
    i += 2;
  }
  for (; i < text.size() && digitValue(text[i]) < base; ++i) {
    anyDigit = true;
    unsigned long long product;
    unsigned long long sum;
    const bool productOver =
        __builtin_mul_overflow(r.value, static_cast<unsigned>(base), &product);
    const bool sumOver = __builtin_add_overflow(
        product, static_cast<unsigned>(digitValue(text[i])), &sum);
    const bool over = productOver || sumOver;
    r.value = sum; // wrapped on overflow
    if (over) {
      r.overflow = true;
      break;
    }
  }
  r.end = anyDigit ? i : 0;
  return r;
}

} // namespace

// The first byte picks the base (0 or 2 to 36); the rest is the text.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data,
                                      std::size_t size) {
  if (size == 0)
    return 0;
  const int pick = data[0] % 36;
  const int base = pick == 0 ? 0 : pick + 1;
  std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
  text = text.substr(0, text.find('\0'));

  errno = 0;
  char *end = nullptr;
  const unsigned long long value = zelObjC_strtoull(text.c_str(), &end, base);
  const bool overflow = errno == ERANGE;
  const Reading expected = reference(text, base);
  if (value != expected.value || overflow != expected.overflow ||
      end != text.c_str() + expected.end)
    std::abort();
  if (zelObjC_strtoull(text.c_str(), nullptr, base) != value)
    std::abort();
  return 0;
}
