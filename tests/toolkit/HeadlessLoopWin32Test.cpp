// The headless event loop over event handles: a signalled event wakes it, a closed one
// is dropped and never spins the loop.
#include <gtest/gtest.h>
#include <windows.h>

#include "base/TickSource.h"
#include "toolkit/headless/HeadlessToolkit.h"

namespace tarnset {
namespace {

class HeadlessEventTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (event != nullptr) CloseHandle(event);
  }
  Waitable waitable() const { return reinterpret_cast<Waitable>(event); }

  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);  // manual reset, as a port's read event
  MonotonicTickSource clock;
  HeadlessToolkit kit{clock};
};

TEST_F(HeadlessEventTest, RunLoopWakesOnTimersAndSignalledEventsUntilQuit) {
  int wakes = 0;
  auto watch = kit.watch(waitable(), [&] {
    ResetEvent(event);
    if (++wakes == 2) kit.quit(3);
  });
  auto timer = kit.createTimer();
  timer->setInterval(5);
  timer->onTick = [&] { SetEvent(event); };
  timer->setEnabled(true);
  EXPECT_EQ(kit.runLoop(), 3);
  EXPECT_EQ(wakes, 2);
}

TEST_F(HeadlessEventTest, AQuietEventTimesOutAndAClosedOneIsDroppedForGood) {
  int calls = 0;
  auto watch = kit.watch(waitable(), [&] { ++calls; });
  EXPECT_EQ(kit.waitWatches(0), 0);
  SetEvent(event);
  EXPECT_EQ(kit.waitWatches(1000), 1);
  EXPECT_EQ(calls, 1);
  CloseHandle(event);
  event = nullptr;
  EXPECT_EQ(kit.waitWatches(0), 0);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(kit.runLoop(), -1) << "nothing is left that could wake the loop";
}

}  // namespace
}  // namespace tarnset
