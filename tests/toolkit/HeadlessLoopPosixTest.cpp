// The headless event loop over descriptors: a pipe's data and its hang-up wake it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "base/TickSource.h"
#include "toolkit/headless/HeadlessToolkit.h"

namespace tarnset {
namespace {

class HeadlessPipeTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(::pipe(fds), 0); }
  void TearDown() override {
    for (int fd : fds) {
      if (fd >= 0) ::close(fd);
    }
  }
  int fds[2] = {-1, -1};
  MonotonicTickSource clock;
  HeadlessToolkit kit{clock};
};

TEST_F(HeadlessPipeTest, RunLoopWakesOnTimersAndDataUntilQuit) {
  std::string received;
  auto watch = kit.watch(fds[0], [&] {
    char c = 0;
    if (::read(fds[0], &c, 1) == 1) received += c;
    if (received.size() == 2) kit.quit(3);
  });
  auto timer = kit.createTimer();
  timer->setInterval(5);
  timer->onTick = [&] { ASSERT_EQ(::write(fds[1], "t", 1), 1); };
  timer->setEnabled(true);
  EXPECT_EQ(kit.runLoop(), 3);
  EXPECT_EQ(received, "tt");
}

TEST_F(HeadlessPipeTest, PollReportsHangUpAndTheLoopEndsWhenNothingCanWakeIt) {
  int calls = 0;
  auto watch = kit.watch(fds[0], [&] { ++calls; });
  EXPECT_EQ(kit.waitWatches(0), 0);
  ::close(fds[1]);
  fds[1] = -1;
  EXPECT_EQ(kit.waitWatches(1000), 1);  // the writer is gone
  EXPECT_EQ(calls, 1);
  watch.reset();
  EXPECT_EQ(kit.runLoop(), -1);
  kit.quit(5);
  EXPECT_EQ(kit.runLoop(), 5);  // quit before the loop: it returns at once
}

}  // namespace
}  // namespace tarnset
