// Allocation counting by interposition: each entry forwards to the C
// library's own.
#include "allocation_counter.h"

#include <cstddef>

namespace {
volatile bool counting = false;
volatile unsigned long allocations = 0;
volatile std::size_t largest = 0;
} // namespace

void startCountingAllocations() {
  allocations = 0;
  largest = 0;
  counting = true;
}

unsigned long stopCountingAllocations() {
  counting = false;
  return allocations;
}

std::size_t largestAllocationCounted() { return largest; }

#ifdef ZEL_COUNTS_ALLOCATIONS
namespace {
void noteAllocation(std::size_t size) {
  if (!counting)
    return;
  allocations = allocations + 1;
  if (size > largest)
    largest = size;
}
} // namespace

extern "C" {
void *__libc_malloc(std::size_t size);
void *__libc_calloc(std::size_t count, std::size_t size);
void *__libc_realloc(void *block, std::size_t size);

__attribute__((visibility("default"))) void *malloc(std::size_t size) {
  noteAllocation(size);
  return __libc_malloc(size);
}

__attribute__((visibility("default"))) void *calloc(std::size_t count,
                                                    std::size_t size) {
  noteAllocation(count * size);
  return __libc_calloc(count, size);
}

__attribute__((visibility("default"))) void *realloc(void *block,
                                                     std::size_t size) {
  noteAllocation(size);
  return __libc_realloc(block, size);
}
}
#endif
