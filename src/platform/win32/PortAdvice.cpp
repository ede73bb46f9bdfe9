#include "platform/PortAdvice.h"

namespace tarnset {

namespace {

// How to point the program at the right port: a COM number is mapped to the adapter's
// number (the command on a line of its own, ready to copy), a port named on the command
// line is given anew.
std::string mapHint(const std::string& comName) {
  if (comName.empty()) {
    return "give the adapter's port with --port; Device Manager > Ports (COM & LPT) shows its number "
           "(tarnset-cli ports lists the serial ports found).";
  }
  const std::string n = comName.substr(comName.find_last_of(' ') + 1);
  return "map " + comName +
         " to the adapter's port: Device Manager > Ports (COM & LPT) shows the number Windows gave it "
         "(tarnset-cli ports lists the serial ports found); for COM12:\r\n    tarnset-cli ports --map " +
         n + "=COM12";
}

bool startsWith(const std::string& s, const std::string& prefix) {
  return s.rfind(prefix, 0) == 0;
}

}  // namespace

std::string portNextStep(const PortFailure& f, const std::string& device, const std::string& comName) {
  using Kind = PortFailure::Kind;
  switch (f.kind) {
    case Kind::None:
      return {};
    case Kind::NoDevice:
      return "plug in the cable's adapter and connect again, or " + mapHint(comName);
    case Kind::PermissionDenied:
      return "ask the administrator for access to " + device + ".";
    case Kind::Busy:
      if (!f.holder.empty()) return "close " + f.holder + ", which holds the port, then connect again.";
      return "another program holds the port (a terminal program, or a second copy of this program): close "
             "it, then connect again.";
    case Kind::NotASerialPort:
      return mapHint(comName);
    case Kind::Gone:
      return "the cable's adapter was removed: plug it in again, then press Connect (or run the command "
             "again).";
    case Kind::WriteRefused:
      return "unplug the cable's adapter and plug it in again, then connect again.";
    case Kind::Other:
      if (startsWith(f.reason, "the line settings were refused") ||
          startsWith(f.reason, "the port's time-outs were refused")) {
        return "the adapter's driver refused the port's settings: unplug the adapter and plug it in again, "
               "or install the driver its maker offers for it; then connect again.";
      }
      return "check the cable's adapter (unplug it and plug it in again; Device Manager > Ports (COM & LPT) "
             "shows whether its driver works), then connect again.";
  }
  return {};
}

}  // namespace tarnset
