#include "platform/PortAdvice.h"

namespace tarnset {

namespace {

// How to point the program at the right device: a COM number is mapped (the command on a
// line of its own, ready to copy), a path is given anew.
std::string mapHint(const std::string& comName) {
  if (comName.empty()) {
    return "give the adapter's device with --port (tarnset-cli ports lists the serial ports found).";
  }
  const std::string n = comName.substr(comName.find_last_of(' ') + 1);
  return "map " + comName +
         " to the adapter's device (tarnset-cli ports lists the serial ports found):\r\n    " +
         "tarnset-cli ports --map " + n + "=DEVICE";
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
      if (!f.group.empty()) {
        return "add your user to group " + f.group + " (sudo usermod -aG " + f.group +
               " $USER), then log in again; or install the package's udev rule, which lets the user at the "
               "desk open the cable's adapter.";
      }
      return "ask the administrator for access to " + device +
             ", or install the package's udev rule, which lets the user at the desk open the cable's "
             "adapter.";
    case Kind::Busy:
      if (f.holderIsModemProber) {
        return "the system's modem-probing service has taken the adapter for a modem: install the package's "
               "udev rule (it tells the service to leave cloning cables alone) and plug the cable in again, "
               "or "
               "stop the service (sudo systemctl stop ModemManager); then connect again.";
      }
      if (!f.holder.empty()) return "close " + f.holder + ", which holds the port, then connect again.";
      return "the port is held by another program: close it, then connect again.";
    case Kind::NotASerialPort:
      return mapHint(comName);
    case Kind::Gone:
      return "plug the cable in again and connect again.";
    case Kind::WriteRefused:
      return "unplug the cable's adapter and plug it in again, then connect again.";
    case Kind::Other:
      return "check the cable's adapter (unplug it and plug it in again), then connect again.";
  }
  return {};
}

}  // namespace tarnset
