/* Misses on several threads after the multithreaded switch: each answer
   carries the selector its own thread asked for, however often the other
   threads miss meanwhile. The switch cannot be undone, so these cases
   live in a program of their own. */
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "test_classes.h"

namespace {

TEST(LookupMethodThreads, EachMissCarriesItsOwnThreadsSelector) {
  ZelObjC_SetMultithreaded();
  Class object = cls("NSObject");
  constexpr int threads = 4;
  constexpr int lookups = 200000;
  std::atomic<int> wrong{0};
  std::atomic<bool> go{false};
  std::vector<std::thread> workers;
  std::vector<Method> records(threads);
  for (int t = 0; t < threads; ++t)
    workers.emplace_back([&, t] {
      SEL mine = sel(("missingOnThread" + std::to_string(t)).c_str());
      while (!go)
        std::this_thread::yield();
      for (int i = 0; i < lookups; ++i) {
        Method record = ZelObjC_LookupMethod(object, mine);
        if (record->method_name != mine || record->method_types[0] != '\0')
          ++wrong;
        records[t] = record;
      }
    });
  go = true;
  for (std::thread &worker : workers)
    worker.join();
  EXPECT_EQ(wrong, 0);
  for (int t = 1; t < threads; ++t)
    EXPECT_NE(records[t], records[0]); /* one record per thread */
  Method here = ZelObjC_LookupMethod(object, sel("missingHere"));
  EXPECT_EQ(here->method_imp, objc_fn_cast<IMP>(_objc_msgForward));
}

} // namespace
