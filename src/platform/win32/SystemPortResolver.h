#pragma once
// Finding a Windows machine's serial ports and mapping the program's COM numbers onto them.
//
// COM n opens the system's own \\.\COMn unless key COMn of section [PORTS] in the options
// file names another device ("COM12" and "\\.\COM12" both mean \\.\COM12; the device
// name of a virtual port is taken as well), which `tarnset-cli ports --map 1=COM12`
// writes. Windows numbers the ports itself and a number stays with its adapter, so
// resolving a COM number looks nothing up: the listing only describes the ports.
//
// The listing holds the ports of the registry's serial map
// (HKLM\HARDWARE\DEVICEMAP\SERIALCOMM) with what the device manager knows of them
// (SetupAPI, classes Ports and Modem: friendly name, manufacturer, driver service, USB
// vendor and product id, serial number), and under Wine also the comN links of the
// prefix's dosdevices folder, which Wine opens but lists nowhere else; in numeric COM
// order.
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "base/SerialPort.h"
#include "platform/PortList.h"

namespace tarnset {

// What the system says about its serial ports, before it is made into one listing.
struct PortSources {
  // One value of the registry's serial map.
  struct MapEntry {
    std::string deviceObject;  // the driver's device: "\Device\Serial0"
    std::string portName;      // "COM3"
  };
  // One device of the Ports or Modem class as the device manager knows it.
  struct Device {
    std::string portName;                  // its PortName value: "COM3", "LPT1"
    std::string friendlyName;              // "USB Serial Port (COM3)", else the device description
    std::string manufacturer;              // "(Standard port types)", the adapter's maker
    std::string service;                   // the driver's service: "usbser", "Serial"
    std::string enumerator;                // the bus that made it: "USB", "ACPI", "BTHENUM" (Bluetooth)
    std::vector<std::string> hardwareIds;  // "USB\VID_1A2B&PID_0042&REV_0600", ...
    std::string instanceId;                // "USB\VID_1A2B&PID_0042\A1B2C3D4"
  };
  std::vector<MapEntry> serialMap;
  std::vector<Device> devices;
  std::vector<std::string> wineLinks;  // Wine only: the comN entries of the dosdevices folder ("com7")
  std::string wineFolder;  // Wine only: that folder as the host names it ("/home/u/.wine/dosdevices/")
};

// The ports of the sources, one per port name: every port of the serial map and every
// device or Wine link with a COM name, in numeric COM order (other names after them).
std::vector<SerialPortInfo> mergePortSources(const PortSources& sources);

// The sources as this system gives them now.
PortSources readPortSources();

// Under Wine, the prefix's dosdevices folder as this program opens it, ending in a
// separator ("Z:\home\u\.wine\dosdevices\"); empty elsewhere.
std::string wineDosDevicesFolder();

// The comN entries of a folder ("com1", "com12"), by name.
std::vector<std::string> comLinksIn(const std::string& folder);

// The serial ports present, in COM order.
std::vector<SerialPortInfo> listSerialPorts();

// What lists the serial ports present: listSerialPorts, or a fake in tests.
using PortLister = std::function<std::vector<SerialPortInfo>()>;

class SystemPortResolver final : public PortResolver {
 public:
  // configured: the [PORTS] entries of the options file; lister: the ports present. Both
  // are taken at once.
  explicit SystemPortResolver(ConfiguredPorts configured, PortLister lister = listSerialPorts);

  // \\.\COMn, or the device [PORTS] names for n; empty outside 1..kMaxComNumber.
  std::string deviceFor(std::int16_t comNumber) const override;
  // Takes the [PORTS] entry of COM n again (a mapping made since).
  void resolveAnew(std::int16_t comNumber) override;
  // Re-reads [PORTS] and lists the ports present again.
  void refresh() override;

  // The ports found by the last refresh, in COM order.
  const std::vector<SerialPortInfo>& ports() const { return ports_; }
  // True when COM n is named in [PORTS].
  bool isConfigured(std::int16_t comNumber) const { return configured_.count(comNumber) != 0; }
  // What COM n opens, for menu tips and the companion's listing: the description of the
  // port when it is listed, else its device with "(not found)"; "no serial port" outside
  // 1..kMaxComNumber.
  std::string describe(std::int16_t comNumber) const;
  // What COM n opens, short, for the Port menu's captions: "COM7, USB Serial Port" (with
  // ", Bluetooth" for a Bluetooth port), "COM3 (not found)" when no such port is present,
  // "no serial port" outside 1..kMaxComNumber.
  std::string caption(std::int16_t comNumber) const override;
  // The serial adapters found by the last refresh, in COM order, each with the COM number
  // that opens it now (a number that opens nothing can be mapped to one of them).
  std::vector<SerialAdapter> adapters() const override;

  // Highest COM number of the program's menu, looked up in [PORTS].
  static constexpr std::int16_t kMaxComNumber = 10;

 private:
  // The device [PORTS] names for COM n, empty when none.
  std::string configuredDevice(std::int16_t comNumber) const;
  // The lowest COM number that opens the port, 0 when none does.
  std::int16_t comNumberOpening(const SerialPortInfo& port) const;

  ConfiguredPorts configuredPorts_;
  PortLister lister_;
  std::map<std::int16_t, std::string> configured_;
  std::vector<SerialPortInfo> ports_;
};

}  // namespace tarnset
