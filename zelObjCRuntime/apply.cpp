/* apply itself is machine code (apply.S); this pins the record layout and
   the kind codes that the assembly reads by number. */
#include <zelObjCRuntime/zelObjCRuntime.h>

#include <cstddef>

#include "apply.h"

static_assert(offsetof(ApplyVal, kind) == APPLYVAL_KIND, "kind");
static_assert(offsetof(ApplyVal, size) == APPLYVAL_SIZE, "size");
static_assert(offsetof(ApplyVal, data) == APPLYVAL_DATA, "data");
static_assert(sizeof(ApplyVal) == APPLYVAL_BYTES, "records lie end to end");
static_assert(APPLY_AGGREGATE == APPLY_KIND_AGGREGATE, "aggregate kind");
static_assert(APPLY_AGGREGATE == APPLY_LAST_KIND, "aggregate is the last");
