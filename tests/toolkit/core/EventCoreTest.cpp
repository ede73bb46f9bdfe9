// The toolkit core's rules for timers, watches and posted calls, through the headless
// adapter on a manual clock: when timers are due and how they count on, which posted
// calls a round runs, and that nothing runs inside a notification or while a box is open.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/TickSource.h"
#include "toolkit/core/EventCore.h"
#include "toolkit/headless/HeadlessToolkit.h"

namespace tarnset {
namespace {

class EventCoreTest : public ::testing::Test {
 protected:
  ManualTickSource clock{1000};
  HeadlessToolkit kit{clock};
  std::vector<std::string> log;
};

TEST_F(EventCoreTest, TimersFireOncePerRoundInCreationOrderByTheClock) {
  auto slow = kit.createTimer();
  auto fast = kit.createTimer();
  slow->onTick = [&] { log.push_back("slow"); };
  fast->onTick = [&] { log.push_back("fast"); };
  slow->setInterval(100);
  fast->setInterval(50);
  fast->setEnabled(true);
  EXPECT_EQ(kit.runDueTimers(), 0);  // slow is disabled, fast not yet due
  slow->setEnabled(true);
  clock.advance(49);
  EXPECT_EQ(kit.runDueTimers(), 0);
  EXPECT_EQ(kit.msToNextTimer(), 1);
  clock.advance(151);  // both overdue: each fires once
  EXPECT_EQ(kit.runDueTimers(), 2);
  EXPECT_EQ(log, (std::vector<std::string>{"slow", "fast"}));
  EXPECT_EQ(kit.runDueTimers(), 0);  // counted again from now, being late

  fast->setInterval(0);  // no interval, no ticks
  clock.advance(100);
  EXPECT_EQ(kit.runDueTimers(), 1);
  EXPECT_THROW(fast->setInterval(-1), std::out_of_range);
}

TEST_F(EventCoreTest, ATickDueLateKeepsTheTimersRhythm) {
  auto timer = kit.createTimer();
  std::vector<std::int32_t> at;
  timer->onTick = [&] { at.push_back(clock.nowMs()); };
  timer->setInterval(50);
  timer->setEnabled(true);
  clock.advance(53);  // 3 ms late: the next one is still due at 1100
  kit.runDueTimers();
  EXPECT_EQ(kit.msToNextTimer(), 47);
  clock.advance(47);
  kit.runDueTimers();
  clock.advance(20);
  timer->setInterval(50);  // a new interval counts from now: due at 1170, not at 1150
  clock.advance(49);
  EXPECT_EQ(kit.runDueTimers(), 0);
  clock.advance(1);
  EXPECT_EQ(kit.runDueTimers(), 1);
  EXPECT_EQ(at, (std::vector<std::int32_t>{1053, 1100, 1170}));
}

TEST_F(EventCoreTest, TimersSurviveTheTickWrapAndTimersDestroyedByATick) {
  clock.set(2147483600);
  auto first = kit.createTimer();
  auto second = kit.createTimer();
  first->setInterval(50);
  second->setInterval(50);
  first->setEnabled(true);
  second->setEnabled(true);
  int secondTicks = 0;
  second->onTick = [&] { ++secondTicks; };
  first->onTick = [&] { second.reset(); };
  clock.advance(60);  // the count passes from its largest value to a negative one
  EXPECT_EQ(kit.runDueTimers(), 1);
  EXPECT_EQ(secondTicks, 0);
}

TEST_F(EventCoreTest, ARoundRunsWhatWasPostedBeforeItAndNothingInsideANotification) {
  auto win = kit.createMainWindow();
  tk::CommandButton& button = win->addButton(nullptr);
  button.onClick = [&] {
    kit.post([&] {
      log.push_back("a");
      kit.post([&] { log.push_back("c"); });
    });
    kit.post([&] { log.push_back("b"); });
    EXPECT_EQ(kit.runPosted(), 0) << "never inside the caller";
    log.push_back("clicked");
  };
  kit.click(button);
  EXPECT_EQ(kit.runPosted(), 2);
  EXPECT_EQ(log, (std::vector<std::string>{"clicked", "a", "b"})) << "c waits for the next round";
  EXPECT_EQ(kit.runPosted(), 1);
  EXPECT_EQ(log.back(), "c");
  EXPECT_EQ(kit.runPosted(), 0);
}

TEST_F(EventCoreTest, NothingRunsWhileABoxIsOpenAndAllOfItAfterwards) {
  auto timer = kit.createTimer();
  timer->onTick = [&] { log.push_back("tick"); };
  timer->setInterval(50);
  timer->setEnabled(true);
  kit.setMessageBoxHook([&](const HeadlessToolkit::Message&) {
    kit.post([&] { log.push_back("posted"); });
    clock.advance(100);
    EXPECT_EQ(kit.runDueTimers(), 0);
    EXPECT_EQ(kit.runPosted(), 0);
    EXPECT_EQ(kit.msToNextTimer(), 0) << "due, and held";
    EXPECT_TRUE(kit.modalActive());
  });
  kit.messageBox("Cannot access COM 1.", "Tarnset ADJ Rev.1.2", "");
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(kit.runDueTimers(), 1);
  EXPECT_EQ(kit.runPosted(), 1);
  EXPECT_EQ(log, (std::vector<std::string>{"tick", "posted"}));
}

TEST_F(EventCoreTest, DeviceNoticesRunAsOnePostedCall) {
  int notices = 0;
  kit.onDevicesChanged = [&] { ++notices; };
  kit.devicesChanged();
  kit.devicesChanged();
  EXPECT_EQ(notices, 0) << "not inside the system's notice";
  kit.runPosted();
  EXPECT_EQ(notices, 1);
  kit.devicesChanged();
  kit.runPosted();
  EXPECT_EQ(notices, 2);
}

}  // namespace
}  // namespace tarnset
