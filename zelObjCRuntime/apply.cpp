/* apply itself is machine code (apply.S); this pins the record layout and
   the kind codes that the assembly reads by number. */
#include <zelObjCRuntime/zelObjCRuntime.h>

#include <cstddef>

#include "apply.h"

static_assert(offsetof(ApplyVal, kind) == APPLYVAL_KIND, "kind");
static_assert(offsetof(ApplyVal, size) == APPLYVAL_SIZE, "size");
static_assert(offsetof(ApplyVal, data) == APPLYVAL_DATA, "data");
static_assert(sizeof(ApplyVal) == APPLYVAL_BYTES, "records lie end to end");
static_assert(APPLY_VOID == APPLY_KIND_VOID, "void kind");
static_assert(APPLY_CHAR == APPLY_KIND_CHAR && APPLY_UCHAR == 3, "byte kinds");
static_assert(APPLY_SHORT == APPLY_KIND_SHORT && APPLY_USHORT == 5,
              "half-word kinds");
static_assert(APPLY_LONGLONG == APPLY_KIND_LONGLONG && APPLY_ULONGLONG == 11,
              "double-word kinds");
static_assert(APPLY_FLOAT == APPLY_KIND_FLOAT, "float kind");
static_assert(APPLY_DOUBLE == APPLY_KIND_DOUBLE, "double kind");
static_assert(APPLY_AGGREGATE == APPLY_KIND_AGGREGATE, "aggregate kind");
static_assert(APPLY_AGGREGATE == APPLY_LAST_KIND, "aggregate is the last");
static_assert(APPLY_WORD_KINDS ==
                  (1 << APPLY_POINTER | 1 << APPLY_INT | 1 << APPLY_UINT |
                   1 << APPLY_LONG | 1 << APPLY_ULONG),
              "kinds stored as one word");
