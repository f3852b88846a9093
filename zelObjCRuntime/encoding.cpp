/* Type encodings: measuring and walking the compiler's type letter code,
   with i386 sizes and alignments. Every walk stops at the terminating NUL,
   keeps its nesting levels in a fixed array instead of on the call stack,
   and reads each byte a bounded number of times: malformed text is never
   read past its end and costs time in proportion to its length. */
#include "encoding.h"

#include <climits>
#include <cstring>

namespace {

using zel::ScalarType;
using zel::TypeWalk;

bool isQualifier(char c) {
  switch (c) {
  case 'r':
  case 'n':
  case 'N':
  case 'o':
  case 'O':
  case 'R':
  case 'V':
    return true;
  default:
    return false;
  }
}

const ScalarType &scalarOf(char letter) {
  const ScalarType *row = zel::findScalar(letter);
  return row ? *row : zel::otherScalar;
}

/* Truncates to 32 bits the way the register arithmetic does. */
int wrap(long long value) {
  return static_cast<int>(static_cast<unsigned>(value));
}

struct Layout {
  int size;
  int alignment;
};

constexpr Layout wordLayout = {4, 4};

/* {================ Text up to a limit ================ */

/* Encoding text read up to a limit: from the limit on every byte reads as
   the NUL, so a walk bounded by one type's extent sees that type alone. */
class Text {
public:
  explicit Text(const char *limit) : limit_(limit) {}

  char at(const char *p) const {
    ZEL_COUNT_WORK();
    return limit_ && p >= limit_ ? '\0' : *p;
  }
  const char *limit() const { return limit_; }
  void setLimit(const char *limit) { limit_ = limit; }

  /* The NUL (or the limit) at or after t. */
  const char *end(const char *t) const {
    while (at(t))
      ++t;
    return t;
  }

  /* One quoted member name; an unclosed one runs to the end. */
  const char *skipName(const char *t) const {
    if (at(t) != '"')
      return t;
    const char *p = t + 1;
    while (at(p) && at(p) != '"')
      ++p;
    return at(p) ? p + 1 : p;
  }

  const char *skipQualifiers(const char *t) const {
    for (t = skipName(t); isQualifier(at(t)); ++t) {
    }
    return t;
  }

  /* Decimal digits, wrapping like a 32-bit register; overflow is set when
     the value did not fit. t is left after the digits. */
  unsigned readDigits(const char *&t, bool &overflow) const {
    unsigned long long value = 0;
    for (char c; (c = at(t)) >= '0' && c <= '9'; ++t) {
      value = value * 10u + static_cast<unsigned>(c - '0');
      if (value > UINT_MAX) {
        overflow = true;
        value &= UINT_MAX;
      }
    }
    return static_cast<unsigned>(value);
  }

  /* t is after an '@'. A quoted text belongs to this type only when it
     names a class the runtime knows; otherwise it is the next member's
     name and is left in place. Names past 255 bytes are never looked up,
     so no more than that is read to find the closing quote. */
  const char *skipObject(const char *t) const {
    if (at(t) != '"')
      return t;
    const char *name = t + 1;
    size_t length = 0;
    while (length <= 255 && at(name + length) && at(name + length) != '"')
      ++length;
    if (length > 255 || at(name + length) != '"')
      return t;
    char copy[256];
    std::memcpy(copy, name, length);
    copy[length] = '\0';
    return objc_lookUpClass(copy) ? name + length + 1 : t;
  }

  /* A bitfield run from its first 'b': the total width, accumulated in a
     signed 32-bit integer like the register arithmetic (overflow set when
     it did not fit), with t left after the digits of the run's last
     bitfield. A name and qualifiers may stand between two bitfields of a
     run. */
  int bitfieldRun(const char *&t, bool &overflow) const {
    long long bits = 0;
    for (;;) {
      ++t;
      bits += readDigits(t, overflow);
      const char *next = skipQualifiers(t);
      if (at(next) != 'b')
        break;
      t = next;
    }
    if (bits > INT_MAX)
      overflow = true;
    return wrap(bits);
  }

private:
  const char *limit_; /* null: the text runs to its NUL */
};

/* A bitfield run takes whole bytes and aligns by its size: 1 byte to 1,
   2 to 2, anything else to 4. */
Layout bitfieldLayout(int bits) {
  int size = bits == 0 ? 0 : wrap((static_cast<long long>(bits) + 7) / 8);
  return {size, size == 1 || size == 2 ? size : 4};
}

/* }================================================================ */

/* {================ The walk ================ */

/* How the name part of a struct or union is read. The skipping walk
   consumes up to a consumed '=' or the closer; the measuring one stops at
   a nested opener too, and then counts the text as members. */
enum class NameRule { skipping, measuring };

/* One open level of nesting: a pointer, an array, a struct or a union,
   with what has been measured of it so far. Small, as a walk keeps up to
   maxNesting of them. */
struct Level {
  char kind;     /* '^', '[', '{' or '(' */
  char closer;   /* of a struct or union */
  bool first;    /* a union that has no member yet */
  bool bounded;  /* a name without '=', walked as members up to the closer */
  int value;     /* array count; struct offset; union's largest size */
  int alignment; /* union's largest alignment */
  const char *savedLimit; /* restored when a bounded level closes */
};

/* One walk over one type. Levels live in a fixed array, so nesting up to
   the bound costs no call stack; each byte is read a bounded number of
   times (a quoted name at most twice: once looking ahead, once as a
   member's name). */
class Walker {
public:
  Walker(NameRule rule, const char *limit, int depth)
      : text_(limit), limit_(limit), rule_(rule), outerDepth_(depth) {}

  TypeWalk walk(const char *type);

private:
  enum class Step { begin, members, climb };

  Step beginType(const char *&p, Layout &layout);
  Step openAggregate(const char *&p, char closer);
  Step nextMember(const char *&p, Layout &layout);
  Step climb(const char *&p, Layout &layout);
  void closeAggregate(const char *&p, Layout &layout);

  void push(const Level &level) { levels_[depth_++] = level; }
  Level &top() { return levels_[depth_ - 1]; }

  int checked(long long value);
  int roundUp(int v, int a);

  Text text_;
  const char *limit_; /* of the whole walk; a name alone narrows text_ */
  NameRule rule_;
  int outerDepth_;
  int depth_ = 0;
  bool overflow_ = false;
  bool malformed_ = false;
  Level levels_[zel::maxNesting];
};

/* Like wrap, noting when the value did not fit in an int. */
int Walker::checked(long long value) {
  if (value > INT_MAX || value < INT_MIN)
    overflow_ = true;
  return wrap(value);
}

/* v rounded up to a multiple of a; 0 stays 0, and an alignment of 0 (an
   empty union) adds no padding. */
int Walker::roundUp(int v, int a) {
  if (v == 0 || a <= 0)
    return v;
  long long wide = v;
  return checked((wide + a - 1) / a * a);
}

TypeWalk Walker::walk(const char *type) {
  const char *p = type;
  Layout layout = wordLayout;
  Step step = Step::begin;
  for (;;) {
    switch (step) {
    case Step::begin:
      if (outerDepth_ + depth_ >= zel::maxNesting) {
        TypeWalk deep;
        deep.end = Text(limit_).end(type);
        deep.tooDeep = true;
        return deep;
      }
      step = beginType(p, layout);
      break;
    case Step::members:
      step = nextMember(p, layout);
      break;
    case Step::climb:
      if (depth_ == 0) {
        TypeWalk done;
        done.size = layout.size;
        done.alignment = layout.alignment;
        done.end = p;
        done.overflow = overflow_;
        done.malformed = malformed_;
        return done;
      }
      step = climb(p, layout);
      break;
    }
  }
}

/* Reads the start of the type at p: a scalar is done at once, anything
   nested opens a level. */
Walker::Step Walker::beginType(const char *&p, Layout &layout) {
  p = text_.skipQualifiers(p);
  char c = text_.at(p);
  switch (c) {
  case '^':
    push({'^', 0, false, false, 0, 0, nullptr});
    ++p;
    return Step::begin;
  case '[': {
    ++p;
    unsigned count = text_.readDigits(p, overflow_);
    if (count > INT_MAX)
      overflow_ = true;
    push({'[', 0, false, false, static_cast<int>(count), 0, nullptr});
    return Step::begin;
  }
  case '{':
    return openAggregate(p, '}');
  case '(':
    return openAggregate(p, ')');
  case 'b':
    layout = bitfieldLayout(text_.bitfieldRun(p, overflow_));
    return Step::climb;
  case '@':
    p = text_.skipObject(p + 1);
    layout = wordLayout;
    return Step::climb;
  case '\0':
    layout = wordLayout; /* the end itself measures as a word */
    return Step::climb;
  default: {
    const ScalarType &scalar = scalarOf(c);
    layout = {scalar.size, scalar.alignment};
    ++p;
    return Step::climb;
  }
  }
}

/* p is at the opener. Leaves p where the members begin. */
Walker::Step Walker::openAggregate(const char *&p, char closer) {
  Level level = {*p, closer, true, false, 0, 0, nullptr};
  const char *opener = p;
  p = opener + 1;
  if (rule_ == NameRule::skipping) {
    while (text_.at(p) && text_.at(p) != closer)
      if (text_.at(p++) == '=')
        break;
    push(level);
    return Step::members;
  }
  const char *q = opener + 1;
  for (char c; (c = text_.at(q)) && c != closer && c != '{' && c != '('; ++q)
    if (c == '=') {
      p = q + 1;
      push(level);
      return Step::members;
    }
  if (text_.at(q) == closer) {
    /* A name alone ({?}): its text is the member list, and nothing in it
       may reach past the closer. */
    level.bounded = true;
    level.savedLimit = text_.limit();
    text_.setLimit(q);
  }
  push(level);
  return Step::members;
}

/* At a member's start or at the end of the member list. */
Walker::Step Walker::nextMember(const char *&p, Layout &layout) {
  char c = text_.at(p);
  if (c != top().closer && c != '\0')
    return Step::begin;
  closeAggregate(p, layout);
  return Step::climb;
}

void Walker::closeAggregate(const char *&p, Layout &layout) {
  Level level = top();
  --depth_;
  if (level.bounded)
    text_.setLimit(level.savedLimit);
  if (text_.at(p) == level.closer)
    ++p;
  else
    malformed_ = true;
  if (level.kind == '{')
    layout = {level.value, 4}; /* no member aligns to more than 4 */
  else
    layout = {level.value, level.alignment};
}

/* Hands the type just finished to the level around it. */
Walker::Step Walker::climb(const char *&p, Layout &layout) {
  Level &level = top();
  switch (level.kind) {
  case '^':
    --depth_;
    layout = wordLayout;
    return Step::climb;
  case '[':
    layout = {checked(static_cast<long long>(level.value) *
                      roundUp(layout.size, layout.alignment)),
              layout.alignment};
    --depth_;
    if (text_.at(p) == ']')
      ++p;
    else
      malformed_ = true;
    return Step::climb;
  case '{': {
    /* The end of the last member, without padding after it. */
    int offset = level.value;
    if (offset != 0)
      offset = roundUp(offset, layout.alignment);
    level.value = checked(static_cast<long long>(offset) + layout.size);
    return Step::members;
  }
  default: /* a union: the largest size (signed) and alignment */
    if (level.first || layout.size > level.value)
      level.value = layout.size;
    if (layout.alignment > level.alignment)
      level.alignment = layout.alignment;
    level.first = false;
    return Step::members;
  }
}

/* }================================================================ */

/* Each walk in a frame of its own, so that no caller holds two walkers'
   levels on its stack at once (the walks may run on small thread
   stacks). */
__attribute__((noinline)) TypeWalk walkOnce(NameRule rule, const char *type,
                                            const char *limit, int depth) {
  Walker walker(rule, limit, depth);
  return walker.walk(type);
}

} // namespace

namespace zel {

TypeWalk walkType(const char *type, int depth) {
  return walkOnce(NameRule::measuring, type, nullptr, depth);
}

/* A scalar or a bitfield run reads no further than its skip; a pointer
   measures as a word without looking at what it points to. Anything else
   is measured within the extent its skip gives. */
TypeWalk measureType(const char *type) {
  Text text(nullptr);
  const char *body = text.skipQualifiers(type);
  TypeWalk result;
  char c = *body;
  if (c == 'b') {
    Layout layout = bitfieldLayout(text.bitfieldRun(body, result.overflow));
    result.size = layout.size;
    result.alignment = layout.alignment;
    return result;
  }
  if (c != '[' && c != '{' && c != '(') {
    const ScalarType &scalar = scalarOf(c);
    result.size = scalar.size;
    result.alignment = scalar.alignment;
    return result;
  }
  TypeWalk extent = walkOnce(NameRule::skipping, body, nullptr, 0);
  if (extent.tooDeep)
    return extent;
  result = walkOnce(NameRule::measuring, body, extent.end, 0);
  if (result.tooDeep)
    result.size = result.alignment = 0;
  return result;
}

} // namespace zel

ZEL_EXPORT const char *objc_skip_type_qualifiers(const char *type) noexcept {
  return Text(nullptr).skipQualifiers(type);
}

ZEL_EXPORT int objc_sizeof_type(const char *type) noexcept {
  return zel::measureType(type).size;
}

ZEL_EXPORT int objc_alignof_type(const char *type) noexcept {
  return zel::measureType(type).alignment;
}

ZEL_EXPORT int objc_aligned_size(const char *type) noexcept {
  TypeWalk layout = zel::measureType(type);
  if (layout.size == 0 || layout.alignment <= 0)
    return layout.size;
  return wrap((static_cast<long long>(layout.size) + layout.alignment - 1) /
              layout.alignment * layout.alignment);
}

/* Arrays are passed as pointers; everything else takes whole words. */
ZEL_EXPORT int objc_promoted_size(const char *type) noexcept {
  const char *body = Text(nullptr).skipQualifiers(type);
  if (*body == '[')
    return 4;
  int size = zel::measureType(type).size; /* qualifiers passed over once */
  if (size == 0)
    return 0;
  return wrap((static_cast<long long>(size) + 3) / 4 * 4);
}

ZEL_EXPORT const char *objc_skip_typespec(const char *type) noexcept {
  return walkOnce(NameRule::skipping, type, nullptr, 0).end;
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
