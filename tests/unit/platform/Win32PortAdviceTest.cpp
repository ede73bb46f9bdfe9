// The details below a port failure's message on Windows: which port, why, and the next
// step a technician takes there, for each kind of failure.
#include <gtest/gtest.h>

#include <string>

#include "platform/PortAdvice.h"

namespace tarnset {
namespace {

using Kind = PortFailure::Kind;

const std::string kMapSteps =
    "map COM 2 to the adapter's port: Device Manager > Ports (COM & LPT) shows the number Windows gave it "
    "(tarnset-cli ports lists the serial ports found); for COM12:\r\n    tarnset-cli ports --map 2=COM12";

TEST(Win32PortAdvice, EachFailureSaysWhichPortWhyAndWhatToDoNext) {
  PortFailure held(Kind::Busy, "in use by another program");
  const std::string dev = "\\\\.\\COM12";
  struct Case {
    const char* what;
    PortFailure failure;
    std::string device;
    std::string next;
  } cases[] = {
      {"held by another program", held, dev,
       "Another program holds the port (a terminal program, or a second copy of this program): close it, "
       "then "
       "connect again."},
      {"no such port", PortFailure(Kind::NoDevice, "no such device"), dev,
       "Plug in the cable's adapter and connect again, or " + kMapSteps},
      {"no device for the number", PortFailure(Kind::NoDevice, "no serial port is known for COM 2"), "",
       "Plug in the cable's adapter and connect again, or " + kMapSteps},
      {"not a serial port", PortFailure(Kind::NotASerialPort, "not a serial port"), "C:\\notes.txt",
       "Map" + kMapSteps.substr(3)},
      {"adapter removed", PortFailure(Kind::Gone, "the device went away"), dev,
       "The cable's adapter was removed: plug it in again, then press Connect (or run the command again)."},
      {"settings refused",
       PortFailure(Kind::Other, "the line settings were refused (The parameter is incorrect)"), dev,
       "The adapter's driver refused the port's settings: unplug the adapter and plug it in again, or "
       "install "
       "the driver its maker offers for it; then connect again."},
      {"time-outs refused", PortFailure(Kind::Other, "the port's time-outs were refused (Access is denied)"),
       dev,
       "The adapter's driver refused the port's settings: unplug the adapter and plug it in again, or "
       "install "
       "the driver its maker offers for it; then connect again."},
      {"another trouble",
       PortFailure(Kind::Other,
                   "the device does not respond (A device attached to the system is not functioning)"),
       dev,
       "Check the cable's adapter (unplug it and plug it in again; Device Manager > Ports (COM & LPT) shows "
       "whether its driver works), then connect again."},
      {"write refused",
       PortFailure(Kind::WriteRefused, "the device refused the data (The request is not supported)"), dev,
       "Unplug the cable's adapter and plug it in again, then connect again."},
      {"permission", PortFailure(Kind::PermissionDenied, "permission denied"), dev,
       "Ask the administrator for access to \\\\.\\COM12."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string port = c.device.empty() ? "no serial port found for COM 2" : c.device + " (COM 2)";
    EXPECT_EQ(portFailureDetails(c.failure, c.device, "COM 2"),
              "Port: " + port + "\r\nReason: " + c.failure.reason + "\r\nNext step: " + c.next);
  }
}

TEST(Win32PortAdvice, ABluetoothPortIsNamedAndLeadsToTheCablesOwnPort) {
  PortFailure silent(Kind::Other, "no answer from the Bluetooth port");
  silent.bluetooth = true;
  EXPECT_EQ(
      portFailureDetails(silent, "\\\\.\\COM4", "COM 2"),
      "Port: \\\\.\\COM4 (COM 2, Bluetooth)\r\nReason: no answer from the Bluetooth port\r\nNext step: This "
      "is a "
      "Bluetooth port, which answers only while the device paired with it is switched on and in reach; the "
      "cloning cable's adapter has a port of its own: " +
          kMapSteps);
}

TEST(Win32PortAdvice, APortNamedOnTheCommandLineIsGivenAgainRatherThanMapped) {
  EXPECT_EQ(
      portFailureDetails(PortFailure(Kind::NoDevice, "no such device"), "\\\\.\\COM40", ""),
      "Port: \\\\.\\COM40\r\nReason: no such device\r\nNext step: Plug in the cable's adapter and connect "
      "again, or give the adapter's port with --port; Device Manager > Ports (COM & LPT) shows its number "
      "(tarnset-cli ports lists the serial ports found).");
  EXPECT_EQ(portFailureDetails(PortFailure(), "\\\\.\\COM1", "COM 1"), "")
      << "nothing failed, nothing to say";
}

}  // namespace
}  // namespace tarnset
