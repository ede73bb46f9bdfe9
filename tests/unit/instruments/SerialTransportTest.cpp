// SCPI over the program's serial port interface.
#include <gtest/gtest.h>

#include "instruments/SerialTransport.h"

namespace tarnset {
namespace {

using Status = InstrumentTransport::Status;

// A serial port the test drives: it records the open and what is written, and hands over
// what the test puts in.
class FakePort final : public SerialPort {
 public:
  std::string device;
  std::int32_t baud = 0;
  bool refuseOpen = false;
  bool opened = false;
  Bytes written;
  Bytes incoming;
  PortFailure why;

  bool open(const std::string& d, std::int32_t b) override {
    device = d;
    baud = b;
    if (refuseOpen) {
      why = PortFailure(PortFailure::Kind::NoDevice, "no such device");
      return false;
    }
    opened = true;
    return true;
  }
  void close() override { opened = false; }
  bool isOpen() const override { return opened; }
  PortFailure failure() const override { return why; }
  void setRThreshold(std::int32_t) override {}
  bool discardOutput() override { return true; }
  bool write(const Bytes& data) override {
    written.insert(written.end(), data.begin(), data.end());
    return true;
  }
  std::int32_t inBufferCount() override { return static_cast<std::int32_t>(incoming.size()); }
  Bytes readAll() override {
    Bytes b;
    b.swap(incoming);
    return b;
  }
  std::int32_t outBufferCount() override { return 0; }
  Waitable waitable() const override { return kNoWaitable; }
  void service() override {}
  // The adapter is pulled: the port closes and says so.
  void vanish() {
    opened = false;
    why = PortFailure(PortFailure::Kind::Gone, "the device went away");
    onEvent(PortEvent::LineError);
  }
};

TEST(SerialTransport, LinesGoOutWithTheirLfAndAnswersComeIn) {
  auto port = std::make_unique<FakePort>();
  FakePort& p = *port;
  SerialTransport t(std::move(port), "/dev/ttyUSB1", 19200);
  ASSERT_TRUE(t.open(1000));
  EXPECT_EQ(p.device, "/dev/ttyUSB1");
  EXPECT_EQ(p.baud, 19200);
  EXPECT_EQ(t.status(), Status::Open);
  ASSERT_TRUE(t.writeLine("MEAS:FREQ?"));
  EXPECT_EQ(std::string(p.written.begin(), p.written.end()), "MEAS:FREQ?\n");
  p.incoming = {'4', '.', '5', 'E', '8', '\r', '\n'};
  t.task();
  EXPECT_EQ(t.bytesReadable(), 7u);
  EXPECT_EQ(t.readAll(), "4.5E8\r\n");
  p.vanish();
  EXPECT_EQ(t.status(), Status::Failed);
  EXPECT_EQ(t.errorText(), "the device went away");
  EXPECT_FALSE(t.writeLine("MEAS:FREQ?"));
}

TEST(SerialTransport, APortThatCannotBeOpenedOrIsUnknownSaysWhy) {
  auto port = std::make_unique<FakePort>();
  port->refuseOpen = true;
  SerialTransport t(std::move(port), "/dev/ttyUSB7", 9600);
  EXPECT_FALSE(t.open(1000));
  EXPECT_EQ(t.status(), Status::Failed);
  EXPECT_EQ(t.errorText(), "/dev/ttyUSB7: no such device");
  SerialTransport none(std::make_unique<FakePort>(), "", 9600);
  EXPECT_FALSE(none.open(1000));
  EXPECT_EQ(none.errorText(), "no serial device is known for this address");
}

}  // namespace
}  // namespace tarnset
