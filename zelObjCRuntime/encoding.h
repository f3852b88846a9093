/* Type encodings: the scalar letters with their i386 layout and call kind,
   shared by the encoding and type modules and their tests. Internal. */
#ifndef ZELOBJCRUNTIME_ENCODING_H
#define ZELOBJCRUNTIME_ENCODING_H

#include <zelObjCRuntime/zelObjCRuntime.h>

/* A build that defines ZEL_WORK_COUNTER (the encoding fuzz target, which
   compiles the walks in) counts every byte the walks read, so that it can
   check the work stays in proportion to the text. */
#ifdef ZEL_WORK_COUNTER
namespace zel {
extern unsigned long long workDone;
}
#define ZEL_COUNT_WORK() (++zel::workDone)
#else
#define ZEL_COUNT_WORK() ((void)0)
#endif

namespace zel {

/* One scalar letter of the encoding grammar. */
struct ScalarType {
  char letter;
  int size;      /* bytes, as objc_sizeof_type measures it */
  int alignment; /* bytes, as objc_alignof_type measures it */
  int kind;      /* ApplyKind of a value of this type */
};

/* Every letter a value can be described by. No type aligns to more than
   4 on i386, not even the 8-byte ones. */
inline constexpr ScalarType scalarTypes[] = {
    {'c', 1, 1, APPLY_CHAR},     {'C', 1, 1, APPLY_UCHAR},
    {'s', 2, 2, APPLY_SHORT},    {'S', 2, 2, APPLY_USHORT},
    {'i', 4, 4, APPLY_INT},      {'I', 4, 4, APPLY_UINT},
    {'l', 4, 4, APPLY_LONG},     {'L', 4, 4, APPLY_ULONG},
    {'q', 8, 4, APPLY_LONGLONG}, {'Q', 8, 4, APPLY_ULONGLONG},
    {'f', 4, 4, APPLY_FLOAT},    {'d', 8, 4, APPLY_DOUBLE},
    {'v', 4, 4, APPLY_VOID},     {'*', 4, 4, APPLY_POINTER},
    {'@', 4, 4, APPLY_POINTER},  {'#', 4, 4, APPLY_POINTER},
    {':', 4, 4, APPLY_POINTER},  {'^', 4, 4, APPLY_POINTER},
    {'?', 4, 4, APPLY_POINTER},
};

/* Any other character (the NUL too) measures as a 4-byte word. */
inline constexpr ScalarType otherScalar = {'\0', 4, 4, -1};

/* The row of a letter, or null when the letter is not a scalar. */
constexpr const ScalarType *findScalar(char letter) {
  for (const ScalarType &row : scalarTypes)
    if (row.letter == letter)
      return &row;
  return nullptr;
}

/* Nesting deeper than this is malformed: it would only exhaust the
   stack. Measures of such a type are 0, skips end at its NUL, and it is
   compatible with nothing. The walks keep their levels in a fixed array,
   so the bound holds on a small thread stack too. */
inline constexpr int maxNesting = 1000;

/* Decimal digits at t as a count, wrapping like a 32-bit register;
   t is left after the digits. */
inline int readCount(const char *&t) {
  unsigned value = 0;
  for (; *t >= '0' && *t <= '9'; ++t)
    value = value * 10u + static_cast<unsigned>(*t - '0');
  return static_cast<int>(value);
}

/* What one walk over a type found. size and alignment are what the
   measuring functions answer (0 and 0 when too deep); end is where the
   type's text ends by the measuring reading of aggregate names. */
struct TypeWalk {
  int size = 0;
  int alignment = 0;
  const char *end = nullptr;
  bool tooDeep = false;   /* nested beyond maxNesting */
  bool overflow = false;  /* a count, width or size passed 32 bits */
  bool malformed = false; /* an aggregate or array without its closer */
};

/* Measures the type at type, reading nothing past the end that
   objc_skip_typespec gives for it: text after that end cannot change the
   result. One pass over that text and one over the type. */
TypeWalk measureType(const char *type);

/* One pass over the type at type, measuring as it goes, with depth levels
   already open around it: the end of a member in the compatibility walk. */
TypeWalk walkType(const char *type, int depth);

} // namespace zel

#endif
