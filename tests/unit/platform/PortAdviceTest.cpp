// The details below a port failure's message: which device, why, and the next step, for
// each kind of failure; and finding the program that holds a busy device.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/PortAdvice.h"
#include "platform/posix/PosixSerialPort.h"

namespace tarnset {
namespace {

namespace fs = std::filesystem;
using Kind = PortFailure::Kind;

PortFailure busyWith(const std::string& holder, bool prober) {
  PortFailure f(Kind::Busy, "in use by " + holder);
  f.holder = holder;
  f.holderIsModemProber = prober;
  return f;
}

TEST(PortAdvice, EachFailureSaysWhichDeviceWhyAndWhatToDoNext) {
  PortFailure denied(Kind::PermissionDenied, "permission denied (the device belongs to group dialout)");
  denied.group = "dialout";
  const std::string dev = "/dev/serial/by-id/usb-cable-if00-port0";
  struct Case {
    const char* what;
    PortFailure failure;
    std::string device;
    std::string next;
  } cases[] = {
      {"permission, group known", denied, dev,
       "Add your user to group dialout (sudo usermod -aG dialout $USER), then log in again; or install the "
       "package's udev rule, which lets the user at the desk open the cable's adapter."},
      {"permission, group unknown", PortFailure(Kind::PermissionDenied, "permission denied"), dev,
       "Ask the administrator for access to " + dev +
           ", or install the package's udev rule, which lets the user at the desk open the cable's adapter."},
      {"held by the modem prober", busyWith("ModemManager (PID 612)", true), dev,
       "The system's modem-probing service has taken the adapter for a modem: install the package's udev "
       "rule "
       "(it tells the service to leave cloning cables alone) and plug the cable in again, or stop the "
       "service "
       "(sudo systemctl stop ModemManager); then connect again."},
      {"held by a known program", busyWith("minicom (PID 4711)", false), dev,
       "Close minicom (PID 4711), which holds the port, then connect again."},
      {"held, holder unknown", PortFailure(Kind::Busy, "in use by another program"), dev,
       "The port is held by another program: close it, then connect again."},
      {"no such device", PortFailure(Kind::NoDevice, "no such device"), dev,
       "Plug in the cable's adapter and connect again, or map COM 2 to the adapter's device (tarnset-cli "
       "ports "
       "lists the serial ports found):\r\n    tarnset-cli ports --map 2=DEVICE"},
      {"no device for the number", PortFailure(Kind::NoDevice, "no serial port is known for COM 2"), "",
       "Plug in the cable's adapter and connect again, or map COM 2 to the adapter's device (tarnset-cli "
       "ports "
       "lists the serial ports found):\r\n    tarnset-cli ports --map 2=DEVICE"},
      {"not a serial port", PortFailure(Kind::NotASerialPort, "not a serial port"), "/home/k/notes.txt",
       "Map COM 2 to the adapter's device (tarnset-cli ports lists the serial ports found):\r\n    "
       "tarnset-cli "
       "ports --map 2=DEVICE"},
      {"gone", PortFailure(Kind::Gone, "the device went away"), dev,
       "Plug the cable in again and connect again."},
      {"write refused", PortFailure(Kind::WriteRefused, "the device refused the data (Input/output error)"),
       dev, "Unplug the cable's adapter and plug it in again, then connect again."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string port = c.device.empty() ? "no serial port found for COM 2" : c.device + " (COM 2)";
    EXPECT_EQ(portFailureDetails(c.failure, c.device, "COM 2"),
              "Port: " + port + "\r\nReason: " + c.failure.reason + "\r\nNext step: " + c.next);
  }
}

TEST(PortAdvice, APortNamedByItsPathIsGivenAgainRatherThanMapped) {
  EXPECT_EQ(
      portFailureDetails(PortFailure(Kind::NoDevice, "no such device"), "/dev/ttyUSB7", ""),
      "Port: /dev/ttyUSB7\r\nReason: no such device\r\nNext step: Plug in the cable's adapter and connect "
      "again, or give the adapter's device with --port (tarnset-cli ports lists the serial ports found).");
  EXPECT_EQ(portFailureDetails(PortFailure(), "/dev/ttyUSB7", "COM 1"), "")
      << "nothing failed, nothing to say";
}

TEST(PortAdvice, ABluetoothPortIsNamedAndLeadsToTheCablesOwnDevice) {
  // An rfcomm port bound to a phone that is off: the open fails, and the port says so.
  PortFailure failure = describeOpenFailure(EIO, "/dev/rfcomm0");
  failure.bluetooth = true;
  EXPECT_EQ(
      portFailureDetails(failure, "/dev/rfcomm0", "COM 3"),
      "Port: /dev/rfcomm0 (COM 3, Bluetooth)\r\nReason: the device does not respond (input/output "
      "error)\r\nNext step: This is a Bluetooth port, which answers only while the device paired with it is "
      "switched on and in reach; the cloning cable's adapter has a port of its own: map COM 3 to the "
      "adapter's device (tarnset-cli ports lists the serial ports found):\r\n    tarnset-cli ports --map "
      "3=DEVICE");
  EXPECT_TRUE(isBluetoothDevice("/dev/rfcomm0"));
  EXPECT_FALSE(isBluetoothDevice("/dev/ttyUSB0"));
}

// A fake process table: /proc/<pid>/comm and /proc/<pid>/fd/<n> links.
class FakeProc : public ::testing::Test {
 protected:
  FakeProc() {
    root_ = fs::temp_directory_path() / ("tarnset-proc-" + std::to_string(::getpid()));
    fs::create_directories(root_);
    device_ = root_ / "ttyUSB0";
    std::ofstream(device_) << "";
  }
  ~FakeProc() override { fs::remove_all(root_); }
  void process(int pid, const std::string& name, const std::vector<fs::path>& open) {
    const fs::path p = root_ / "proc" / std::to_string(pid);
    fs::create_directories(p / "fd");
    std::ofstream(p / "comm") << name << "\n";
    int n = 3;
    for (const fs::path& f : open) fs::create_symlink(f, p / "fd" / std::to_string(n++));
  }
  fs::path root_, device_;
};

TEST_F(FakeProc, TheProcessesHoldingADeviceAreFoundByTheirDescriptors) {
  process(612, "ModemManager", {root_ / "other", device_});
  process(77, "minicom", {device_});
  process(90, "bash", {root_ / "other"});
  fs::create_directories(root_ / "proc" / "self");  // not a process number
  const auto holders = findDeviceHolders(device_.string(), (root_ / "proc").string());
  ASSERT_EQ(holders.size(), 2u);
  EXPECT_EQ(holders[0].pid, 77);
  EXPECT_EQ(holders[0].name, "minicom");
  EXPECT_EQ(holders[1].pid, 612);
  EXPECT_EQ(holders[1].name, "ModemManager");

  // A link to the device (the by-id name) is the same device.
  const fs::path byId = root_ / "usb-cable-port0";
  fs::create_symlink(device_, byId);
  const PortFailure f = describeOpenFailure(EBUSY, byId.string(), (root_ / "proc").string());
  EXPECT_EQ(f.kind, Kind::Busy);
  EXPECT_EQ(f.holder, "minicom (PID 77)");
  EXPECT_FALSE(f.holderIsModemProber);
  EXPECT_EQ(f.reason, "in use by minicom (PID 77)");
}

TEST_F(FakeProc, TheModemProberIsRecognisedAndNoHolderMeansAnotherProgram) {
  process(612, "ModemManager", {device_});
  PortFailure f = describeOpenFailure(EBUSY, device_.string(), (root_ / "proc").string());
  EXPECT_TRUE(f.holderIsModemProber);
  EXPECT_EQ(f.reason, "in use by ModemManager (PID 612)");
  f = describeOpenFailure(EBUSY, (root_ / "ttyUSB9").string(), (root_ / "proc").string());
  EXPECT_EQ(f.holder, "");
  EXPECT_EQ(f.reason, "in use by another program");
}

}  // namespace
}  // namespace tarnset
