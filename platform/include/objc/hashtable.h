/** @file
    The runtime's class table, walked with a two-word state. */
#ifndef OBJC_HASHTABLE_H
#define OBJC_HASHTABLE_H

#include <objc/objc-api.h>

typedef struct NXHashTable NXHashTable; /**< opaque */

/** Enumeration state, returned by value. */
typedef struct {
  int i; /**< the bucket reached */
  int j; /**< the element reached within it */
} NXHashState;

OBJC_BEGIN_DECLS

/** Starts an enumeration of the table. */
OBJC_EXPORT NXHashState NXInitHashState(NXHashTable *table) OBJC_NOEXCEPT;
/** Stores the next element in *data and answers 1; answers 0 when the table
   is exhausted. Each element is met once. */
OBJC_EXPORT int NXNextHashState(NXHashTable *table, NXHashState *state,
                                void **data) OBJC_NOEXCEPT;
/** Number of elements. */
OBJC_EXPORT unsigned NXCountHashTable(NXHashTable *table) OBJC_NOEXCEPT;

OBJC_END_DECLS

#endif
