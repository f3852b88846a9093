/* Type encodings: measuring and walking the compiler's type letter code,
   with i386 sizes and alignments. Every walk stops at the terminating NUL
   and nesting is bounded, so malformed text is never read past its end. */
#include "encoding.h"

#include <cstring>

namespace {

using zel::ScalarType;

bool isQualifier(char c) {
  switch (c) {
  case 'r': case 'n': case 'N': case 'o': case 'O': case 'R': case 'V':
    return true;
  default:
    return false;
  }
}

const char *endOf(const char *t) { return t + std::strlen(t); }

/* Passes over one quoted member name; an unclosed one runs to the NUL. */
const char *skipName(const char *t) {
  if (*t != '"')
    return t;
  const char *close = std::strchr(t + 1, '"');
  return close ? close + 1 : endOf(t);
}

const char *skipQualifiers(const char *t) {
  for (t = skipName(t); isQualifier(*t); ++t) {
  }
  return t;
}

const ScalarType &scalarOf(char letter) {
  const ScalarType *row = zel::findScalar(letter);
  return row ? *row : zel::otherScalar;
}

/* Truncates to 32 bits the way the register arithmetic does. */
int wrap(long long value) {
  return static_cast<int>(static_cast<unsigned>(value));
}

/* v rounded up to a multiple of a; 0 stays 0, and an alignment of 0 (an
   empty union) adds no padding. */
int roundUp(int v, int a) {
  if (v == 0 || a <= 0)
    return v;
  long long wide = v;
  return wrap((wide + a - 1) / a * a);
}

/* Reads a bitfield run starting at its first 'b': answers the total width
   and leaves t after the digits of the run's last bitfield. Names and
   qualifiers may stand between two bitfields of a run. */
int bitfieldRun(const char *&t) {
  unsigned bits = 0;
  for (;;) {
    ++t;
    bits += static_cast<unsigned>(zel::readCount(t));
    const char *next = skipQualifiers(t);
    if (*next != 'b')
      return static_cast<int>(bits);
    t = next;
  }
}

int bitfieldRunSize(const char *t) {
  long long bits = bitfieldRun(t);
  return bits == 0 ? 0 : wrap((bits + 7) / 8);
}

/* Size and alignment of one type, found together: measuring them apart
   would walk every union again for each enclosing array. */
struct Layout {
  int size;
  int alignment;
};

/* A bitfield run aligns by its size in bytes: 1 to 1, 2 to 2, else 4. */
Layout bitfieldLayout(const char *t) {
  int size = bitfieldRunSize(t);
  return {size, size == 1 || size == 2 ? size : 4};
}

/* Where the members of a struct or union begin, as the measuring
   functions find it: after a name ending in '=', where the scan stops in
   front of the closer or a nested opener; else right after the opener. */
const char *membersOf(const char *opener, char closer) {
  for (const char *p = opener + 1;
       *p && *p != closer && *p != '{' && *p != '('; ++p)
    if (*p == '=')
      return p + 1;
  return opener + 1;
}

/* One walk over an encoding. The depth bound turns absurd nesting into a
   malformed type rather than a stack overflow; once hit, every further
   step answers at once (0, or the end of the text). */
class Walker {
public:
  Layout measure(const char *t);
  const char *skip(const char *t);
  bool tooDeep() const { return tooDeep_; }

private:
  class Level {
  public:
    explicit Level(Walker &walker) : walker_(walker), entered_(walker.enter())
    {}
    ~Level() {
      if (entered_)
        --walker_.depth_;
    }
    bool entered() const { return entered_; }

  private:
    Walker &walker_;
    bool entered_;
  };

  bool enter();
  Layout arrayLayout(const char *t);
  int structSize(const char *t);
  Layout unionLayout(const char *t);
  const char *skipAggregate(const char *t, char closer);
  const char *skipObject(const char *t);

  const char *textEnd(const char *t);

  int depth_ = 0;
  bool tooDeep_ = false;
  const char *end_ = nullptr; /* of the text walked, once needed */
};

bool Walker::enter() {
  if (tooDeep_ || depth_ >= zel::maxNesting) {
    tooDeep_ = true;
    return false;
  }
  ++depth_;
  return true;
}

/* Every step of one walk lies in the same text, so its end is found once. */
const char *Walker::textEnd(const char *t) {
  if (!end_)
    end_ = endOf(t);
  return end_;
}

Layout Walker::measure(const char *t) {
  Level level(*this);
  if (!level.entered())
    return {0, 0};
  t = skipQualifiers(t);
  switch (*t) {
  case '[': return arrayLayout(t + 1);
  /* No member aligns to more than 4, so every struct aligns to 4. */
  case '{': return {structSize(membersOf(t, '}')), 4};
  case '(': return unionLayout(membersOf(t, ')'));
  case 'b': return bitfieldLayout(t);
  default: {
    const ScalarType &scalar = scalarOf(*t);
    return {scalar.size, scalar.alignment};
  }
  }
}

/* t is after the '['; the closing ']' is never examined. */
Layout Walker::arrayLayout(const char *t) {
  long long count = zel::readCount(t);
  Layout element = measure(t);
  return {wrap(count * roundUp(element.size, element.alignment)),
          element.alignment};
}

/* The end of the last member, without padding after it. */
int Walker::structSize(const char *t) {
  int offset = 0;
  while (*t && *t != '}') {
    Layout member = measure(t);
    if (offset != 0)
      offset = roundUp(offset, member.alignment);
    offset = wrap(static_cast<long long>(offset) + member.size);
    t = skip(t);
  }
  return offset;
}

/* The largest size (signed) and alignment among the members; 0 and 0
   without members. */
Layout Walker::unionLayout(const char *t) {
  bool first = true;
  Layout largest = {0, 0};
  for (; *t && *t != ')'; t = skip(t)) {
    Layout member = measure(t);
    if (first || member.size > largest.size)
      largest.size = member.size;
    if (member.alignment > largest.alignment)
      largest.alignment = member.alignment;
    first = false;
  }
  return largest;
}

const char *Walker::skip(const char *t) {
  Level level(*this);
  if (!level.entered())
    return textEnd(t);
  t = skipQualifiers(t);
  switch (*t) {
  case '@': return skipObject(t + 1);
  case '[':
    ++t;
    zel::readCount(t);
    t = skip(t);
    return *t == ']' ? t + 1 : t;
  case '{': return skipAggregate(t, '}');
  case '(': return skipAggregate(t, ')');
  case '^': return skip(t + 1);
  case 'b':
    bitfieldRun(t);
    return t;
  case '\0': return t;
  default: return t + 1;
  }
}

/* The name part ends at a consumed '=' or in front of the closer; unlike
   the measuring scan it does not stop at a nested opener. */
const char *Walker::skipAggregate(const char *t, char closer) {
  const char *p = t + 1;
  while (*p && *p != closer)
    if (*p++ == '=')
      break;
  while (*p && *p != closer)
    p = skip(p);
  return *p ? p + 1 : p;
}

/* t is after an '@'. A quoted text belongs to this type only when it
   names a class the runtime knows; otherwise it is the next member's
   name and is left in place. */
const char *Walker::skipObject(const char *t) {
  if (*t != '"')
    return t;
  const char *close = std::strchr(t + 1, '"');
  if (!close)
    return t;
  auto length = static_cast<size_t>(close - (t + 1));
  if (length > 255)
    return t;
  char name[256];
  std::memcpy(name, t + 1, length);
  name[length] = '\0';
  return objc_lookUpClass(name) ? close + 1 : t;
}

/* A type nested beyond the bound measures as 0. */
Layout measureType(const char *type) {
  Walker walker;
  Layout layout = walker.measure(type);
  return walker.tooDeep() ? Layout{0, 0} : layout;
}

} // namespace

ZEL_EXPORT const char *objc_skip_type_qualifiers(const char *type) noexcept {
  return skipQualifiers(type);
}

ZEL_EXPORT int objc_sizeof_type(const char *type) noexcept {
  return measureType(type).size;
}

ZEL_EXPORT int objc_alignof_type(const char *type) noexcept {
  return measureType(type).alignment;
}

ZEL_EXPORT int objc_aligned_size(const char *type) noexcept {
  Layout layout = measureType(type);
  return roundUp(layout.size, layout.alignment);
}

/* Arrays are passed as pointers; everything else takes whole words. */
ZEL_EXPORT int objc_promoted_size(const char *type) noexcept {
  const char *body = skipQualifiers(type);
  if (*body == '[')
    return 4;
  return roundUp(measureType(body).size, 4);
}

ZEL_EXPORT const char *objc_skip_typespec(const char *type) noexcept {
  Walker walker;
  return walker.skip(type);
}

/* An offset may carry one leading '+'; a '-' is not part of it. */
ZEL_EXPORT const char *objc_skip_offset(const char *type) noexcept {
  if (*type == '+')
    ++type;
  while (*type >= '0' && *type <= '9')
    ++type;
  return type;
}

ZEL_EXPORT const char *objc_skip_argspec(const char *type) noexcept {
  return objc_skip_offset(objc_skip_typespec(type));
}
