#pragma once
// The serial port as the serial host uses it: 8N1 at a given baud, DTR and RTS
// asserted, a receive buffer of 32760 bytes and an output buffer of 1024 bytes, and
// events for arriving data, receive overflow and line errors (a vanished device is a
// line error after which the port is closed).
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/Types.h"

namespace tarnset {

// Why the port could not be used: what kind of failure it was, one line saying so, and
// what the system could tell about it (for the details shown with the message).
struct PortFailure {
  enum class Kind {
    None,              // nothing failed
    NoDevice,          // no device at the path (or no path known)
    PermissionDenied,  // the device exists but this user may not open it
    Busy,              // another program holds the device
    NotASerialPort,    // the path is something else
    Gone,              // the device went away while open
    WriteRefused,      // the port refused data to send
    Other,             // anything else (line settings refused, an unusual error)
  };
  PortFailure() = default;
  PortFailure(Kind k, std::string why) : kind(k), reason(std::move(why)) {}

  Kind kind = Kind::None;
  std::string reason;                // one line: "permission denied", "in use by another program", ...
  std::string group;                 // PermissionDenied: the group that owns the device, when known
  std::string holder;                // Busy: the program holding it, "ModemManager (PID 612)", when known
  bool holderIsModemProber = false;  // Busy: that program is the system's modem-probing service
  bool bluetooth = false;            // the port is a Bluetooth serial port, not a cable's adapter
};

enum class PortEvent {
  DataReceived,     // at least RThreshold bytes wait in the receive buffer
  ReceiveOverflow,  // more bytes arrived than the receive buffer holds
  LineError,        // framing, parity, break, or the device went away
};

class SerialPort {
 public:
  static constexpr std::int32_t kInBufferSize = 32760;
  static constexpr std::int32_t kOutBufferSize = 1024;

  virtual ~SerialPort() = default;

  // Opens the device at the baud rate, 8 data bits, no parity, 1 stop bit, DTR and RTS
  // asserted, stale input discarded. False on failure; failureReason() says why.
  virtual bool open(const std::string& device, std::int32_t baud) = 0;
  virtual void close() = 0;
  virtual bool isOpen() const = 0;
  // Why the last open or write failed, or the device went away; kind None after a
  // successful open.
  virtual PortFailure failure() const = 0;
  // The one-line reason of failure().
  std::string failureReason() const { return failure().reason; }

  // Receive event threshold in bytes (1 = an event per arriving group of bytes).
  virtual void setRThreshold(std::int32_t bytes) = 0;
  // Discards what waits in the output buffer; false when the port refused.
  virtual bool discardOutput() = 0;
  // Queues bytes for sending; false when the port refused them.
  virtual bool write(const Bytes& data) = 0;
  virtual std::int32_t inBufferCount() = 0;
  // Takes every byte waiting in the receive buffer.
  virtual Bytes readAll() = 0;
  virtual std::int32_t outBufferCount() = 0;
  std::int32_t outBufferSize() const { return kOutBufferSize; }

  // What the event loop watches for arriving data (a descriptor, an event handle),
  // kNoWaitable when there is none (closed, or a port that delivers its events by other
  // means).
  virtual Waitable waitable() const = 0;
  // The waitable is ready: take in the bytes and raise the events.
  virtual void service() = 0;

  // Port events, raised from service() (or by a fake's own pump).
  std::function<void(PortEvent)> onEvent;
};

// A serial adapter present on the machine, as a person picks the cable's: what it is, and
// which of the program's COM numbers opens it now.
struct SerialAdapter {
  std::string name;            // what it is: "USB Serial Port", "FT232R USB UART"; empty when unknown
  std::string maker;           // who made it: "FTDI"; empty when unknown
  std::string systemName;      // the system's own name of the port: "COM7", "/dev/ttyUSB0"
  std::string device;          // what a mapping names to open it: "COM7", "/dev/serial/by-id/usb-..."
  bool bluetooth = false;      // a Bluetooth serial port
  std::int16_t comNumber = 0;  // the COM number that opens it now (the lowest), 0 when none does
};

// Maps the program's COM numbers to devices.
class PortResolver {
 public:
  virtual ~PortResolver() = default;
  // Device path of COM n, or empty when no device is known for it.
  virtual std::string deviceFor(std::int16_t comNumber) const = 0;
  // What COM n opens, short, for the Port menu: "COM7, USB Serial Port",
  // "/dev/ttyUSB0, FT232R USB UART"; "no serial port" when nothing is known.
  virtual std::string caption(std::int16_t comNumber) const {
    const std::string device = deviceFor(comNumber);
    return device.empty() ? "no serial port" : device;
  }
  // The serial adapters present, each with the COM number that opens it now.
  virtual std::vector<SerialAdapter> adapters() const { return {}; }
  // Takes the whole mapping again (the options file's mappings and the ports present).
  virtual void refresh() {}
  // Takes COM n anew when it has no device now (none is known for it, or the one it names
  // does not exist): an adapter plugged in late. It then names a port present that no
  // other COM number names; a device that exists is never replaced. A mapping that is
  // fixed once made has nothing to do here.
  virtual void resolveAnew(std::int16_t comNumber) { (void)comNumber; }
};

}  // namespace tarnset
