// Class creation when memory runs out: every allocation ZelObjC_NewClass
// makes is checked, so a failing one answers Nil with nothing registered
// or kept, and the name stays free. Allocations fail on demand through
// malloc, calloc and realloc defined here, ahead of the C library's.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>

#include <zelObjCRuntime/zelObjCRuntime.h>

#include "support/allocation_counter.h"

#ifdef ZEL_COUNTS_ALLOCATIONS
namespace {
volatile int failAt = 0; /* the allocation to fail, counted from 1 */
volatile int seen = 0;

bool failNow() { return failAt > 0 && ++seen == failAt; }

/* Arms the countdown for one call. */
template <typename Call> auto withFailingAllocation(int which, Call call) {
  seen = 0;
  failAt = which;
  auto result = call();
  failAt = 0;
  return result;
}
} // namespace

extern "C" {
void *__libc_malloc(std::size_t size);
void *__libc_calloc(std::size_t count, std::size_t size);
void *__libc_realloc(void *block, std::size_t size);

__attribute__((visibility("default"))) void *malloc(std::size_t size) {
  return failNow() ? nullptr : __libc_malloc(size);
}

__attribute__((visibility("default"))) void *calloc(std::size_t count,
                                                    std::size_t size) {
  return failNow() ? nullptr : __libc_calloc(count, size);
}

__attribute__((visibility("default"))) void *realloc(void *block,
                                                     std::size_t size) {
  return failNow() ? nullptr : __libc_realloc(block, size);
}
}

namespace {

Class nsObject() { return reinterpret_cast<Class>(objc_getClass("NSObject")); }

/* Fails the first, the second... up to the last of the allocations that
   creation makes before it hands the class to the runtime, and then lets
   a creation through. */
void everyAllocationFailsInTurn(const std::string &name,
                                const char *description, int own) {
  for (int which = 1; which <= own; ++which) {
    Class made = withFailingAllocation(which, [&] {
      return ZelObjC_NewClass(name.c_str(), nsObject(), description);
    });
    EXPECT_EQ(made, Nil) << which;
    EXPECT_EQ(objc_lookUpClass(name.c_str()), nil) << which;
  }
  Class again = ZelObjC_NewClass(name.c_str(), nsObject(), description);
  ASSERT_NE(again, Nil);
  EXPECT_TRUE(ZelObjC_DestroyClass(again));
}

TEST(ClassAllocation, EveryFailingAllocationAnswersNil) {
  /* the list, three names, the block, two method lists */
  everyAllocationFailsInTurn("Starved", "{X=\"a\"i\"b\"c\"lo\"b3}", 7);
}

/* The last member ends at the description's end: checking whether it is
   cut short takes a copy, whose failure must not drop the member. */
TEST(ClassAllocation, ACopyThatFailsDropsNoMember) {
  /* a copy when counting, the list, a name, a copy, a name, the block and
     two method lists */
  everyAllocationFailsInTurn("StarvedCut", "{X=\"a\"i\"b\"i", 8);
}

} // namespace
#else
TEST(ClassAllocation, EveryFailingAllocationAnswersNil) {
  GTEST_SKIP() << "the address sanitizer owns the allocator";
}
#endif
