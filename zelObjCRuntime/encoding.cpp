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
  int sizeOf(const char *t);
  int alignOf(const char *t);
  int alignedSize(const char *t) { return roundUp(sizeOf(t), alignOf(t)); }
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
  int arraySize(const char *t);
  int structSize(const char *t);
  int unionSize(const char *t);
  int unionAlign(const char *t);
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

int Walker::sizeOf(const char *t) {
  Level level(*this);
  if (!level.entered())
    return 0;
  t = skipQualifiers(t);
  switch (*t) {
  case '[': return arraySize(t + 1);
  case '{': return structSize(membersOf(t, '}'));
  case '(': return unionSize(membersOf(t, ')'));
  case 'b': return bitfieldRunSize(t);
  default: return scalarOf(*t).size;
  }
}

/* t is after the '['; the closing ']' is never examined. */
int Walker::arraySize(const char *t) {
  long long count = zel::readCount(t);
  return wrap(count * alignedSize(t));
}

/* The end of the last member, without padding after it. */
int Walker::structSize(const char *t) {
  int offset = 0;
  while (*t && *t != '}') {
    if (offset != 0)
      offset = roundUp(offset, alignOf(t));
    offset = wrap(static_cast<long long>(offset) + sizeOf(t));
    t = skip(t);
  }
  return offset;
}

int Walker::unionSize(const char *t) {
  bool first = true;
  int largest = 0;
  for (; *t && *t != ')'; t = skip(t)) {
    int size = sizeOf(t);
    if (first || size > largest)
      largest = size;
    first = false;
  }
  return largest;
}

int Walker::alignOf(const char *t) {
  Level level(*this);
  if (!level.entered())
    return 0;
  t = skipQualifiers(t);
  switch (*t) {
  case '[':
    ++t;
    zel::readCount(t);
    return alignOf(t);
  case '{': return 4; /* no member aligns to more, so every struct is 4 */
  case '(': return unionAlign(membersOf(t, ')'));
  case 'b': {
    int size = bitfieldRunSize(t);
    return size == 1 || size == 2 ? size : 4;
  }
  default: return scalarOf(*t).alignment;
  }
}

int Walker::unionAlign(const char *t) {
  int largest = 0;
  for (; *t && *t != ')'; t = skip(t)) {
    int alignment = alignOf(t);
    if (alignment > largest)
      largest = alignment;
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

} // namespace

ZEL_EXPORT const char *objc_skip_type_qualifiers(const char *type) noexcept {
  return skipQualifiers(type);
}

ZEL_EXPORT int objc_sizeof_type(const char *type) noexcept {
  Walker walker;
  int size = walker.sizeOf(type);
  return walker.tooDeep() ? 0 : size;
}

ZEL_EXPORT int objc_alignof_type(const char *type) noexcept {
  Walker walker;
  int alignment = walker.alignOf(type);
  return walker.tooDeep() ? 0 : alignment;
}

ZEL_EXPORT int objc_aligned_size(const char *type) noexcept {
  Walker walker;
  int size = walker.alignedSize(type);
  return walker.tooDeep() ? 0 : size;
}

/* Arrays are passed as pointers; everything else takes whole words. */
ZEL_EXPORT int objc_promoted_size(const char *type) noexcept {
  const char *body = skipQualifiers(type);
  if (*body == '[')
    return 4;
  Walker walker;
  int size = roundUp(walker.sizeOf(body), 4);
  return walker.tooDeep() ? 0 : size;
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
