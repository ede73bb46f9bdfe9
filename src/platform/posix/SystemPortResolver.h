#pragma once
// Finding a Linux machine's serial ports and mapping the program's COM numbers onto them.
//
// COM n is the device named by key COMn of section [PORTS] in the options file when
// that key holds a path; otherwise the n-th serial port present: USB adapters first
// (ttyUSB*, then ttyACM*), then on-board ttyS* ports that have a UART behind them, then
// Bluetooth serial ports (rfcomm*, bound with rfcomm bind), in numeric order within each kind, each named by
// its /dev/serial/by-id link where it has one (that name stays with the adapter when others are plugged in or
// out).
//
// The mapping is taken when the resolver is made and on refresh() (at start and when the
// user chooses a port), never between two commands, so that a device that comes or goes
// mid-session cannot silently move COM 1 to another device. resolveAnew(n) (at Connect)
// fills in COM n only when it has no device now, and only with a port that no other COM
// number names; a number named in [PORTS] keeps its device (the file is read again).
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "base/SerialPort.h"
#include "platform/PortList.h"

namespace tarnset {

// Where the kernel's device information and the device nodes are found (a fake tree in
// a temporary folder for tests).
struct SystemRoots {
  std::string sys = "/sys";
  std::string dev = "/dev";
};

// The serial ports present, in COM order (USB, then ACM, then on-board UARTs, then
// Bluetooth).
std::vector<SerialPortInfo> listSerialPorts(const SystemRoots& roots = {});

class SystemPortResolver final : public PortResolver {
 public:
  // configured: the [PORTS] entries of the options file; the mapping is taken at once.
  explicit SystemPortResolver(ConfiguredPorts configured, SystemRoots roots = {});

  std::string deviceFor(std::int16_t comNumber) const override;
  void resolveAnew(std::int16_t comNumber) override;
  // Takes the mapping again: re-reads [PORTS] and looks for the ports present.
  void refresh() override;

  // The ports found by the last refresh, in COM order.
  const std::vector<SerialPortInfo>& ports() const { return ports_; }
  // True when COM n is named in [PORTS] rather than found.
  bool isConfigured(std::int16_t comNumber) const { return configured_.count(comNumber) != 0; }
  // What COM n resolves to, for menu tips and the companion's listing: the description
  // of the port, the configured path, or "no serial port" when nothing is known.
  std::string describe(std::int16_t comNumber) const;
  // What COM n opens, short, for the Port menu's captions: "/dev/ttyUSB0, FT232R USB UART"
  // (with ", Bluetooth" for a Bluetooth port), "/dev/ttyUSB3 (not found)" for a device
  // that is not present, "no serial port" when nothing is known.
  std::string caption(std::int16_t comNumber) const override;
  // The serial adapters found by the last refresh, in COM order, each with the COM number
  // that opens it now (a number that opens nothing can be mapped to one of them).
  std::vector<SerialAdapter> adapters() const override;

  // Highest COM number looked up in [PORTS].
  static constexpr std::int16_t kMaxComNumber = 10;

 private:
  ConfiguredPorts configuredPorts_;
  SystemRoots roots_;
  // The [PORTS] path of COM n, if any.
  std::string configuredPath(std::int16_t comNumber) const;
  // Another COM number than n names the device at path (the same file).
  bool claimedByOther(std::int16_t n, const std::string& path) const;
  // COM n opens the port (names it, or the same file).
  bool opens(std::int16_t comNumber, const SerialPortInfo& port) const;

  std::map<std::int16_t, std::string> configured_;
  std::map<std::int16_t, std::string> found_;  // COM numbers given a port found on the machine
  std::vector<SerialPortInfo> ports_;
};

}  // namespace tarnset
