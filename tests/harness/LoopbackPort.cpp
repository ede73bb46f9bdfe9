#include "LoopbackPort.h"

#include <algorithm>

namespace tarnset::testing {

bool LoopbackPort::open(const std::string& device, std::int32_t baud) {
  if (device.empty()) {
    failure_ = PortFailure(PortFailure::Kind::NoDevice, "no such device");
    return false;
  }
  if (const auto it = refused_.find(device); it != refused_.end()) {
    failure_ = it->second;
    return false;
  }
  failure_ = {};
  open_ = true;
  device_ = device;
  baud_ = baud;
  in_.clear();  // stale input is discarded at every open
  lineFreeUs_ = nowUs_;
  ++opens_;
  radio_.setProgramLine(true, baud_, nowUs_);
  return true;
}

void LoopbackPort::close() {
  if (!open_) return;
  pump();
  out_.clear();
  open_ = false;
  radio_.setProgramLine(false, baud_, nowUs_);
}

bool LoopbackPort::discardOutput() {
  // Bytes already on the wire complete; the ones still waiting in the buffer are gone.
  while (!out_.empty() && out_.back().doneUs - byteTimeUs() >= nowUs_) {
    out_.pop_back();
  }
  lineFreeUs_ = out_.empty() ? nowUs_ : out_.back().doneUs;
  return true;
}

bool LoopbackPort::write(const Bytes& data) {
  if (!open_) return false;
  if (refuseWrites_) {
    ++writesRefused_;
    failure_ = {PortFailure::Kind::WriteRefused, "the device refused the data (Input/output error)"};
    return false;
  }
  if (outBufferCount() + static_cast<std::int32_t>(data.size()) > kOutBufferSize) return false;
  for (std::uint8_t b : data) {
    lineFreeUs_ = std::max(lineFreeUs_, nowUs_) + byteTimeUs();
    out_.push_back({lineFreeUs_, b});
    sentLog_.push_back(b);
  }
  return true;
}

Bytes LoopbackPort::readAll() {
  Bytes all;
  all.swap(in_);
  return all;
}

std::int32_t LoopbackPort::outBufferCount() {
  std::int32_t n = 0;
  for (const Pending& p : out_) n += p.doneUs > nowUs_ ? 1 : 0;
  return n;
}

void LoopbackPort::pump() {
  if (!open_) return;
  if (vanishPending_) {
    vanishPending_ = false;
    ++vanishings_;
    failure_ = {PortFailure::Kind::Gone, "the device went away"};
    out_.clear();
    open_ = false;
    radio_.setProgramLine(false, baud_, nowUs_);
    if (onEvent) onEvent(PortEvent::LineError);
    return;
  }
  while (!out_.empty() && out_.front().doneUs <= nowUs_) {
    radio_.receive(Bytes{out_.front().byte}, out_.front().doneUs);
    out_.pop_front();
  }
  Bytes got = radio_.transmit(nowUs_);
  if (got.empty()) return;
  const bool lineError = lineErrorArmed_;
  if (lineError) {
    lineErrorArmed_ = false;
    ++lineErrorsRaised_;
    if (lineErrorCorrupts_) got.front() = static_cast<std::uint8_t>(got.front() ^ 0xA5);
  }
  in_.insert(in_.end(), got.begin(), got.end());
  // The error is told before the bytes it spoilt can be read, as a UART flags the byte.
  if (lineError && onEvent) onEvent(PortEvent::LineError);
  if (!open_) return;
  if (static_cast<std::int32_t>(in_.size()) > kInBufferSize) {
    in_.resize(kInBufferSize);
    if (onEvent) onEvent(PortEvent::ReceiveOverflow);
    return;
  }
  if (static_cast<std::int32_t>(in_.size()) >= rThreshold_ && onEvent) onEvent(PortEvent::DataReceived);
}

}  // namespace tarnset::testing
