#pragma once
// The serial port over a POSIX terminal device (a USB adapter, an on-board UART or a
// pseudo-terminal): raw 8N1, no flow control, DTR and RTS asserted, opened
// exclusively, low latency where the driver offers it. Nothing blocks: the device is
// non-blocking, received bytes are taken in by service() when the event loop sees the
// descriptor readable, and bytes that the kernel does not take at once wait in a small
// queue of ours that later calls push on. The kernel marks framing errors and breaks in
// the received bytes (PARMRK); service() takes the marks out and reports each one as a
// line error between the bytes received before it and those received after it.
#include <cstdint>
#include <string>
#include <vector>

#include "base/SerialPort.h"
#include "platform/posix/PosixPortCalls.h"

namespace tarnset {

class PosixSerialPort final : public SerialPort {
 public:
  // A port on the real system calls.
  PosixSerialPort() : PosixSerialPort(systemPortCalls()) {}
  // A port that makes its calls on the device through `calls` (which outlives it).
  explicit PosixSerialPort(PosixPortCalls& calls) : calls_(calls) {}
  ~PosixSerialPort() override;
  PosixSerialPort(const PosixSerialPort&) = delete;
  PosixSerialPort& operator=(const PosixSerialPort&) = delete;

  bool open(const std::string& device, std::int32_t baud) override;
  // Gives up the exclusive use and closes the device; what was not sent yet is dropped.
  void close() override;
  bool isOpen() const override { return fd_ >= 0; }
  // Why the last open failed, the device went away, or the last refused write was
  // refused ("the port is not open", "the output buffer is full (900 bytes waiting)"),
  // marked as a Bluetooth port's (rfcomm) where it is one.
  PortFailure failure() const override;
  // Where the processes are listed when a busy device's holder is looked for ("/proc";
  // a fake tree in tests).
  void setProcRoot(std::string root) { procRoot_ = std::move(root); }

  void setRThreshold(std::int32_t bytes) override { rThreshold_ = bytes; }
  std::int32_t RThreshold() const { return rThreshold_; }
  bool discardOutput() override;
  // Refuses (sends nothing) when the port is closed, when the device reports an error,
  // or when the bytes might not fit in the 1024-byte output queue; failureReason() then
  // says which.
  bool write(const Bytes& data) override;
  std::int32_t inBufferCount() override;
  Bytes readAll() override;
  // Bytes the driver still holds (TIOCOUTQ) plus bytes of ours the kernel has not taken.
  std::int32_t outBufferCount() override;

  Waitable waitable() const override { return fd_; }
  // Takes in what the device has, then raises ReceiveOverflow, DataReceived, or (once,
  // after closing the port) LineError for a device that went away. A framing error or
  // break in the received bytes raises, in this order: ReceiveOverflow if bytes were
  // lost, DataReceived for the bytes before it (also below the threshold), LineError
  // with the port open; then the bytes after it go on as usual.
  void service() override;

  // Device path and baud rate of the open port (or of the last attempt).
  const std::string& device() const { return device_; }
  std::int32_t baud() const { return baud_; }

 private:
  // Where the decoding of the kernel's marks stands between two received bytes: the
  // kernel sends a data byte FF as FF FF, a framing error on byte X as FF 00 X, and a
  // break as FF 00 00.
  enum class RxMark {
    None,       // between data bytes
    Escape,     // after an FF
    ErrorByte,  // after FF 00: the next byte is the one received with the error
  };

  void release();
  void pushQueue();
  bool deviceGone() const;
  void askLowLatency(int fd);
  void keepReceived(std::uint8_t byte, bool& overflow);
  // Decodes read bytes into the receive buffer and raises the events of each mark; false
  // when a handler closed or reopened the port.
  bool takeIn(const std::uint8_t* bytes, std::size_t count, unsigned session, bool& overflow, bool& fresh);
  // Raises an event; false when its handler closed or reopened the port.
  bool raise(PortEvent ev, unsigned session);

  PosixPortCalls& calls_;
  int fd_ = -1;
  std::string device_;
  std::int32_t baud_ = 0;
  PortFailure failure_;
  std::string procRoot_ = "/proc";
  std::int32_t rThreshold_ = 1;
  Bytes rx_;                      // received, not yet read; at most kInBufferSize bytes
  Bytes txQueue_;                 // written, not yet taken by the kernel; at most kOutBufferSize bytes
  unsigned session_ = 0;          // counts opens, so that service() notices a close or reopen in a handler
  RxMark rxMark_ = RxMark::None;  // a mark cut off at the end of the last read goes on here
  bool lowLatencySet_ = false;    // we turned the driver's low latency on; close turns it off again
  bool bluetooth_ = false;        // the device is a Bluetooth serial port (rfcomm)
};

// True for a Bluetooth serial port's device (/dev/rfcomm0, or a link to one).
bool isBluetoothDevice(const std::string& device);

// A failed open of a device with the given errno, in a technician's words: "no such
// device", "in use by another program" (or by the process that holds it, looked up in
// procRoot), "permission denied (the device belongs to group dialout)".
PortFailure describeOpenFailure(int err, const std::string& device, const std::string& procRoot = "/proc");

// A process that has a device open.
struct DeviceHolder {
  int pid = 0;
  std::string name;  // its command name
};
// The processes under procRoot ("/proc") whose open descriptors name the device (the
// same file after following links), by PID; those whose descriptors cannot be read
// (other users' processes) are not seen.
std::vector<DeviceHolder> findDeviceHolders(const std::string& device, const std::string& procRoot = "/proc");

// The termios speed constant of a baud rate, 0 when the rate is not supported.
unsigned baudConstant(std::int32_t baud);

}  // namespace tarnset
