/* Layout of ApplyVal and the call kinds, as plain numbers for apply.S.
   apply.cpp checks them against the exported header. Internal. */
#ifndef ZELOBJCRUNTIME_APPLY_H
#define ZELOBJCRUNTIME_APPLY_H

#define APPLYVAL_KIND 0  /* offset of kind */
#define APPLYVAL_SIZE 4  /* offset of size */
#define APPLYVAL_DATA 8  /* offset of data */
#define APPLYVAL_BYTES 12

#define APPLY_LAST_KIND 14      /* kinds run from 0 to this */
#define APPLY_KIND_AGGREGATE 14 /* results through the hidden pointer */
#define APPLY_ENTRY_BYTES 16    /* one result-store entry per kind */

#endif
