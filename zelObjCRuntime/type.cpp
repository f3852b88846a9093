/* Call kinds of type encodings, and whether one method signature can
   stand where another is declared. */
#include "encoding.h"

#include <climits>
#include <cstring>

namespace {

/* Pointers to structures that begin like this are interchangeable. */
constexpr char opaqueStructPointer[] = "^{?=i*i^{?}(";
constexpr size_t opaqueStructPointerLength = sizeof opaqueStructPointer - 1;
static_assert(opaqueStructPointerLength == 12, "prefix length");

bool isInteger(char c) { return c && std::strchr("cCsSiIlLqQ", c); }

bool isUnsignedOrBitfield(char c) { return c && std::strchr("bCSIL", c); }

bool sameSize(const char *a, const char *b) {
  return objc_sizeof_type(a) == objc_sizeof_type(b);
}

bool beginsWithOpaqueStructPointer(const char *t) {
  return std::strncmp(t, opaqueStructPointer, opaqueStructPointerLength) == 0;
}

/* After the '[' and its count: the element type. */
const char *elementOf(const char *array, int *count) {
  const char *t = array + 1;
  *count = zel::readCount(t);
  return t;
}

/* Past a structure's name: up to and including '=', or up to a '}' that
   comes first (a name alone has no members). A nested opener before
   either begins the members, as the measuring walk reads it, so that a
   structure's members end where its measured text ends. */
const char *structMembers(const char *t) {
  const char *p = t + 1;
  for (; *p && *p != '}'; ++p) {
    if (*p == '=')
      return p + 1;
    if (*p == '{' || *p == '(')
      return t + 1;
  }
  return p;
}

/* A structure given by its name alone ("{name}", not "{}" or "{x=}"). */
bool nameAlone(const char *opener, const char *members) {
  return *members == '}' && members > opener + 1 && members[-1] != '=';
}

/* Past a union's name: through '=' when one stands before the ')' or a
   nested opener; else right after the '('. */
const char *unionMembers(const char *t) {
  for (const char *p = t + 1; *p && *p != ')' && *p != '{' && *p != '('; ++p)
    if (*p == '=')
      return p + 1;
  return t + 1;
}

/* One type against another, walked over both texts at once: nested
   pointers, arrays and member lists open levels in a fixed array, and
   where a rule decides without looking inside, each type's end comes from
   one measuring walk. So every byte is read a bounded number of times and
   deep nesting needs no call stack. */
class Comparison {
public:
  /* 1, with offered and declared moved to the ends of their types, when a
     value of the offered type can stand where the declared one is
     expected; else 0. Not symmetric: the declared type's letter picks the
     rule. Nesting beyond the bound is compatible with nothing. */
  int compare(const char *&offered, const char *&declared);

private:
  enum class Step { begin, members, climb, fail };

  /* '^' two pointers, 'p' a pointer for an array, '[' two arrays, '{' or
     '(' two member lists. */
  struct Level {
    char kind;
    char closer;
  };

  Step begin(const char *&o, const char *&d);
  Step decide(bool compatible, const char *&o, const char *&d);
  Step open(char kind, char closer) {
    levels_[depth_++] = {kind, closer};
    return kind == '{' || kind == '(' ? Step::members : Step::begin;
  }
  Step members(const char *&o, const char *&d);
  Step climb(const char *&o, const char *&d);

  Level levels_[zel::maxNesting];
  int depth_ = 0;
};

int Comparison::compare(const char *&offered, const char *&declared) {
  Step step = Step::begin;
  for (;;) {
    ZEL_COUNT_WORK();
    switch (step) {
    case Step::begin:
      step = begin(offered, declared);
      break;
    case Step::members:
      step = members(offered, declared);
      break;
    case Step::climb:
      if (depth_ == 0)
        return 1;
      step = climb(offered, declared);
      break;
    case Step::fail:
      return 0;
    }
  }
}

/* A rule that decided without looking inside: both types end where one
   measuring walk of each says. */
Comparison::Step Comparison::decide(bool compatible, const char *&o,
                                    const char *&d) {
  if (!compatible)
    return Step::fail;
  zel::TypeWalk offered = zel::walkType(o, depth_);
  zel::TypeWalk declared = zel::walkType(d, depth_);
  if (offered.tooDeep || declared.tooDeep)
    return Step::fail;
  o = offered.end;
  d = declared.end;
  return Step::climb;
}

Comparison::Step Comparison::begin(const char *&o, const char *&d) {
  if (depth_ >= zel::maxNesting)
    return Step::fail;
  o = objc_skip_type_qualifiers(o);
  d = objc_skip_type_qualifiers(d);
  char oc = *o;
  char dc = *d;
  switch (dc) {
  case '#':
  case ':':
  case '@':
  case 'd':
  case 'f':
  case 'v':
    return decide(oc == dc, o, d);
  case 'b':
    return decide(isUnsignedOrBitfield(oc) && sameSize(o, d), o, d);
  case '*':
    return decide(oc == '*' || (oc == '^' && o[1] == 'c'), o, d);
  case '^':
    /* Compatible pointees or the shared prefix; the prefix needs no walk
       inside, so it is tried first. */
    if (beginsWithOpaqueStructPointer(o) && beginsWithOpaqueStructPointer(d))
      return decide(true, o, d);
    if (oc == '^') {
      ++o;
      ++d;
      return open('^', 0);
    }
    return decide((oc == '*' && d[1] == 'c') || oc == '?', o, d);
  case '?':
    return decide(oc == '?' || oc == '^' || (oc == '{' && o[1] == '('), o, d);
  case '[': {
    int declaredCount = 0;
    const char *element = elementOf(d, &declaredCount);
    if (oc == '^') {
      ++o;
      d = element;
      return open('p', 0);
    }
    if (oc == '*')
      return decide(*element == 'c', o, d);
    if (oc != '[')
      return Step::fail;
    int offeredCount = 0;
    const char *offeredElement = elementOf(o, &offeredCount);
    if (offeredCount != declaredCount)
      return Step::fail;
    o = offeredElement;
    d = element;
    return open('[', 0);
  }
  case '{': {
    if (oc != '{')
      return decide(oc == '?' && d[1] == '(', o, d);
    const char *offeredMembers = structMembers(o);
    const char *declaredMembers = structMembers(d);
    /* The measuring walk reads a name alone as members one level further
       in: past the bound there, the type measures as too deep. */
    if (depth_ + 1 >= zel::maxNesting &&
        (nameAlone(o, offeredMembers) || nameAlone(d, declaredMembers)))
      return Step::fail;
    o = offeredMembers;
    d = declaredMembers;
    return open('{', '}');
  }
  case '(':
    if (oc != '(')
      return Step::fail;
    o = unionMembers(o);
    d = unionMembers(d);
    return open('(', ')');
  default:
    if (isInteger(dc))
      return decide(oc == dc || (oc == 'b' && sameSize(o, d)), o, d);
    return Step::fail;
  }
}

/* Member lists compared pairwise; both must end at the closer together. */
Comparison::Step Comparison::members(const char *&o, const char *&d) {
  char closer = levels_[depth_ - 1].closer;
  bool offeredEnds = !*o || *o == closer;
  bool declaredEnds = !*d || *d == closer;
  if (!offeredEnds && !declaredEnds)
    return Step::begin;
  if (*o != closer || *d != closer)
    return Step::fail;
  ++o;
  ++d;
  --depth_;
  return Step::climb;
}

Comparison::Step Comparison::climb(const char *&o, const char *&d) {
  Level level = levels_[depth_ - 1];
  if (level.kind == '{' || level.kind == '(')
    return Step::members;
  --depth_;
  if (level.kind == '[' && *o == ']')
    ++o;
  if (level.kind != '^' && *d == ']')
    ++d;
  return Step::climb;
}

void setVal(ApplyVal *val, int kind, int size) {
  val->kind = kind;
  val->size = size;
}

/* An aggregate's storage takes its padded size: a callee returning
   {x=ic} writes all 8 bytes of it, not the 5 that end its last member.
   A type that cannot be measured (nested too deep, cut short, or with a
   size past 32 bits) has no storage size at all: a caller would allocate
   too little for what the callee writes. */
int setAggregate(ApplyVal *val, const char *type) {
  zel::TypeWalk layout = zel::measureType(type);
  if (layout.tooDeep || layout.overflow || layout.malformed || layout.size < 0)
    return 0;
  long long size = layout.size;
  if (size != 0 && layout.alignment > 0)
    size = (size + layout.alignment - 1) / layout.alignment * layout.alignment;
  if (size > INT_MAX)
    return 0;
  setVal(val, APPLY_AGGREGATE, static_cast<int>(size));
  return 1;
}

} // namespace

ZEL_EXPORT int zelObjC_TypeToApplyVal(const char *type, int flags,
                                      ApplyVal *val) noexcept {
  const char *body = objc_skip_type_qualifiers(type);
  char letter = *body;
  if (letter == '[' && (flags & APPLY_ARRAY_AS_POINTER)) {
    setVal(val, APPLY_POINTER, 4);
    return 1;
  }
  if (letter == '[' || letter == '{' || letter == '(')
    return setAggregate(val, body);
  const zel::ScalarType *row = zel::findScalar(letter);
  if (!row)
    return 0;
  if ((flags & APPLY_PROMOTE) && row->size < 4)
    setVal(val,
           row->kind == APPLY_CHAR || row->kind == APPLY_SHORT ? APPLY_INT
                                                               : APPLY_UINT,
           4);
  else
    setVal(val, row->kind, row->kind == APPLY_VOID ? 0 : row->size);
  return 1;
}

/* A null encoding (a protocol's method without types) is compatible with
   nothing and never read. */
ZEL_EXPORT int zelObjC_CompatibleTypes(const char *offered,
                                       const char *declared) noexcept {
  if (!offered || !declared)
    return 0;
  while (*offered && *declared) {
    Comparison comparison;
    if (!comparison.compare(offered, declared))
      return 0;
    offered = objc_skip_offset(offered);
    declared = objc_skip_offset(declared);
  }
  return !*offered && !*declared;
}
