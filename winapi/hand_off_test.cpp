#include "winapi/hand_off.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace {

// A producer fills slots with consecutive numbers; the consumer must see
// every number once, in order, and be done when Finish returns, whether it
// runs on a thread of its own or in the caller.
TEST(HandOffTest, ConsumesEverySlotInTheOrderSent) {
  for (const bool threaded : {false, true}) {
    std::array<std::vector<int>, 3> slots;
    std::vector<int> seen;
    auto hand_off = HandOff::Make(
        slots.size(),
        [&](size_t slot) {
          seen.insert(seen.end(), slots[slot].begin(), slots[slot].end());
          slots[slot].clear();
        },
        threaded);
    int next = 0;
    for (int batch = 0; batch < 500; ++batch) {
      const size_t slot = hand_off->Take();
      ASSERT_TRUE(slots[slot].empty());
      for (int count = 0; count < batch % 7; ++count) slots[slot].push_back(next++);
      hand_off->Send(slot);
    }
    hand_off->Finish();
    ASSERT_EQ(static_cast<size_t>(next), seen.size()) << "threaded: " << threaded;
    for (int at = 0; at < next; ++at) ASSERT_EQ(at, seen[at]);
  }
}

// A producer that stops early (a parse that failed) leaves the consumer to
// end with the hand-off, having consumed what was sent.
TEST(HandOffTest, EndsWithTheHandOffWithoutFinish) {
  int consumed = 0;
  {
    auto hand_off = HandOff::Make(2, [&](size_t) { ++consumed; }, true);
    hand_off->Send(hand_off->Take());
    (void)hand_off->Take();  // taken and never sent
  }
  EXPECT_EQ(1, consumed);
}

}  // namespace
