// The system's instrument links: the worker behind blocking device calls (on every system).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "StepLink.h"
#include "platform/EventWait.h"
#include "platform/WorkerTransport.h"

namespace tarnset {
namespace {

using namespace std::chrono_literals;
using Status = InstrumentTransport::Status;
using testing::stepUntil;

// A device that answers a query with "<query> done", takes long over "SLOW?", refuses a
// write of "BREAK", and whose open fails when told to.
class FakeDevice final : public BlockingDevice {
 public:
  struct Shared {
    std::atomic<bool> refuseOpen{false};
    std::atomic<int> opened{0};
    std::atomic<int> closed{0};
    std::atomic<int> lastTimeoutMs{0};
  };
  explicit FakeDevice(Shared& s) : s_(s) {}
  bool open(std::string& why) override {
    if (s_.refuseOpen) {
      why = "no such instrument";
      return false;
    }
    ++s_.opened;
    return true;
  }
  bool write(const std::string& message, std::string& why) override {
    if (message == "BREAK\n") {
      why = "the device went away";
      return false;
    }
    last_ = message;
    return true;
  }
  ReadResult read(std::int32_t timeoutMs, std::string& answer, std::string&) override {
    s_.lastTimeoutMs = timeoutMs;
    if (last_ == "SLOW?\n") {
      std::this_thread::sleep_for(300ms);
      return ReadResult::TimedOut;
    }
    answer = last_.substr(0, last_.size() - 1) + " done\n";
    return ReadResult::Answer;
  }
  void close() override { ++s_.closed; }

 private:
  Shared& s_;
  std::string last_;
};

TEST(WorkerTransport, AnswersToQueriesComeThroughTheWaitable) {
  FakeDevice::Shared s;
  WorkerTransport t([&s] { return std::make_unique<FakeDevice>(s); });
  EXPECT_EQ(t.status(), Status::Closed);
  ASSERT_TRUE(t.open(750));
  ASSERT_TRUE(stepUntil(t, [&] { return t.status() == Status::Open; }));
  ASSERT_TRUE(t.writeLine("FREQ 1"));  // no answer read after a setting
  ASSERT_TRUE(t.writeLine("MEAS:POW?"));
  // The answer makes the waitable ready, and it stays so until the task has seen it.
  std::vector<WaitState> states;
  ASSERT_EQ(waitForAny({t.waitable()}, 2000, states), 1);
  EXPECT_EQ(waitForAny({t.waitable()}, 0, states), 1);
  t.task();
  EXPECT_EQ(t.readAll(), "MEAS:POW? done\n");
  EXPECT_EQ(waitForAny({t.waitable()}, 0, states), 0);
  EXPECT_EQ(s.lastTimeoutMs, 750);
}

TEST(WorkerTransport, CloseNeverWaitsForABlockedCall) {
  FakeDevice::Shared s;
  {
    WorkerTransport t([&s] { return std::make_unique<FakeDevice>(s); });
    ASSERT_TRUE(t.open(1000));
    ASSERT_TRUE(stepUntil(t, [&] { return t.status() == Status::Open; }));
    ASSERT_TRUE(t.writeLine("SLOW?"));
    std::this_thread::sleep_for(50ms);
    const auto before = std::chrono::steady_clock::now();
    t.close();
    ASSERT_TRUE(t.open(1000));  // a new worker with a new device
    EXPECT_LT(std::chrono::steady_clock::now() - before, 100ms);
    ASSERT_TRUE(stepUntil(t, [&] { return t.status() == Status::Open; }));
    ASSERT_TRUE(t.writeLine("ID?"));
    ASSERT_TRUE(stepUntil(t, [&] { return t.bytesReadable() > 0; }));
    EXPECT_EQ(t.readAll(), "ID? done\n");  // nothing of the old worker's
  }
  EXPECT_EQ(s.opened, 2);
  EXPECT_EQ(s.closed, 2);  // the destructor joined both workers
}

TEST(WorkerTransport, FailuresOfTheDeviceAreTheLinksFailures) {
  FakeDevice::Shared s;
  s.refuseOpen = true;
  WorkerTransport t([&s] { return std::make_unique<FakeDevice>(s); });
  ASSERT_TRUE(t.open(100));
  ASSERT_TRUE(stepUntil(t, [&] { return t.status() == Status::Failed; }));
  EXPECT_EQ(t.errorText(), "no such instrument");
  s.refuseOpen = false;
  ASSERT_TRUE(t.open(100));
  ASSERT_TRUE(stepUntil(t, [&] { return t.status() == Status::Open; }));
  ASSERT_TRUE(t.writeLine("BREAK"));
  ASSERT_TRUE(stepUntil(t, [&] { return t.status() == Status::Failed; }));
  EXPECT_EQ(t.errorText(), "the device went away");
  EXPECT_FALSE(t.writeLine("MEAS?"));
  t.close();
  EXPECT_EQ(t.status(), Status::Closed);
  EXPECT_EQ(t.errorText(), "the device went away");
}

}  // namespace
}  // namespace tarnset
