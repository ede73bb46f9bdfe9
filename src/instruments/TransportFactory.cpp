#include "instruments/TransportFactory.h"

#include "instruments/SerialTransport.h"
#include "instruments/VisaAddress.h"
#include "platform/InstrumentLinks.h"
#include "platform/SystemSerialPort.h"

namespace tarnset {
namespace {

class FailedTransport final : public InstrumentTransport {
 public:
  explicit FailedTransport(std::string reason) : reason_(std::move(reason)) {}
  bool open(std::int32_t) override {
    status_ = Status::Failed;
    return false;
  }
  void close() override { status_ = Status::Closed; }
  Status status() const override { return status_; }
  void task() override {}
  bool writeLine(const std::string&) override { return false; }
  std::size_t bytesReadable() const override { return 0; }
  std::string readAll() override { return {}; }
  Waitable waitable() const override { return kNoWaitable; }
  std::string errorText() const override { return reason_; }

 private:
  std::string reason_;
  Status status_ = Status::Closed;
};

}  // namespace

std::unique_ptr<InstrumentTransport> failedTransport(std::string reason) {
  return std::make_unique<FailedTransport>(std::move(reason));
}

std::unique_ptr<InstrumentTransport> SystemTransportFactory::make(const InstrumentEntry& entry) {
  std::string why;
  const auto a = parseVisaAddress(entry.address, why);
  if (!a) return failedTransport(why);
  switch (a->kind) {
    case VisaAddress::Kind::Socket:
      return makeSocketTransport(a->host, a->port, clock_);
    case VisaAddress::Kind::Serial: {
      std::string device = a->device;
      if (a->comNumber > 0) {
        device = comPorts_ != nullptr && a->comNumber <= 32767
                     ? comPorts_->deviceFor(static_cast<std::int16_t>(a->comNumber))
                     : std::string();
        if (device.empty()) device = serialDeviceName(a->comNumber);
      }
      return std::make_unique<SerialTransport>(std::make_unique<SystemSerialPort>(), device, entry.baud);
    }
    case VisaAddress::Kind::Usb:
      return makeUsbTransport(
          UsbInstrumentId{a->vendorId, a->productId, a->serial, a->interfaceNumber, a->text});
  }
  return failedTransport("unknown kind of address");
}

}  // namespace tarnset
