#include "platform/ordered_work.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

namespace {

struct Slot {
  int item = -1;
  int result = 0;
};

struct Case {
  unsigned helpers;
  size_t window;
  int items;
  int stopAfter;  // drain returns false on this item; -1: never
};

// Every item is worked on exactly once and drained in the order filled, and
// a drain that says stop ends the run at once, whatever the threads.
TEST(RunInOrderTest, DrainsInFillOrder) {
  const Case cases[] = {
      {0, 1, 50, -1},   {0, 4, 50, 10},    {1, 1, 50, -1}, {1, 3, 500, -1},
      {3, 8, 2000, -1}, {3, 8, 2000, 700}, {2, 0, 20, -1}, {4, 64, 0, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("helpers " + std::to_string(c.helpers) + " window " + std::to_string(c.window) +
                 " stop " + std::to_string(c.stopAfter));
    int next = 0;
    std::atomic<int> worked{0};
    std::vector<int> drained;
    runInOrder<Slot>(
        c.helpers, c.window,
        [&](Slot& slot) {
          if (next == c.items) return false;
          slot.item = next++;
          return true;
        },
        [&](Slot& slot, unsigned worker) {
          EXPECT_LE(worker, c.helpers);
          slot.result = slot.item * 3 + 1;
          worked.fetch_add(1);
        },
        [&](Slot& slot) {
          EXPECT_EQ(slot.result, slot.item * 3 + 1);
          drained.push_back(slot.item);
          return slot.item != c.stopAfter;
        });
    const int expected = c.stopAfter < 0 ? c.items : c.stopAfter + 1;
    ASSERT_EQ(static_cast<int>(drained.size()), expected);
    for (int i = 0; i < expected; ++i) EXPECT_EQ(drained[i], i);
    // Items filled ahead of a stop may have been worked on, never more than
    // a window's worth.
    EXPECT_GE(worked.load(), expected);
    EXPECT_LE(worked.load(), expected + static_cast<int>(c.window == 0 ? 1 : c.window));
    if (c.helpers == 0) {
      EXPECT_EQ(worked.load(), expected);
    }
  }
}

TEST(RunInOrderTest, UsableCoresIsAtLeastOne) {
  EXPECT_GE(usableCores(), 1u);
  EXPECT_EQ(helperThreads(), usableCores() - 1);
}

}  // namespace
