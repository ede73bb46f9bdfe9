// Port listing and the COM mapping over a fake device tree built in a temporary folder:
// sysfs-like folders and links under sys/, device nodes and by-id links under dev/.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/IniFile.h"
#include "platform/SystemPortResolver.h"

namespace tarnset {
namespace {

namespace fs = std::filesystem;

// The [PORTS] entries of an options file, as the programs read them.
ConfiguredPorts portsOf(const fs::path& optionsFile) {
  return [file = optionsFile.string()](std::int16_t n) {
    return iniReadString("PORTS", "COM" + std::to_string(n), "", 1024, file);
  };
}

class FakeDeviceTree : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("tarnset-ports-" + std::to_string(::getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    roots_ = {(root_ / "sys").string(), (root_ / "dev").string()};
    fs::create_directories(root_ / "dev" / "serial" / "by-id");

    // Two USB serial adapters and a third one numbered 10; one with a by-id link.
    addUsbDevice("usb1/1-1", "3c4d", "0001", "Bench Cables", "USB-Serial Controller", "");
    addTty("ttyUSB0", "usb1/1-1/1-1:1.0/ttyUSB0", "usbserial");
    addUsbDevice("usb1/1-2", "1a2b", "0042", "Acme Serial", "USB UART", "A1B2C3");
    addTty("ttyUSB1", "usb1/1-2/1-2:1.0/ttyUSB1", "usbserial");
    addUsbDevice("usb1/1-4", "1a2b", "0043", "Acme Serial", "Mini UART", "Z9");
    addTty("ttyUSB10", "usb1/1-4/1-4:1.0/ttyUSB10", "usbserial");
    fs::create_symlink("../../ttyUSB1",
                       root_ / "dev/serial/by-id/usb-Acme_Serial_USB_UART_A1B2C3-if00-port0");
    // A modem-class adapter: its tty device is the USB interface itself.
    addUsbDevice("usb1/1-3", "2341", "0043", "Maker", "Uno", "");
    addTty("ttyACM0", "usb1/1-3/1-3:1.0", "cdc_acm");
    // On-board ports: one with a UART behind it, one without, one that says nothing.
    addTty("ttyS0", "platform/serial8250/ttyS0", "serial8250", "4");
    addTty("ttyS1", "platform/serial8250/ttyS1", "serial8250", "0");
    addTty("ttyS2", "platform/serial8250/ttyS2", "serial8250");
    // A virtual terminal (no device) and an adapter whose node is missing.
    fs::create_directories(root_ / "sys/class/tty/tty1");
    touch(root_ / "dev/tty1");
    addTty("ttyUSB5", "usb1/1-5/1-5:1.0/ttyUSB5", "usbserial");
    fs::remove(root_ / "dev/ttyUSB5");
  }
  void TearDown() override { fs::remove_all(root_); }

  static void write(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text << "\n";
  }
  static void touch(const fs::path& file) { std::ofstream{file}; }

  void addUsbDevice(const std::string& at, const std::string& vid, const std::string& pid,
                    const std::string& maker, const std::string& product, const std::string& serial) {
    const fs::path dir = root_ / "sys/devices/pci0" / at;
    write(dir / "idVendor", vid);
    write(dir / "idProduct", pid);
    write(dir / "manufacturer", maker);
    write(dir / "product", product);
    if (!serial.empty()) write(dir / "serial", serial);
  }

  void addTty(const std::string& name, const std::string& deviceAt, const std::string& driver,
              const std::string& uartType = "") {
    const fs::path device = root_ / "sys/devices/pci0" / deviceAt;
    const fs::path driverDir = root_ / "sys/bus/drivers" / driver;
    fs::create_directories(device);
    fs::create_directories(driverDir);
    if (!fs::exists(device / "driver")) fs::create_directory_symlink(driverDir, device / "driver");
    const fs::path cls = root_ / "sys/class/tty" / name;
    fs::create_directories(cls);
    fs::create_directory_symlink(device, cls / "device");
    if (!uartType.empty()) write(cls / "type", uartType);
    touch(root_ / "dev" / name);
  }

  std::string dev(const std::string& name) const { return (root_ / "dev" / name).string(); }

  fs::path root_;
  SystemRoots roots_;
};

TEST_F(FakeDeviceTree, PortsAreListedUsbFirstThenModemsThenRealUartsInNumericOrder) {
  const auto ports = listSerialPorts(roots_);
  std::vector<std::string> names;
  for (const auto& p : ports) names.push_back(p.kernelName);
  EXPECT_EQ(names, (std::vector<std::string>{"ttyUSB0", "ttyUSB1", "ttyUSB10", "ttyACM0", "ttyS0"}));
}

TEST_F(FakeDeviceTree, ListingDescribesEachPort) {
  const auto ports = listSerialPorts(roots_);
  ASSERT_EQ(ports.size(), 5u);
  const SerialPortInfo& acme = ports[1];
  EXPECT_EQ(acme.device, dev("ttyUSB1"));
  EXPECT_EQ(acme.byId, dev("serial/by-id/usb-Acme_Serial_USB_UART_A1B2C3-if00-port0"));
  EXPECT_EQ(acme.path(), acme.byId);
  EXPECT_EQ(acme.driver, "usbserial");
  EXPECT_EQ(acme.vendorId, "1a2b");
  EXPECT_EQ(acme.productId, "0042");
  EXPECT_EQ(acme.manufacturer, "Acme Serial");
  EXPECT_EQ(acme.product, "USB UART");
  EXPECT_EQ(acme.serial, "A1B2C3");
  EXPECT_EQ(describePort(acme), acme.byId + " (" + dev("ttyUSB1") + ", USB UART, 1a2b:0042, usbserial)");

  EXPECT_EQ(ports[0].path(), dev("ttyUSB0"));  // no by-id link: the node itself
  EXPECT_EQ(ports[3].vendorId, "2341");        // a modem's ids sit above its interface
  EXPECT_EQ(describePort(ports[4]), dev("ttyS0") + " (serial8250)");
}

TEST_F(FakeDeviceTree, ComNumbersFollowTheOptionsFileThenTheListing) {
  const fs::path options = root_ / "TarnsetADJ.rs";
  write(options, "[OPTION]\nComPort=1\n[PORTS]\nCOM2=/dev/serial/by-id/usb-Bench_Cable\nCOM3=ttyS0\nCOM4=\n");
  SystemPortResolver resolver(portsOf(options), roots_);
  EXPECT_EQ(resolver.deviceFor(1), dev("ttyUSB0"));
  EXPECT_EQ(resolver.deviceFor(2), "/dev/serial/by-id/usb-Bench_Cable");
  EXPECT_TRUE(resolver.isConfigured(2));
  EXPECT_EQ(resolver.deviceFor(3), dev("ttyS0"));
  EXPECT_EQ(resolver.deviceFor(4), dev("ttyACM0"));  // an empty key does not count
  EXPECT_EQ(resolver.deviceFor(5), dev("ttyS0"));
  EXPECT_EQ(resolver.deviceFor(6), "");
  EXPECT_EQ(resolver.deviceFor(0), "");
  EXPECT_EQ(resolver.describe(6), "no serial port");
}

TEST_F(FakeDeviceTree, TheMappingOnlyChangesOnRefresh) {
  SystemPortResolver resolver(portsOf(root_ / "missing.rs"), roots_);
  ASSERT_EQ(resolver.deviceFor(1), dev("ttyUSB0"));
  fs::remove_all(root_ / "sys/class/tty/ttyUSB0");  // the adapter is unplugged
  EXPECT_EQ(resolver.deviceFor(1), dev("ttyUSB0"));
  resolver.refresh();
  EXPECT_EQ(resolver.deviceFor(1), dev("serial/by-id/usb-Acme_Serial_USB_UART_A1B2C3-if00-port0"));
}

// Connect takes a COM number anew only when it has no device now: an adapter plugged in
// after start is found, but a device that exists keeps its number, and another number's
// device is never taken.
TEST_F(FakeDeviceTree, AnAdapterPluggedInLateIsTakenAtConnectWithoutMovingAnyOther) {
  const fs::path options = root_ / "TarnsetADJ.rs";
  write(options, "[PORTS]\nCOM8=/dev/ttyBench\n");
  SystemPortResolver resolver(portsOf(options), roots_);
  ASSERT_EQ(resolver.deviceFor(6), "");
  const std::string acme = dev("serial/by-id/usb-Acme_Serial_USB_UART_A1B2C3-if00-port0");

  // A device that exists is never replaced, even where a refresh would order them anew.
  fs::remove_all(root_ / "sys/class/tty/ttyUSB0");
  fs::remove(root_ / "dev/ttyUSB0");
  resolver.resolveAnew(2);
  EXPECT_EQ(resolver.deviceFor(2), acme);
  // COM 1's adapter is gone, and every port left has its number: COM 1 gets none.
  resolver.resolveAnew(1);
  EXPECT_EQ(resolver.deviceFor(1), "");
  EXPECT_EQ(resolver.describe(1), "no serial port");

  // A new adapter comes: COM 6, which had none, takes it; COM 1 then finds nothing left.
  addUsbDevice("usb1/1-6", "0c0d", "0002", "Bench Cables", "Cloning Cable", "");
  addTty("ttyUSB3", "usb1/1-6/1-6:1.0/ttyUSB3", "usbserial");
  resolver.resolveAnew(6);
  EXPECT_EQ(resolver.deviceFor(6), dev("ttyUSB3"));
  EXPECT_EQ(resolver.describe(6), dev("ttyUSB3") + " (Cloning Cable, 0c0d:0002, usbserial)");
  resolver.resolveAnew(1);
  EXPECT_EQ(resolver.deviceFor(1), "") << "the new adapter is COM 6's";
}

TEST_F(FakeDeviceTree, ANumberNamedInTheOptionsFileKeepsItsDeviceAndTakesANewMapping) {
  const fs::path options = root_ / "TarnsetADJ.rs";
  write(options, "[PORTS]\nCOM1=/dev/serial/by-id/usb-Missing_Cable\n");
  SystemPortResolver resolver(portsOf(options), roots_);
  resolver.resolveAnew(1);
  EXPECT_EQ(resolver.deviceFor(1), "/dev/serial/by-id/usb-Missing_Cable") << "not replaced by a port found";
  // Mapped meanwhile from the command line: Connect takes the new mapping.
  write(options, "[PORTS]\nCOM1=ttyUSB10\n");
  resolver.resolveAnew(1);
  EXPECT_EQ(resolver.deviceFor(1), dev("ttyUSB10"));
  // Unmapped again: COM 1 takes the one port found that no other number names (COM 2..5
  // took the others when COM 1 was mapped).
  write(options, "[PORTS]\n");
  resolver.resolveAnew(1);
  EXPECT_EQ(resolver.deviceFor(1), dev("ttyUSB0"));
}

TEST_F(FakeDeviceTree, BluetoothPortsComeLastMarkedAsSuch) {
  // rfcomm bind makes a tty without a device behind it.
  fs::create_directories(root_ / "sys/class/tty/rfcomm0");
  touch(root_ / "dev/rfcomm0");
  const auto ports = listSerialPorts(roots_);
  ASSERT_EQ(ports.size(), 6u);
  EXPECT_EQ(ports.back().kernelName, "rfcomm0");
  EXPECT_TRUE(ports.back().bluetooth);
  EXPECT_FALSE(ports.front().bluetooth);
  EXPECT_EQ(describePort(ports.back()), dev("rfcomm0") + " (rfcomm, Bluetooth)");
}

TEST_F(FakeDeviceTree, TheAdaptersPresentSayWhatTheyAreAndWhichNumberOpensThem) {
  const fs::path options = root_ / "TarnsetADJ.rs";
  write(options, "[PORTS]\nCOM1=ttyUSB10\nCOM7=" +
                     dev("serial/by-id/usb-Acme_Serial_USB_UART_A1B2C3-if00-port0") + "\n");
  SystemPortResolver resolver(portsOf(options), roots_);
  const std::vector<SerialAdapter> adapters = resolver.adapters();
  ASSERT_EQ(adapters.size(), 5u);
  // COM n is the n-th port found where [PORTS] names none: the first port found is
  // COM 1's place, which the mapping has taken, so that no number opens ttyUSB0.
  EXPECT_EQ(adapters[0].systemName, dev("ttyUSB0"));
  EXPECT_EQ(adapters[0].name, "USB-Serial Controller");
  EXPECT_EQ(adapters[0].maker, "Bench Cables");
  EXPECT_EQ(adapters[0].comNumber, 0);
  // Found as COM 2 by its by-id link, and mapped as COM 7 by the same link: the lowest.
  EXPECT_EQ(adapters[1].device, dev("serial/by-id/usb-Acme_Serial_USB_UART_A1B2C3-if00-port0"));
  EXPECT_EQ(adapters[1].comNumber, 2);
  EXPECT_EQ(adapters[2].systemName, dev("ttyUSB10"));
  EXPECT_EQ(adapters[2].comNumber, 1) << "mapped by its node's name (found as COM 3 too)";
  EXPECT_FALSE(adapters[2].bluetooth);

  EXPECT_EQ(resolver.caption(1), dev("ttyUSB10") + ", Mini UART");
  EXPECT_EQ(resolver.caption(7), dev("ttyUSB1") + ", USB UART");
  EXPECT_EQ(resolver.caption(9), "no serial port");
  write(options, "[PORTS]\nCOM1=/dev/ttyGone\n");
  resolver.refresh();
  EXPECT_EQ(resolver.caption(1), "/dev/ttyGone (not found)");
}

TEST(PortListing, AMissingTreeListsNothing) {
  EXPECT_TRUE(listSerialPorts({"/nonexistent-sys-root", "/nonexistent-dev-root"}).empty());
}

}  // namespace
}  // namespace tarnset
