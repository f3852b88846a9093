// Counts the heap allocations a program makes while counting is on. The
// program that links allocation_counter.cpp defines malloc, calloc and
// realloc, which the dynamic linker binds ahead of the C library's for every
// module, the libraries included. Under AddressSanitizer, which owns the
// allocator, nothing is counted and ZEL_COUNTS_ALLOCATIONS stays undefined.
#ifndef ZEL_TESTS_ALLOCATION_COUNTER_H
#define ZEL_TESTS_ALLOCATION_COUNTER_H

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZEL_ALLOCATOR_OWNED_BY_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define ZEL_ALLOCATOR_OWNED_BY_SANITIZER 1
#endif
#ifndef ZEL_ALLOCATOR_OWNED_BY_SANITIZER
#define ZEL_COUNTS_ALLOCATIONS 1
#endif

#include <cstddef>

void startCountingAllocations();
// Stops counting; answers the allocations made since the start.
unsigned long stopCountingAllocations();
// The most bytes one allocation asked for between the last start and stop.
std::size_t largestAllocationCounted();

#endif
