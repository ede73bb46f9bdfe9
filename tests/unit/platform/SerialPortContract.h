#pragma once
// What every serial port of the program promises the serial host, whatever system it runs
// on: one typed suite, instantiated by each system's port test over its own fake device
// (a scripted descriptor under the POSIX port, a scripted driver under the Win32 port).
//
// A rig gives the suite its port over a fake device and says, in the fake's own terms,
// what the device does:
//   SerialPort& port();
//   void open();                                    // opens the port at 9600 (asserts)
//   void receive(const Bytes& bytes);               // bytes arrive; the loop services the port
//   void receiveWithError(const Bytes& b, size_t i);// b arrives with a framing error on b[i]
//                                                   // (b[0..i) before the error is known); serviced
//   void remove();                                  // the device is unplugged; serviced
//   void stallWrites();                             // the device stops taking bytes
//   Bytes written();                                // the bytes that reached the device
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "base/SerialPort.h"

namespace tarnset::contract {

// Bytes as " FE FE 01" for the logs.
inline std::string hex(const Bytes& bytes) {
  std::string out;
  char buf[4];
  for (const std::uint8_t b : bytes) {
    std::snprintf(buf, sizeof buf, " %02X", b);
    out += buf;
  }
  return out;
}

// The frames a host cuts from what the port hands it, as the frame driver does: FE starts
// a frame, FD ends it, and a line error drops the frame being received (what follows is
// junk until the next FE).
class FrameCutter {
 public:
  void bytes(const Bytes& data) {
    for (const std::uint8_t b : data) {
      if (b == 0xFE) {
        frame_.clear();
        inFrame_ = true;
      } else if (!inFrame_) {
        continue;
      } else if (b == 0xFD) {
        frames_.push_back(hex(frame_));
        frame_.clear();
        inFrame_ = false;
      } else {
        frame_.push_back(b);
      }
    }
  }
  void lineError() {
    frame_.clear();
    inFrame_ = false;
  }
  const std::vector<std::string>& frames() const { return frames_; }

 private:
  Bytes frame_;
  bool inFrame_ = false;
  std::vector<std::string> frames_;
};

// A port's handler that takes the received bytes at each event as the serial host does
// and records, per event, what it took ("data 10 11", "line error", "gone", "overflow"),
// the frames too.
struct EventLog {
  std::vector<std::string> entries;
  bool takeAtEvent = true;
  std::function<void(PortEvent)> after;  // runs after each event is recorded
  FrameCutter cutter;

  void attach(SerialPort& port) {
    port.onEvent = [this, &port](PortEvent ev) {
      const Bytes taken = takeAtEvent ? port.readAll() : Bytes{};
      cutter.bytes(taken);
      switch (ev) {
        case PortEvent::DataReceived:
          entries.push_back("data" + hex(taken));
          break;
        case PortEvent::ReceiveOverflow:
          entries.push_back("overflow");
          break;
        case PortEvent::LineError:
          cutter.lineError();
          entries.push_back(std::string(port.isOpen() ? "line error" : "gone") + hex(taken));
          break;
      }
      if (after) after(ev);
    };
  }
};

template <typename Rig>
class SerialPortContract : public ::testing::Test {
 protected:
  void SetUp() override {
    events_.attach(rig_.port());
    rig_.open();
  }

  using Log = std::vector<std::string>;
  Rig rig_;
  EventLog events_;
  Log& log_ = events_.entries;
  FrameCutter& cutter_ = events_.cutter;
  bool& takeAtEvent_ = events_.takeAtEvent;
  std::function<void(PortEvent)>& afterEvent_ = events_.after;
};

TYPED_TEST_SUITE_P(SerialPortContract);

TYPED_TEST_P(SerialPortContract, ReceivedBytesReachTheHostAsTheyCame) {
  this->rig_.receive({0xFE, 0xFE, 0xEF, 0xEE});
  this->rig_.receive({0x01, 0xFF, 0xFD});
  EXPECT_EQ(this->log_, (typename TestFixture::Log{"data FE FE EF EE", "data 01 FF FD"}));
  EXPECT_EQ(this->cutter_.frames(), (std::vector<std::string>{" EF EE 01 FF"}));
  EXPECT_EQ(this->rig_.port().inBufferCount(), 0);
}

TYPED_TEST_P(SerialPortContract, TheReceiveEventWaitsForTheThreshold) {
  this->takeAtEvent_ = false;
  this->rig_.port().setRThreshold(1024);
  this->rig_.receive(Bytes(1000, 0x55));
  EXPECT_EQ(this->rig_.port().inBufferCount(), 1000);
  EXPECT_TRUE(this->log_.empty());
  this->rig_.receive(Bytes(24, 0x55));
  EXPECT_EQ(this->log_, (typename TestFixture::Log{"data"}));
  EXPECT_EQ(this->rig_.port().readAll().size(), 1024u);
}

TYPED_TEST_P(SerialPortContract, ALineErrorLosesTheWholeFrameItTouchesAndNothingAfterIt) {
  const Bytes answer{0xFE, 0xFE, 0xEF, 0xEE, 0xE8, 0x30, 0x41, 0xFD};
  // A complete answer with one digit garbled but still a digit: it must not count.
  this->rig_.receive(answer);
  this->rig_.receiveWithError(answer, 5);
  this->rig_.receive(answer);
  EXPECT_EQ(std::count(this->log_.begin(), this->log_.end(), "line error"), 1);
  EXPECT_EQ(this->cutter_.frames().size(), 2u) << "the frame with the error must not come through";
  EXPECT_TRUE(this->rig_.port().isOpen());

  // A frame whose first bytes came clean and whose rest came with the error.
  this->rig_.receive(Bytes(answer.begin(), answer.begin() + 4));
  this->rig_.receiveWithError(Bytes(answer.begin() + 4, answer.end()), 1);
  this->rig_.receive(answer);
  EXPECT_EQ(this->cutter_.frames().size(), 3u);
  for (const std::string& f : this->cutter_.frames()) EXPECT_EQ(f, " EF EE E8 30 41");
}

TYPED_TEST_P(SerialPortContract, MoreUnreadBytesThanTheBufferHoldsAreAnOverflowThatKeepsThePortOpen) {
  this->takeAtEvent_ = false;
  for (int i = 0; i < 9; ++i) this->rig_.receive(Bytes(4096, 0x5A));  // 36864 bytes
  EXPECT_GE(std::count(this->log_.begin(), this->log_.end(), "overflow"), 1);
  EXPECT_EQ(this->rig_.port().inBufferCount(), SerialPort::kInBufferSize);
  EXPECT_TRUE(this->rig_.port().isOpen());
}

TYPED_TEST_P(SerialPortContract, ARemovedDeviceIsOneLineErrorAndAClosedPort) {
  this->rig_.receive({0x20});
  this->rig_.remove();
  EXPECT_EQ(this->log_, (typename TestFixture::Log{"data 20", "gone"}));
  SerialPort& port = this->rig_.port();
  EXPECT_FALSE(port.isOpen());
  EXPECT_EQ(port.waitable(), kNoWaitable);
  EXPECT_EQ(port.failure().kind, PortFailure::Kind::Gone);
  EXPECT_EQ(port.failureReason(), "the device went away");
  for (int i = 0; i < 3; ++i) port.service();
  EXPECT_EQ(this->log_.size(), 2u) << "one report, never a stream of them";
  EXPECT_FALSE(port.write({0x01}));
  EXPECT_EQ(port.failureReason(), "the port is not open");
}

TYPED_TEST_P(SerialPortContract, AHandlerThatClosesThePortEndsTheEventsOfItsSession) {
  this->afterEvent_ = [this](PortEvent ev) {
    if (ev == PortEvent::DataReceived) this->rig_.port().close();
  };
  this->rig_.receiveWithError({0x10, 0x11, 0x12, 0x13}, 2);
  EXPECT_EQ(this->log_, (typename TestFixture::Log{"data 10 11"}))
      << "the error and what came after it belonged to the closed session";
  EXPECT_FALSE(this->rig_.port().isOpen());
  this->rig_.port().service();
  EXPECT_EQ(this->log_.size(), 1u);
}

TYPED_TEST_P(SerialPortContract, WritesReachTheDeviceAndAFullQueueRefusesWithItsReason) {
  SerialPort& port = this->rig_.port();
  ASSERT_TRUE(port.write({0xFE, 0xFE, 0xEE, 0xEF, 0xFD}));
  EXPECT_EQ(this->rig_.written(), (Bytes{0xFE, 0xFE, 0xEE, 0xEF, 0xFD}));
  EXPECT_EQ(port.outBufferCount(), 0);

  EXPECT_FALSE(port.write(Bytes(1025, 0x02)));
  EXPECT_EQ(port.failure().kind, PortFailure::Kind::WriteRefused);
  EXPECT_EQ(port.failureReason(),
            "the data is larger than the output buffer (1025 bytes, the buffer holds 1024)");

  this->rig_.stallWrites();
  ASSERT_TRUE(port.write(Bytes(1000, 'A')));
  ASSERT_TRUE(port.write(Bytes(24, 'B')));
  EXPECT_EQ(port.outBufferCount(), 1024);
  EXPECT_FALSE(port.write({'C'}));
  EXPECT_EQ(port.failureReason(), "the output buffer is full (1024 bytes waiting)");

  EXPECT_TRUE(port.discardOutput());
  EXPECT_EQ(port.outBufferCount(), 0);
  port.close();
  EXPECT_FALSE(port.write({0x01}));
  EXPECT_EQ(port.failureReason(), "the port is not open");
  EXPECT_TRUE(port.discardOutput()) << "a closed port has nothing to discard";
}

REGISTER_TYPED_TEST_SUITE_P(SerialPortContract, ReceivedBytesReachTheHostAsTheyCame,
                            TheReceiveEventWaitsForTheThreshold,
                            ALineErrorLosesTheWholeFrameItTouchesAndNothingAfterIt,
                            MoreUnreadBytesThanTheBufferHoldsAreAnOverflowThatKeepsThePortOpen,
                            ARemovedDeviceIsOneLineErrorAndAClosedPort,
                            AHandlerThatClosesThePortEndsTheEventsOfItsSession,
                            WritesReachTheDeviceAndAFullQueueRefusesWithItsReason);

}  // namespace tarnset::contract
