// Values for a type encoding, made from a fuzzer's input: mostly of the
// shape the type asks for, now and then a near miss. Never an address
// made up for an object or a C string.
#ifndef ZEL_FUZZ_VALUE_MAKER_H
#define ZEL_FUZZ_VALUE_MAKER_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fake_script.h"

namespace {

using zelbridge::ScriptValue;

// Reads the input as choices; past its end every choice is 0.
class Choices {
public:
  Choices(const std::uint8_t *data, std::size_t size)
      : data_(data), size_(size) {}
  unsigned next(unsigned range) {
    return pos_ < size_ ? data_[pos_++] % range : 0;
  }
  long long wide() {
    unsigned long long value = 0;
    for (int i = 0; i < 8; ++i)
      value = value << 8 | next(256);
    return static_cast<long long>(value);
  }

private:
  const std::uint8_t *data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// Members begin after a '=' met before the closer or a nested opener.
const char *membersOf(const char *body) {
  char closer = *body == '{' ? '}' : ')';
  for (const char *p = body + 1; *p; ++p) {
    if (*p == '=')
      return p + 1;
    if (*p == closer || *p == '{' || *p == '(')
      return nullptr;
  }
  return nullptr;
}

class Maker {
public:
  Maker(fake::Script &script, Choices &choices)
      : script_(script), choices_(choices) {}

  ScriptValue value(const char *type, int depth);

private:
  /* Values made at most: nested arrays would multiply their counts. */
  static constexpr int budget = 4096;
  int made_ = 0;

  ScriptValue scalar(char letter);
  ScriptValue aggregate(const char *body, int depth);
  ScriptValue array(const char *body, int depth);

  fake::Script &script_;
  Choices &choices_;
};

ScriptValue Maker::scalar(char letter) {
  switch (letter) {
  case 'q':
  case 'Q':
    return script_.text(std::to_string(choices_.wide()));
  case 'f':
  case 'd': {
    long long bits = choices_.wide();
    double real = 0;
    std::memcpy(&real, &bits, sizeof real);
    return script_.real(real);
  }
  case '*':
  case '@':
  case '#':
    return script_.newNil(); // never a made-up address
  case ':':
    return script_.text("selector" + std::to_string(choices_.next(4)));
  case '^':
  case '?':
    return choices_.next(2)
               ? script_.newNil()
               : script_.text("0x0000" + std::to_string(choices_.next(10)));
  default: {
    long long n = choices_.wide();
    if (choices_.next(2))
      n %= 300;
    return script_.integer(n);
  }
  }
}

ScriptValue Maker::aggregate(const char *body, int depth) {
  const char *member = membersOf(body);
  if (!member)
    return script_.list({});
  if (*body == '(')
    return value(member, depth + 1);
  std::vector<ScriptValue> items;
  while (*member && *member != '}' && items.size() < 64) {
    items.push_back(value(member, depth + 1));
    member = objc_skip_typespec(member);
  }
  return script_.list(items);
}

ScriptValue Maker::array(const char *body, int depth) {
  const char *element = body + 1;
  long long count = 0;
  while (*element >= '0' && *element <= '9' && count < 1000)
    count = count * 10 + (*element++ - '0');
  while (*element >= '0' && *element <= '9')
    ++element;
  if (count > 256)
    count = choices_.next(4);
  std::vector<ScriptValue> items;
  for (long long i = 0; i < count; ++i)
    items.push_back(value(element, depth + 1));
  return script_.list(items);
}

ScriptValue Maker::value(const char *type, int depth) {
  if (++made_ > budget || depth > 24 || choices_.next(32) == 0) // near miss
    return choices_.next(2) ? script_.integer(1) : script_.list({});
  const char *body = objc_skip_type_qualifiers(type);
  switch (*body) {
  case '{':
  case '(':
    return aggregate(body, depth);
  case '[':
    return array(body, depth);
  default:
    return scalar(*body);
  }
}

} // namespace

#endif
