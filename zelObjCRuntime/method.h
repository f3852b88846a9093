/* Layout of the runtime's class, cache and method records, as plain
   numbers for method.S. method.cpp checks them against the runtime's
   header. Internal. */
#ifndef ZELOBJCRUNTIME_METHOD_H
#define ZELOBJCRUNTIME_METHOD_H

#define CLASS_CACHE 32  /* offset of a class's cache */
#define CACHE_MASK 0    /* offset of a cache's mask */
#define CACHE_BUCKETS 8 /* offset of a cache's first bucket */
#define METHOD_NAME 0   /* offset of a method record's selector */

#endif
