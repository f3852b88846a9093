/* Layout of ApplyVal and the call kinds, as plain numbers for apply.S.
   apply.cpp checks them against the exported header. Internal. */
#ifndef ZELOBJCRUNTIME_APPLY_H
#define ZELOBJCRUNTIME_APPLY_H

#define APPLYVAL_KIND 0 /* offset of kind */
#define APPLYVAL_SIZE 4 /* offset of size */
#define APPLYVAL_DATA 8 /* offset of data */
#define APPLYVAL_BYTES 12

#define APPLY_KIND_VOID 1
#define APPLY_KIND_CHAR 2
#define APPLY_KIND_SHORT 4
#define APPLY_KIND_LONGLONG 10
#define APPLY_KIND_FLOAT 12
#define APPLY_KIND_DOUBLE 13
#define APPLY_KIND_AGGREGATE 14 /* results through the hidden pointer */
#define APPLY_LAST_KIND 14      /* kinds run from 0 to this */

/* One bit per kind stored as a whole EAX: pointer, int, unsigned int,
   long and unsigned long. */
#define APPLY_WORD_KINDS 0x3c1

#endif
