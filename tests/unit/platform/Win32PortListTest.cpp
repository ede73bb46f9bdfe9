// Windows port names, the listing made from what the registry, the device manager and
// Wine's prefix say, and the mapping of COM numbers: COM n is the system's own unless the
// options file names another.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "platform/SystemPortResolver.h"
#include "platform/win32/ComNames.h"

namespace tarnset {
namespace {

using win32::comDeviceName;
using win32::comNumberOf;

TEST(ComNames, PortsAreOpenedByTheirDeviceNames) {
  const std::pair<std::string, std::string> cases[] = {
      {"COM12", "\\\\.\\COM12"},      {"com3", "\\\\.\\COM3"},
      {" COM4: ", "\\\\.\\COM4"},     {"\\\\.\\COM12", "\\\\.\\COM12"},
      {"\\\\.\\com7", "\\\\.\\COM7"}, {"VPA0", "\\\\.\\VPA0"},
      {"\\\\.\\VPA0", "\\\\.\\VPA0"}, {"C:\\ports\\x", "C:\\ports\\x"},
      {"COM0", "\\\\.\\COM0"},        {"", ""},
  };
  for (const auto& [written, device] : cases) EXPECT_EQ(comDeviceName(written), device) << written;

  EXPECT_EQ(comNumberOf("COM1"), 1);
  EXPECT_EQ(comNumberOf("\\\\.\\com256"), 256);
  EXPECT_EQ(comNumberOf("COM12:"), 12);
  for (const char* other : {"COM", "COM0", "COM01", "COM+1", "COM1a", "LPT1", "VPA0", "COM1234567"}) {
    EXPECT_EQ(comNumberOf(other), 0) << other;
  }
}

// What a machine with a USB serial adapter, a modem-class adapter, an on-board port, a
// printer port and a virtual port pair says about its ports.
PortSources aMachine() {
  PortSources s;
  s.serialMap = {{"\\Device\\AcmeVcp0", "COM12"},
                 {"\\Device\\Serial0", "COM1"},
                 {"\\Device\\USBSER000", "COM3"},
                 {"\\Device\\vpair10", "VPA0"}};
  PortSources::Device acme;
  acme.portName = "COM12";
  acme.friendlyName = "USB Serial Port (COM12)";
  acme.manufacturer = "Acme Serial";
  acme.service = "acmeser";
  acme.hardwareIds = {"ACMEBUS\\COMPORT&VID_1A2B&PID_0042"};
  acme.instanceId = "ACMEBUS\\VID_1A2B+PID_0042+A1B2C3D4A\\0000";
  PortSources::Device acm;
  acm.portName = "COM3";
  acm.friendlyName = "USB Serial Device (COM3)";
  acm.manufacturer = "Bench Cables";
  acm.service = "usbser";
  acm.hardwareIds = {"USB\\VID_3C4D&PID_0001&REV_0001", "USB\\VID_3C4D&PID_0001"};
  acm.instanceId = "USB\\VID_3C4D&PID_0001\\5A1B2C3D4E";
  PortSources::Device onBoard;
  onBoard.portName = "COM1";
  onBoard.friendlyName = "Communications Port (COM1)";
  onBoard.manufacturer = "(Standard port types)";
  onBoard.service = "Serial";
  onBoard.hardwareIds = {"ACPI\\PNP0501"};
  onBoard.instanceId = "ACPI\\PNP0501\\1";
  PortSources::Device printer;
  printer.portName = "LPT1";
  printer.friendlyName = "Printer Port (LPT1)";
  PortSources::Device late;  // present, but missing from the serial map
  late.portName = "COM2";
  late.friendlyName = "Mini UART (COM2)";
  late.hardwareIds = {"USB\\VID_0C0D&PID_0002&REV_0100"};
  late.instanceId = "USB\\VID_0C0D&PID_0002\\6&2A3B4C5D&0&2";
  s.devices = {acme, acm, onBoard, printer, late};
  return s;
}

TEST(PortListing, EachPortOnceInNumericComOrderWithWhatTheSystemKnows) {
  const auto ports = mergePortSources(aMachine());
  std::vector<std::string> names;
  for (const auto& p : ports) names.push_back(p.kernelName);
  EXPECT_EQ(names, (std::vector<std::string>{"COM1", "COM2", "COM3", "COM12", "VPA0"}));

  const SerialPortInfo& acme = ports[3];
  EXPECT_EQ(acme.device, "\\\\.\\COM12");
  EXPECT_EQ(acme.path(), acme.device);
  EXPECT_EQ(acme.product, "USB Serial Port (COM12)");
  EXPECT_EQ(acme.manufacturer, "Acme Serial");
  EXPECT_EQ(acme.driver, "acmeser");
  EXPECT_EQ(acme.vendorId, "1a2b");
  EXPECT_EQ(acme.productId, "0042");
  EXPECT_EQ(describePort(acme), "\\\\.\\COM12 (USB Serial Port, Acme Serial, 1a2b:0042, acmeser)");

  const SerialPortInfo& acm = ports[2];
  EXPECT_EQ(acm.serial, "5A1B2C3D4E");
  EXPECT_EQ(describePort(acm), "\\\\.\\COM3 (USB Serial Device, Bench Cables, 3c4d:0001, usbser)");
  EXPECT_EQ(ports[1].serial, "") << "a made-up instance id is no serial number";
  EXPECT_EQ(ports[1].vendorId, "0c0d");
  EXPECT_EQ(describePort(ports[0]), "\\\\.\\COM1 (Communications Port, Serial)");
  // Known to the serial map alone: its driver's device names the driver.
  EXPECT_EQ(describePort(ports[4]), "\\\\.\\VPA0 (vpair)");
}

// A laptop's two Bluetooth serial ports (the Bluetooth stack's enumerator made them) and
// a cable's USB adapter whose friendly name is in the system's language.
PortSources aLaptop() {
  PortSources s;
  s.serialMap = {
      {"\\Device\\BthModem0", "COM3"}, {"\\Device\\BthModem1", "COM4"}, {"\\Device\\VCP0", "COM7"}};
  PortSources::Device outgoing;
  outgoing.portName = "COM3";
  outgoing.friendlyName = "Standard Serial over Bluetooth link (COM3)";
  outgoing.manufacturer = "Microsoft";
  outgoing.service = "BTHMODEM";
  outgoing.enumerator = "BTHENUM";
  outgoing.instanceId =
      "BTHENUM\\{00001101-0000-1000-8000-00805F9B34FB}_LOCALMFG&0000\\7&1A2B3C4D&0&000000000000_00000000";
  PortSources::Device incoming = outgoing;
  incoming.portName = "COM4";
  incoming.friendlyName = "Standard Serial over Bluetooth link (COM4)";
  incoming.enumerator.clear();  // told by its ids alone
  PortSources::Device cable;
  cable.portName = "COM7";
  cable.friendlyName = "Périphérique série USB (COM7)";
  cable.manufacturer = "Acme Serial";
  cable.service = "acmeser";
  cable.enumerator = "USB";
  cable.hardwareIds = {"USB\\VID_1A2B&PID_0042&REV_0600"};
  s.devices = {outgoing, incoming, cable};
  return s;
}

TEST(PortListing, BluetoothPortsAreMarkedAsSuch) {
  const auto ports = mergePortSources(aLaptop());
  ASSERT_EQ(ports.size(), 3u);
  EXPECT_TRUE(ports[0].bluetooth);
  EXPECT_TRUE(ports[1].bluetooth) << "a BTHENUM instance id is enough";
  EXPECT_FALSE(ports[2].bluetooth);
  EXPECT_EQ(describePort(ports[0]),
            "\\\\.\\COM3 (Standard Serial over Bluetooth link, Microsoft, BTHMODEM, Bluetooth)");
  EXPECT_EQ(describePort(ports[2]), "\\\\.\\COM7 (Périphérique série USB, Acme Serial, 1a2b:0042, acmeser)");
}

TEST(PortListing, UnderWineThePrefixLinksAreListedToo) {
  // Wine lists the ports it made itself in the serial map, but not the comN links put
  // into the prefix by hand, which it opens all the same.
  PortSources s;
  s.serialMap = {{"\\Device\\Serial0", "COM1"}};
  s.wineLinks = {"com1", "com7", "com10"};
  s.wineFolder = "/home/k/.wine/dosdevices/";
  const auto ports = mergePortSources(s);
  ASSERT_EQ(ports.size(), 3u);
  EXPECT_EQ(describePort(ports[0]), "\\\\.\\COM1 (Serial)");
  EXPECT_EQ(describePort(ports[1]), "\\\\.\\COM7 (Wine link /home/k/.wine/dosdevices/com7)");
  EXPECT_EQ(ports[2].device, "\\\\.\\COM10");
}

TEST(PortListing, NothingKnownListsNothing) {
  EXPECT_TRUE(mergePortSources(PortSources{}).empty());
}

class TempFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() /
              ("tarnset-dosdevices-" + std::to_string(GetCurrentProcessId()));
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }
  void touch(const std::string& name) { std::ofstream(folder_ / name) << ""; }
  std::filesystem::path folder_;
};

TEST_F(TempFolder, TheComEntriesOfAFolderAreFoundByName) {
  // (COM1 to COM9 are device names in every folder: no file of that name can be made.)
  for (const char* name : {"com10", "com12", "COM23", "comx", "lpt10", "compass", "com01"}) touch(name);
  EXPECT_EQ(comLinksIn(folder_.string()), (std::vector<std::string>{"COM23", "com10", "com12"}));
  EXPECT_TRUE(comLinksIn((folder_ / "missing").string()).empty());
  EXPECT_TRUE(comLinksIn("").empty());
}

TEST(PortListing, UnderWineThePrefixFolderIsFound) {
  const bool wine = GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
  const std::string folder = wineDosDevicesFolder();
  if (!wine) {
    EXPECT_EQ(folder, "");
    return;
  }
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), '\\');
  EXPECT_NE(folder.find("\\dosdevices\\"), std::string::npos) << folder;
  const DWORD attributes = GetFileAttributesA(folder.c_str());
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES) << folder;
  EXPECT_NE(attributes & FILE_ATTRIBUTE_DIRECTORY, 0u) << folder;
  EXPECT_NE(readPortSources().wineFolder, "");
}

// ---- COM numbers ----------------------------------------------------------------------

// [PORTS] entries held in memory, changed by the test as the options file would be.
struct Entries {
  std::map<std::int16_t, std::string> values;
  ConfiguredPorts configured() {
    return [this](std::int16_t n) {
      const auto it = values.find(n);
      return it == values.end() ? std::string() : it->second;
    };
  }
};

TEST(ComMapping, ComNIsTheSystemsOwnUnlessTheOptionsFileNamesAnother) {
  Entries entries;
  entries.values = {{1, "COM12"}, {2, "\\\\.\\COM13"}, {3, ""}, {4, "VPA0"}, {11, "COM5"}};
  SystemPortResolver resolver(entries.configured(), [] { return mergePortSources(aMachine()); });
  EXPECT_EQ(resolver.deviceFor(1), "\\\\.\\COM12");
  EXPECT_TRUE(resolver.isConfigured(1));
  EXPECT_EQ(resolver.deviceFor(2), "\\\\.\\COM13");
  EXPECT_EQ(resolver.deviceFor(3), "\\\\.\\COM3") << "an empty entry does not count";
  EXPECT_FALSE(resolver.isConfigured(3));
  EXPECT_EQ(resolver.deviceFor(4), "\\\\.\\VPA0");
  EXPECT_EQ(resolver.deviceFor(10), "\\\\.\\COM10");
  EXPECT_EQ(resolver.deviceFor(0), "");
  EXPECT_EQ(resolver.deviceFor(11), "") << "beyond the menu's numbers";
  EXPECT_EQ(resolver.ports().size(), 5u);

  EXPECT_EQ(resolver.describe(1), "\\\\.\\COM12 (USB Serial Port, Acme Serial, 1a2b:0042, acmeser)");
  EXPECT_EQ(resolver.describe(3), "\\\\.\\COM3 (USB Serial Device, Bench Cables, 3c4d:0001, usbser)");
  EXPECT_EQ(resolver.describe(2), "\\\\.\\COM13 (not found)");
  EXPECT_EQ(resolver.describe(5), "\\\\.\\COM5 (not found)");
  EXPECT_EQ(resolver.describe(0), "no serial port");
}

TEST(ComMapping, AMappingMadeMeanwhileIsTakenAtConnectAndTheListingOnRefresh) {
  Entries entries;
  std::vector<SerialPortInfo> present;
  SystemPortResolver resolver(entries.configured(), [&present] { return present; });
  EXPECT_EQ(resolver.deviceFor(1), "\\\\.\\COM1");
  EXPECT_EQ(resolver.describe(1), "\\\\.\\COM1 (not found)");

  entries.values[1] = "COM12";  // tarnset-cli ports --map 1=COM12
  EXPECT_EQ(resolver.deviceFor(1), "\\\\.\\COM1") << "nothing changes between two commands";
  resolver.resolveAnew(1);
  EXPECT_EQ(resolver.deviceFor(1), "\\\\.\\COM12");

  present = mergePortSources(aMachine());  // an adapter plugged in
  EXPECT_EQ(resolver.describe(1), "\\\\.\\COM12 (not found)");
  resolver.refresh();
  EXPECT_EQ(resolver.describe(1), "\\\\.\\COM12 (USB Serial Port, Acme Serial, 1a2b:0042, acmeser)");

  entries.values.erase(1);  // tarnset-cli ports --unmap 1
  resolver.resolveAnew(1);
  EXPECT_EQ(resolver.deviceFor(1), "\\\\.\\COM1");
  EXPECT_FALSE(resolver.isConfigured(1));
}

TEST(ComMapping, TheAdaptersPresentSayWhatTheyAreAndWhichNumberOpensThem) {
  // COM 1 opens the cable's adapter (mapped), COM 3 the Bluetooth port (the system's own).
  Entries entries;
  entries.values = {{1, "COM7"}};
  SystemPortResolver resolver(entries.configured(), [] { return mergePortSources(aLaptop()); });
  const std::vector<SerialAdapter> adapters = resolver.adapters();
  ASSERT_EQ(adapters.size(), 3u);
  EXPECT_EQ(adapters[0].name, "Standard Serial over Bluetooth link");
  EXPECT_EQ(adapters[0].maker, "Microsoft");
  EXPECT_EQ(adapters[0].systemName, "COM3");
  EXPECT_EQ(adapters[0].device, "COM3") << "what --map takes";
  EXPECT_TRUE(adapters[0].bluetooth);
  EXPECT_EQ(adapters[0].comNumber, 3);
  EXPECT_EQ(adapters[1].comNumber, 4);
  EXPECT_EQ(adapters[2].name, "Périphérique série USB");
  EXPECT_FALSE(adapters[2].bluetooth);
  EXPECT_EQ(adapters[2].comNumber, 1) << "the lowest number that opens it";

  // The Port menu's captions.
  EXPECT_EQ(resolver.caption(1), "COM7, Périphérique série USB");
  EXPECT_EQ(resolver.caption(3), "COM3, Standard Serial over Bluetooth link, Bluetooth");
  EXPECT_EQ(resolver.caption(2), "COM2 (not found)");
  EXPECT_EQ(resolver.caption(11), "no serial port");

  // Unmapped, the adapter is opened by its own number, beyond the menu's: none of ours.
  entries.values.clear();
  resolver.refresh();
  EXPECT_EQ(resolver.adapters()[2].comNumber, 7);
  entries.values = {{7, "COM3"}};
  resolver.refresh();
  EXPECT_EQ(resolver.adapters()[2].comNumber, 0) << "COM 7 opens the Bluetooth port now";
}

TEST(ComMapping, TheSystemsListingIsInComOrder) {
  // Whatever this machine (or Wine prefix) has: each port once, opened by its device name.
  SystemPortResolver resolver([](std::int16_t) { return std::string(); });
  int last = 0;
  for (const SerialPortInfo& p : resolver.ports()) {
    EXPECT_EQ(p.device.rfind("\\\\.\\", 0), 0u) << p.device;
    const int n = comNumberOf(p.kernelName);
    if (n == 0) continue;
    EXPECT_GT(n, last) << p.kernelName;
    last = n;
  }
}

}  // namespace
}  // namespace tarnset
