/* Call kinds of type encodings, and whether one method signature can
   stand where another is declared. */
#include "encoding.h"

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
  return std::strncmp(t, opaqueStructPointer, opaqueStructPointerLength) ==
         0;
}

/* After the '[' and its count: the element type. */
const char *elementOf(const char *array, int *count) {
  const char *t = array + 1;
  int n = zel::readCount(t);
  if (count)
    *count = n;
  return t;
}

/* Past a structure's name: up to and including '=', or up to a '}' that
   comes first. */
const char *structMembers(const char *t) {
  for (++t; *t && *t != '}'; )
    if (*t++ == '=')
      break;
  return t;
}

/* Past a union's name: through '=' when one stands before the ')' or a
   nested opener; else right after the '('. */
const char *unionMembers(const char *t) {
  for (const char *p = t + 1; *p && *p != ')' && *p != '{' && *p != '(';
       ++p)
    if (*p == '=')
      return p + 1;
  return t + 1;
}

int compatibleType(const char *offered, const char *declared, int depth);

/* Member lists compared pairwise; both must end at the closer together. */
int compatibleMembers(const char *offered, const char *declared,
                      char closer, int depth) {
  while (*offered && *offered != closer && *declared &&
         *declared != closer) {
    if (!compatibleType(offered, declared, depth))
      return 0;
    offered = objc_skip_typespec(offered);
    declared = objc_skip_typespec(declared);
  }
  return *offered == closer && *declared == closer;
}

int compatiblePointer(const char *offered, const char *declared,
                      int depth) {
  char o = *offered;
  if (o == '^' && compatibleType(offered + 1, declared + 1, depth))
    return 1;
  if (o == '*' && declared[1] == 'c')
    return 1;
  if (o == '?')
    return 1;
  return beginsWithOpaqueStructPointer(offered) &&
         beginsWithOpaqueStructPointer(declared);
}

int compatibleArray(const char *offered, const char *declared, int depth) {
  int declaredCount = 0;
  const char *element = elementOf(declared, &declaredCount);
  switch (*offered) {
  case '^': return compatibleType(offered + 1, element, depth);
  case '*': return *element == 'c';
  case '[': {
    int offeredCount = 0;
    const char *offeredElement = elementOf(offered, &offeredCount);
    return offeredCount == declaredCount &&
           compatibleType(offeredElement, element, depth);
  }
  default: return 0;
  }
}

int compatibleStruct(const char *offered, const char *declared, int depth) {
  if (*offered != '{')
    return *offered == '?' && declared[1] == '(';
  return compatibleMembers(structMembers(offered), structMembers(declared),
                           '}', depth);
}

int compatibleUnion(const char *offered, const char *declared, int depth) {
  if (*offered != '(')
    return 0;
  return compatibleMembers(unionMembers(offered), unionMembers(declared),
                           ')', depth);
}

/* 1 when a value of the offered type can stand where the declared one is
   expected. Not symmetric: the declared type's letter picks the rule.
   Nesting beyond the bound is compatible with nothing. */
int compatibleType(const char *offered, const char *declared, int depth) {
  if (++depth > zel::maxNesting)
    return 0;
  offered = objc_skip_type_qualifiers(offered);
  declared = objc_skip_type_qualifiers(declared);
  char o = *offered;
  char d = *declared;
  switch (d) {
  case '#': case ':': case '@': case 'd': case 'f': case 'v':
    return o == d;
  case 'b':
    return isUnsignedOrBitfield(o) && sameSize(offered, declared);
  case '*':
    return o == '*' || (o == '^' && offered[1] == 'c');
  case '^': return compatiblePointer(offered, declared, depth);
  case '?':
    return o == '?' || o == '^' || (o == '{' && offered[1] == '(');
  case '[': return compatibleArray(offered, declared, depth);
  case '{': return compatibleStruct(offered, declared, depth);
  case '(': return compatibleUnion(offered, declared, depth);
  default:
    if (isInteger(d))
      return o == d || (o == 'b' && sameSize(offered, declared));
    return 0;
  }
}

void setVal(ApplyVal *val, int kind, int size) {
  val->kind = kind;
  val->size = size;
}

/* An aggregate's storage takes its padded size: a callee returning
   {x=ic} writes all 8 bytes of it, not the 5 that end its last member.
   A size that wrapped below 0 is no size at all. */
int setAggregate(ApplyVal *val, const char *type) {
  int size = objc_aligned_size(type);
  if (size < 0 || objc_sizeof_type(type) < 0)
    return 0;
  setVal(val, APPLY_AGGREGATE, size);
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
    setVal(val, row->kind == APPLY_CHAR || row->kind == APPLY_SHORT
                    ? APPLY_INT : APPLY_UINT, 4);
  else
    setVal(val, row->kind, row->kind == APPLY_VOID ? 0 : row->size);
  return 1;
}

ZEL_EXPORT int zelObjC_CompatibleTypes(const char *offered,
                                       const char *declared) noexcept {
  while (*offered && *declared) {
    if (!compatibleType(offered, declared, 0))
      return 0;
    offered = objc_skip_argspec(offered);
    declared = objc_skip_argspec(declared);
  }
  return !*offered && !*declared;
}
