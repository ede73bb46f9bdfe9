#include "platform/SystemPortResolver.h"

// clang-format off
// windows.h first, then initguid.h: the class GUIDs are defined here, not only declared.
#include <windows.h>
#include <initguid.h>
#include <devguid.h>
#include <setupapi.h>
// clang-format on

#include <algorithm>
#include <cctype>
#include <cwchar>
#include <utility>

#include "platform/win32/ComNames.h"
#include "platform/win32/Text.h"

namespace tarnset {

namespace {

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool isHex(char c) {
  return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

// The four hex digits after key ("VID_") in id, lower case; empty when there are none.
std::string idAfter(const std::string& id, const std::string& key) {
  const std::string u = upper(id);
  for (std::size_t at = u.find(key); at != std::string::npos; at = u.find(key, at + 1)) {
    const std::size_t from = at + key.size();
    if (from + 4 <= u.size() && std::all_of(u.begin() + static_cast<std::ptrdiff_t>(from),
                                            u.begin() + static_cast<std::ptrdiff_t>(from + 4), isHex)) {
      return lower(id.substr(from, 4));
    }
  }
  return {};
}

// The serial number in a USB device's instance id ("USB\VID_1A2B&PID_0042\A1B2C3D4");
// the system makes up an id with '&' in it for devices that have none.
std::string serialOf(const std::string& instanceId) {
  const std::size_t first = instanceId.find('\\');
  if (first == std::string::npos || upper(instanceId.substr(0, first)) != "USB") return {};
  const std::size_t second = instanceId.find('\\', first + 1);
  if (second == std::string::npos) return {};
  const std::string last = instanceId.substr(second + 1);
  if (last.empty() || last.find_first_of("&\\") != std::string::npos) return {};
  return last;
}

// "\Device\Serial0" -> "Serial", "\Device\Vcp12" -> "Vcp": what names the driver when the
// device manager does not.
std::string driverOfDeviceObject(const std::string& object) {
  std::string name =
      object.substr(object.find_last_of('\\') == std::string::npos ? 0 : object.find_last_of('\\') + 1);
  while (!name.empty() && std::isdigit(static_cast<unsigned char>(name.back())) != 0) name.pop_back();
  return name;
}

// True for a port that the Bluetooth stack made (its enumerator is BTHENUM): an outgoing
// one connects to the far device when it is opened.
bool isBluetooth(const PortSources::Device& d) {
  const auto fromBluetooth = [](const std::string& id) { return upper(id).rfind("BTHENUM\\", 0) == 0; };
  return upper(d.enumerator) == "BTHENUM" || fromBluetooth(d.instanceId) ||
         std::any_of(d.hardwareIds.begin(), d.hardwareIds.end(), fromBluetooth);
}

// A friendly name without the " (COM3)" that repeats the port's name.
std::string withoutPortName(const std::string& friendly, const std::string& portName) {
  const std::string tail = " (" + upper(portName) + ")";
  const std::string u = upper(friendly);
  if (u.size() > tail.size() && u.compare(u.size() - tail.size(), tail.size(), tail) == 0) {
    return friendly.substr(0, friendly.size() - tail.size());
  }
  return friendly;
}

// ---- the registry's serial map ------------------------------------------------------

std::vector<PortSources::MapEntry> readSerialMap() {
  std::vector<PortSources::MapEntry> entries;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return entries;  // no serial port has ever been there
  }
  DWORD nameMax = 0;
  DWORD dataMax = 0;
  if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &nameMax, &dataMax,
                       nullptr, nullptr) == ERROR_SUCCESS) {
    std::wstring name(nameMax + 1, L'\0');
    std::vector<wchar_t> data(dataMax / sizeof(wchar_t) + 2);
    for (DWORD i = 0;; ++i) {
      DWORD nameLength = static_cast<DWORD>(name.size());
      DWORD dataLength = static_cast<DWORD>((data.size() - 1) * sizeof(wchar_t));
      DWORD type = 0;
      const LONG r = RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type,
                                   reinterpret_cast<BYTE*>(data.data()), &dataLength);
      if (r == ERROR_NO_MORE_ITEMS) break;
      if (r != ERROR_SUCCESS) break;  // the key changed while it was read: what was read stays
      if (type != REG_SZ) continue;
      std::wstring port(data.data(), dataLength / sizeof(wchar_t));
      port.resize(std::wcslen(port.c_str()));
      if (!port.empty()) entries.push_back({win32::utf8(name.substr(0, nameLength)), win32::utf8(port)});
    }
  }
  RegCloseKey(key);
  return entries;
}

// ---- the device manager -------------------------------------------------------------

// A text property of a device in UTF-8, empty when it has none; for a list
// (REG_MULTI_SZ) its entries joined with NUL characters.
std::string deviceProperty(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
  DWORD type = 0;
  DWORD size = 0;
  SetupDiGetDeviceRegistryPropertyW(set, &device, property, &type, nullptr, 0, &size);
  if (size == 0 || (type != REG_SZ && type != REG_MULTI_SZ)) return {};
  std::vector<wchar_t> buf(size / sizeof(wchar_t) + 2);
  if (!SetupDiGetDeviceRegistryPropertyW(set, &device, property, &type, reinterpret_cast<BYTE*>(buf.data()),
                                         size, nullptr)) {
    return {};
  }
  std::wstring text(buf.data(), size / sizeof(wchar_t));
  while (!text.empty() && text.back() == L'\0') text.pop_back();
  return win32::utf8(text);
}

std::string portNameOf(HDEVINFO set, SP_DEVINFO_DATA& device) {
  const HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
  if (key == INVALID_HANDLE_VALUE) return {};
  wchar_t value[256] = {};
  DWORD size = sizeof value - sizeof(wchar_t);
  DWORD type = 0;
  std::string name;
  if (RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(value), &size) ==
          ERROR_SUCCESS &&
      type == REG_SZ) {
    name = win32::utf8(value);
  }
  RegCloseKey(key);
  return name;
}

void readDevicesOfClass(const GUID& cls, std::vector<PortSources::Device>& out) {
  const HDEVINFO set = SetupDiGetClassDevsW(&cls, nullptr, nullptr, DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE) return;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
    PortSources::Device d;
    d.portName = portNameOf(set, device);
    if (d.portName.empty()) continue;
    d.friendlyName = deviceProperty(set, device, SPDRP_FRIENDLYNAME);
    if (d.friendlyName.empty()) d.friendlyName = deviceProperty(set, device, SPDRP_DEVICEDESC);
    d.manufacturer = deviceProperty(set, device, SPDRP_MFG);
    d.service = deviceProperty(set, device, SPDRP_SERVICE);
    d.enumerator = deviceProperty(set, device, SPDRP_ENUMERATOR_NAME);
    const std::string ids = deviceProperty(set, device, SPDRP_HARDWAREID);
    for (std::size_t at = 0; at < ids.size();) {
      const std::size_t end = std::min(ids.find('\0', at), ids.size());
      if (end > at) d.hardwareIds.push_back(ids.substr(at, end - at));
      at = end + 1;
    }
    wchar_t instance[512] = {};
    if (SetupDiGetDeviceInstanceIdW(set, &device, instance, 512, nullptr))
      d.instanceId = win32::utf8(instance);
    out.push_back(std::move(d));
  }
  SetupDiDestroyDeviceInfoList(set);
}

// ---- Wine ---------------------------------------------------------------------------

using UnixNameOf = char*(CDECL*)(LPCWSTR);
using DosNameOf = WCHAR*(CDECL*)(LPCSTR);

// A function of Wine's kernel32, null elsewhere. (Through the generic function type: the
// system returns every address as one type.)
template <typename F>
F wineFunction(const char* name) {
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  const FARPROC f = kernel == nullptr ? nullptr : GetProcAddress(kernel, name);
  return f == nullptr ? nullptr : reinterpret_cast<F>(reinterpret_cast<void (*)()>(f));
}

// The prefix's dosdevices folder as the host names it ("/home/u/.wine/dosdevices/"),
// from where Wine keeps drive C:; empty when not under Wine.
std::string wineHostFolder() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  if (ntdll == nullptr || GetProcAddress(ntdll, "wine_get_version") == nullptr) return {};
  const auto unixNameOf = wineFunction<UnixNameOf>("wine_get_unix_file_name");
  if (unixNameOf == nullptr) return {};
  wchar_t windows[MAX_PATH] = {};
  const UINT n = GetWindowsDirectoryW(windows, MAX_PATH);
  if (n < 3 || n >= MAX_PATH) return {};
  const wchar_t drive[] = {windows[0], L':', L'\\', 0};
  char* unixName = unixNameOf(drive);  // "/home/u/.wine/dosdevices/c:/"
  if (unixName == nullptr) return {};
  std::string path = unixName;
  HeapFree(GetProcessHeap(), 0, unixName);
  const std::string folder = "/dosdevices/";
  const std::size_t at = path.rfind(folder);
  return at == std::string::npos ? std::string() : path.substr(0, at + folder.size());
}

}  // namespace

std::string wineDosDevicesFolder() {
  const std::string host = wineHostFolder();
  if (host.empty()) return {};
  const auto dosNameOf = wineFunction<DosNameOf>("wine_get_dos_file_name");
  if (dosNameOf == nullptr) return {};
  WCHAR* dos = dosNameOf(host.c_str());
  if (dos == nullptr) return {};
  std::string folder = win32::utf8(dos);
  HeapFree(GetProcessHeap(), 0, dos);
  if (!folder.empty() && folder.back() != '\\') folder += '\\';
  return folder;
}

std::vector<std::string> comLinksIn(const std::string& folder) {
  std::vector<std::string> links;
  if (folder.empty()) return links;
  std::string pattern = folder;
  if (pattern.back() != '\\' && pattern.back() != '/') pattern += '\\';
  pattern += "com*";
  WIN32_FIND_DATAW entry{};
  const HANDLE find = FindFirstFileW(win32::widen(pattern).c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return links;
  do {
    const std::string name = win32::utf8(entry.cFileName);
    if (win32::comNumberOf(name) > 0 && name.find(':') == std::string::npos) links.push_back(name);
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  std::sort(links.begin(), links.end());
  return links;
}

PortSources readPortSources() {
  PortSources sources;
  sources.serialMap = readSerialMap();
  readDevicesOfClass(GUID_DEVCLASS_PORTS, sources.devices);
  readDevicesOfClass(GUID_DEVCLASS_MODEM, sources.devices);
  sources.wineFolder = wineHostFolder();
  if (!sources.wineFolder.empty()) sources.wineLinks = comLinksIn(wineDosDevicesFolder());
  return sources;
}

std::vector<SerialPortInfo> mergePortSources(const PortSources& sources) {
  // By the port's name in capitals; each source adds what it knows.
  std::map<std::string, SerialPortInfo> ports;
  auto portNamed = [&](const std::string& name) -> SerialPortInfo& {
    SerialPortInfo& info = ports[upper(name)];
    if (info.kernelName.empty()) {
      info.kernelName = win32::comNumberOf(name) > 0 ? upper(name) : name;
      info.device = win32::comDeviceName(name);
    }
    return info;
  };
  for (const PortSources::MapEntry& e : sources.serialMap) {
    SerialPortInfo& info = portNamed(e.portName);
    if (info.driver.empty()) info.driver = driverOfDeviceObject(e.deviceObject);
  }
  for (const PortSources::Device& d : sources.devices) {
    // Printer ports share the class; a port the serial map names is one whatever its name.
    if (win32::comNumberOf(d.portName) == 0 && ports.count(upper(d.portName)) == 0) continue;
    SerialPortInfo& info = portNamed(d.portName);
    info.product = d.friendlyName;
    info.manufacturer = d.manufacturer;
    if (!d.service.empty()) info.driver = d.service;
    for (const std::string& id : d.hardwareIds) {
      if (info.vendorId.empty()) info.vendorId = idAfter(id, "VID_");
      if (info.productId.empty()) info.productId = idAfter(id, "PID_");
    }
    if (info.vendorId.empty()) info.vendorId = idAfter(d.instanceId, "VID_");
    if (info.productId.empty()) info.productId = idAfter(d.instanceId, "PID_");
    info.serial = serialOf(d.instanceId);
    info.bluetooth = isBluetooth(d);
  }
  // A link that Wine made itself is in the serial map already; one made by hand is
  // known by its place alone.
  for (const std::string& link : sources.wineLinks) {
    if (win32::comNumberOf(link) == 0 || ports.count(upper(link)) != 0) continue;
    portNamed(link).product = "Wine link " + sources.wineFolder + link;
  }

  std::vector<SerialPortInfo> list;
  list.reserve(ports.size());
  for (auto& [name, info] : ports) list.push_back(std::move(info));
  std::sort(list.begin(), list.end(), [](const SerialPortInfo& a, const SerialPortInfo& b) {
    const int na = win32::comNumberOf(a.kernelName);
    const int nb = win32::comNumberOf(b.kernelName);
    if ((na > 0) != (nb > 0)) return na > 0;
    if (na != nb) return na < nb;
    return upper(a.kernelName) < upper(b.kernelName);
  });
  return list;
}

std::vector<SerialPortInfo> listSerialPorts() {
  return mergePortSources(readPortSources());
}

bool namesADevice(const std::string& port) {
  return win32::comNumberOf(port) > 0 || port.find_first_of("\\/") != std::string::npos;
}

std::string describePort(const SerialPortInfo& info) {
  std::vector<std::string> parts;
  const std::string product = withoutPortName(info.product, info.kernelName);
  if (!product.empty()) parts.push_back(product);
  // "(Standard port types)" and the like say nothing about the adapter.
  if (!info.manufacturer.empty() && info.manufacturer.front() != '(' && info.manufacturer != product) {
    parts.push_back(info.manufacturer);
  }
  if (!info.vendorId.empty() || !info.productId.empty())
    parts.push_back(info.vendorId + ":" + info.productId);
  if (!info.driver.empty()) parts.push_back(info.driver);
  if (info.bluetooth) parts.push_back("Bluetooth");

  return describePortAs(info.path(), parts);
}

SystemPortResolver::SystemPortResolver(ConfiguredPorts configured, PortLister lister)
    : configuredPorts_(std::move(configured)), lister_(std::move(lister)) {
  refresh();
}

std::string SystemPortResolver::configuredDevice(std::int16_t comNumber) const {
  return configuredPorts_ ? win32::comDeviceName(configuredPorts_(comNumber)) : std::string();
}

void SystemPortResolver::refresh() {
  configured_.clear();
  for (std::int16_t n = 1; n <= kMaxComNumber; ++n) {
    if (std::string device = configuredDevice(n); !device.empty()) configured_[n] = std::move(device);
  }
  ports_ = lister_ ? lister_() : std::vector<SerialPortInfo>();
}

void SystemPortResolver::resolveAnew(std::int16_t comNumber) {
  if (comNumber < 1 || comNumber > kMaxComNumber) return;
  if (std::string device = configuredDevice(comNumber); !device.empty()) {
    configured_[comNumber] = std::move(device);
  } else {
    configured_.erase(comNumber);
  }
}

std::string SystemPortResolver::deviceFor(std::int16_t comNumber) const {
  if (comNumber < 1 || comNumber > kMaxComNumber) return {};
  if (const auto it = configured_.find(comNumber); it != configured_.end()) return it->second;
  return win32::comDeviceName("COM" + std::to_string(comNumber));
}

std::int16_t SystemPortResolver::comNumberOpening(const SerialPortInfo& port) const {
  for (std::int16_t n = 1; n <= kMaxComNumber; ++n) {
    if (upper(deviceFor(n)) == upper(port.device)) return n;
  }
  return 0;
}

std::vector<SerialAdapter> SystemPortResolver::adapters() const {
  std::vector<SerialAdapter> list;
  for (const SerialPortInfo& p : ports_) {
    SerialAdapter a;
    a.name = withoutPortName(p.product, p.kernelName);
    if (!p.manufacturer.empty() && p.manufacturer.front() != '(') a.maker = p.manufacturer;
    a.systemName = p.kernelName;
    a.device = win32::comNumberOf(p.kernelName) > 0 ? p.kernelName : p.device;
    a.bluetooth = p.bluetooth;
    a.comNumber = comNumberOpening(p);
    list.push_back(std::move(a));
  }
  return list;
}

std::string SystemPortResolver::caption(std::int16_t comNumber) const {
  const std::string device = deviceFor(comNumber);
  if (device.empty()) return "no serial port";
  for (const SerialPortInfo& p : ports_) {
    if (upper(p.device) != upper(device)) continue;
    return joinNonEmpty(
        {p.kernelName, withoutPortName(p.product, p.kernelName), p.bluetooth ? "Bluetooth" : ""});
  }
  const int n = win32::comNumberOf(device);
  return (n > 0 ? "COM" + std::to_string(n) : device) + " (not found)";
}

std::string SystemPortResolver::describe(std::int16_t comNumber) const {
  const std::string device = deviceFor(comNumber);
  if (device.empty()) return "no serial port";
  for (const SerialPortInfo& p : ports_) {
    if (upper(p.device) == upper(device)) return describePort(p);
  }
  return device + " (not found)";
}

}  // namespace tarnset
