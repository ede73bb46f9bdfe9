#include "instruments/SerialTransport.h"

namespace tarnset {

SerialTransport::SerialTransport(std::unique_ptr<SerialPort> port, std::string device, std::int32_t baud)
    : port_(std::move(port)), device_(std::move(device)), baud_(baud) {
  port_->onEvent = [this](PortEvent ev) {
    if (ev == PortEvent::LineError && !port_->isOpen()) fail(port_->failureReason());
  };
}

SerialTransport::~SerialTransport() {
  port_->onEvent = nullptr;
  port_->close();
}

bool SerialTransport::open(std::int32_t) {
  port_->close();
  received_.clear();
  error_.clear();
  if (device_.empty()) {
    fail("no serial device is known for this address");
    return false;
  }
  if (!port_->open(device_, baud_)) {
    fail(device_ + ": " + port_->failureReason());
    return false;
  }
  status_ = Status::Open;
  return true;
}

void SerialTransport::close() {
  port_->close();
  received_.clear();
  status_ = Status::Closed;
}

void SerialTransport::fail(const std::string& why) {
  if (!why.empty()) error_ = why;
  port_->close();
  status_ = Status::Failed;
}

void SerialTransport::take() {
  if (!port_->isOpen()) return;
  if (port_->inBufferCount() == 0) return;
  const Bytes b = port_->readAll();
  received_.append(b.begin(), b.end());
}

void SerialTransport::task() {
  if (status_ != Status::Open) return;
  if (port_->waitable() != kNoWaitable) port_->service();
  if (status_ != Status::Open) return;
  if (!port_->isOpen()) {
    fail(port_->failureReason().empty() ? device_ + " was closed" : port_->failureReason());
    return;
  }
  take();
}

bool SerialTransport::writeLine(const std::string& line) {
  if (status_ != Status::Open) return false;
  Bytes data(line.begin(), line.end());
  data.push_back('\n');
  if (!port_->write(data)) {
    fail(device_ + ": " + port_->failureReason());
    return false;
  }
  return true;
}

std::string SerialTransport::readAll() {
  take();
  std::string out;
  out.swap(received_);
  return out;
}

}  // namespace tarnset
