// Allocation counting by interposition: the executable defines malloc,
// calloc and realloc, which the dynamic linker binds ahead of the C
// library's for every module; each forwards to the C library's own entry.
#include "bench_counting.h"

#include <cstddef>

extern "C" {
void *__libc_malloc(std::size_t size);
void *__libc_calloc(std::size_t count, std::size_t size);
void *__libc_realloc(void *block, std::size_t size);
}

namespace {
bool counting = false;
unsigned long allocations = 0;

void noteAllocation() {
  if (counting)
    ++allocations;
}
} // namespace

extern "C" __attribute__((visibility("default"))) void *
malloc(std::size_t size) {
  noteAllocation();
  return __libc_malloc(size);
}

extern "C" __attribute__((visibility("default"))) void *
calloc(std::size_t count, std::size_t size) {
  noteAllocation();
  return __libc_calloc(count, size);
}

extern "C" __attribute__((visibility("default"))) void *
realloc(void *block, std::size_t size) {
  noteAllocation();
  return __libc_realloc(block, size);
}

namespace zel_bench {

void startCountingAllocations() {
  allocations = 0;
  counting = true;
}

unsigned long stopCountingAllocations() {
  counting = false;
  return allocations;
}

} // namespace zel_bench
