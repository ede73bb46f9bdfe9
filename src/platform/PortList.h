#pragma once
// What the program knows of the machine's serial ports, on every system.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/SerialPort.h"

namespace tarnset {

// One serial port found on the machine.
struct SerialPortInfo {
  std::string kernelName;    // the system's name: "ttyUSB0", "COM12"
  std::string device;        // what opens it: "/dev/ttyUSB0", "\\.\COM12"
  std::string byId;          // a name that stays with the adapter (/dev/serial/by-id), empty when none
  std::string driver;        // driver: "usbserial", "cdc_acm", "serial8250"; the service on Windows
  std::string vendorId;      // USB vendor id, four hex digits ("1a2b"); empty for on-board ports
  std::string productId;     // USB product id ("6001")
  std::string manufacturer;  // manufacturer text
  std::string product;       // product text; the friendly name on Windows
  std::string serial;        // USB serial number text
  bool bluetooth =
      false;  // a Bluetooth serial port: opening it connects to the far device, which takes seconds

  // The path the program opens: the by-id link where there is one, else the device.
  const std::string& path() const { return byId.empty() ? device : byId; }
};

// "first, second" of the parts that are not empty: a caption's "COM7, USB Serial Port".
std::string joinNonEmpty(const std::vector<std::string>& parts);

// One line describing a port for a person: its path and, where known, what it is
// ("/dev/serial/by-id/usb-... (USB UART, usbserial)").
std::string describePort(const SerialPortInfo& info);

// "path (first, second, ...)", or the path alone when there is nothing to add.
std::string describePortAs(const std::string& path, const std::vector<std::string>& details);

// True when a port given on the command line names a device rather than a COM number:
// a path here ("/dev/ttyUSB0"); on Windows a port name or path ("COM12", "\\.\COM12").
bool namesADevice(const std::string& port);

// The device that the options file names for COM n (its [PORTS] value, as written there),
// empty when it names none. The file is read anew on every call.
using ConfiguredPorts = std::function<std::string(std::int16_t comNumber)>;

}  // namespace tarnset
