#include <gtest/gtest.h>

#include <limits>

#include "base/clsCmcTick.h"

namespace tarnset {
namespace {

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();

TEST(clsCmcTick, NeverStartedOrNonPositiveDurationsReadZero) {
  ManualTickSource clock(777);
  clsCmcTick tick(clock);
  EXPECT_EQ(tick.counter(), 0);
  tick.setCounter(0);
  EXPECT_EQ(tick.counter(), 0);
  tick.setCounter(-5);
  EXPECT_EQ(tick.counter(), 0);
  clock.advance(1);
  EXPECT_EQ(tick.counter(), 0);  // the first read stopped it
}

TEST(clsCmcTick, CountsDownToExactExpiryAndStaysExpiredUntilRestarted) {
  ManualTickSource clock(5000);
  clsCmcTick tick(clock);
  tick.setCounter(300);
  EXPECT_EQ(tick.counter(), 300);
  clock.advance(299);
  EXPECT_EQ(tick.counter(), 1);
  clock.advance(1);
  EXPECT_EQ(tick.counter(), 0);
  clock.set(5100);  // a clock back inside the window does not revive it
  EXPECT_EQ(tick.counter(), 0);
  tick.setCounter(100);
  clock.advance(80);
  tick.setCounter(100);  // restarting starts afresh
  clock.advance(80);
  EXPECT_EQ(tick.counter(), 20);
}

TEST(clsCmcTick, SignedWrapCountsOnButOtherBackwardSteps) {
  // Started 647 ms before the wrap with 5000 ms, read 1648 ms after it: 2295 ms elapsed.
  ManualTickSource clock(kMax - 647);
  clsCmcTick tick(clock);
  tick.setCounter(5000);
  clock.set(kMin + 1648);
  EXPECT_EQ(tick.counter(), 5000 - 2295);
  clock.advance(2704);
  EXPECT_EQ(tick.counter(), 1);

  // Any other step back is expiry: a small one, and negative values from a start below 2^30.
  for (const auto& [start, later] : {std::pair{10000, 9999}, {-100, -200}, {1073741823, kMin + 10}}) {
    clock.set(start);
    tick.setCounter(5000);
    clock.set(later);
    EXPECT_EQ(tick.counter(), 0) << start << " -> " << later;
  }
  // So is a gap of 2^31 ms or more, which cannot be told from a step back.
  clock.set(-1073741824);
  tick.setCounter(kMax);
  clock.set(1073741822);
  EXPECT_GT(tick.counter(), 0);
  clock.set(1073741824);
  EXPECT_EQ(tick.counter(), 0);
}

}  // namespace
}  // namespace tarnset
