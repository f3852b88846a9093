// Counts the allocations the process makes while counting is on: the
// program's own malloc, calloc and realloc stand in front of the C
// library's, so every library's calls come here first.
#ifndef ZEL_BENCH_COUNTING_H
#define ZEL_BENCH_COUNTING_H

namespace zel_bench {

void startCountingAllocations();
// Stops counting; answers the allocations made since the start.
unsigned long stopCountingAllocations();

} // namespace zel_bench

#endif
