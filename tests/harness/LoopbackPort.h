#pragma once
// A serial port wired to the in-process virtual radio. The program's side of the line is
// modelled as a UART: written bytes leave one after another at the port's baud (10 bits
// per byte) and reach the radio when their last bit is on the wire; what the radio sends
// arrives in the receive buffer as its bytes complete. Time comes from the harness
// (microseconds), and pump() moves the line up to the present.
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>

#include "base/SerialPort.h"
#include "sim/VirtualTarn.h"

namespace tarnset::testing {

class LoopbackPort final : public SerialPort {
 public:
  LoopbackPort(kvsim::VirtualTarn& radio, const std::int64_t& nowUs) : radio_(radio), nowUs_(nowUs) {}

  bool open(const std::string& device, std::int32_t baud) override;
  void close() override;
  bool isOpen() const override { return open_; }
  PortFailure failure() const override { return failure_; }
  void setRThreshold(std::int32_t bytes) override { rThreshold_ = bytes; }
  bool discardOutput() override;
  bool write(const Bytes& data) override;
  std::int32_t inBufferCount() override { return static_cast<std::int32_t>(in_.size()); }
  Bytes readAll() override;
  std::int32_t outBufferCount() override;
  Waitable waitable() const override { return kNoWaitable; }
  void service() override {}

  // Moves the line up to the present: delivers sent bytes to the radio, takes in what
  // the radio sent, and raises the port events.
  void pump();
  // The device disappears: the next pump reports a line error and the port closes.
  void vanish() { vanishPending_ = true; }
  // Devices whose open fails (as if missing), or fails for the given reason.
  void refuse(const std::string& device) {
    refused_[device] = PortFailure(PortFailure::Kind::NoDevice, "no such device");
  }
  void refuse(const std::string& device, PortFailure why) { refused_[device] = std::move(why); }
  // Devices refused no more (an adapter plugged in).
  void accept(const std::string& device) { refused_.erase(device); }
  // Every write is refused (a failing adapter) until switched off again.
  void refuseWrites(bool on) { refuseWrites_ = on; }
  // A framing error: the next bytes that arrive from the radio raise a line error, the
  // first of them spoilt when corrupt is set (a byte whose stop bit was missing reads as
  // garbage). The error waits for bytes to arrive; raised, it is disarmed.
  void raiseLineError(bool corrupt) {
    lineErrorArmed_ = true;
    lineErrorCorrupts_ = corrupt;
  }
  void disarmLineError() { lineErrorArmed_ = false; }
  // How often each fault took effect: line errors raised, writes refused, the device gone
  // while the port was open.
  std::int32_t lineErrorsRaised() const { return lineErrorsRaised_; }
  std::int32_t writesRefused() const { return writesRefused_; }
  std::int32_t vanishings() const { return vanishings_; }

  std::int32_t baud() const { return baud_; }
  const std::string& device() const { return device_; }
  // Every byte the program put on the wire, in order (including bursts and resends).
  const Bytes& sentLog() const { return sentLog_; }
  std::int32_t opens() const { return opens_; }

 private:
  struct Pending {
    std::int64_t doneUs;
    std::uint8_t byte;
  };
  std::int64_t byteTimeUs() const { return 10'000'000 / baud_; }

  kvsim::VirtualTarn& radio_;
  const std::int64_t& nowUs_;
  bool open_ = false;
  bool vanishPending_ = false;
  bool refuseWrites_ = false;
  bool lineErrorArmed_ = false;
  bool lineErrorCorrupts_ = false;
  std::int32_t lineErrorsRaised_ = 0;
  std::int32_t writesRefused_ = 0;
  std::int32_t vanishings_ = 0;
  std::string device_;
  PortFailure failure_;
  std::map<std::string, PortFailure> refused_;
  std::int32_t baud_ = 9600;
  std::int32_t rThreshold_ = 1;
  std::deque<Pending> out_;
  std::int64_t lineFreeUs_ = 0;
  Bytes in_;
  Bytes sentLog_;
  std::int32_t opens_ = 0;
};

}  // namespace tarnset::testing
