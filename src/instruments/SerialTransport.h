#pragma once
// SCPI over a serial port, through the program's serial port interface: the line settings
// (the baud rate; always 8N1) come from Instruments.ini.
#include <cstdint>
#include <memory>
#include <string>

#include "base/SerialPort.h"
#include "platform/InstrumentTransport.h"

namespace tarnset {

class SerialTransport final : public InstrumentTransport {
 public:
  SerialTransport(std::unique_ptr<SerialPort> port, std::string device, std::int32_t baud);
  ~SerialTransport() override;

  bool open(std::int32_t timeoutMs) override;
  void close() override;
  Status status() const override { return status_; }
  void task() override;
  bool writeLine(const std::string& line) override;
  std::size_t bytesReadable() const override { return received_.size(); }
  std::string readAll() override;
  Waitable waitable() const override { return port_->waitable(); }
  std::string errorText() const override { return error_; }

 private:
  void take();
  void fail(const std::string& why);

  std::unique_ptr<SerialPort> port_;
  std::string device_;
  std::int32_t baud_;
  Status status_ = Status::Closed;
  std::string error_;
  std::string received_;
};

}  // namespace tarnset
