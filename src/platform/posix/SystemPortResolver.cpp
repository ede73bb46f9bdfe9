#include "platform/SystemPortResolver.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace tarnset {

namespace fs = std::filesystem;

namespace {

// Kinds of serial ports in COM order.
enum class Kind { Usb = 0, Acm = 1, Uart = 2, Bluetooth = 3 };

struct Candidate {
  Kind kind;
  long number;
  SerialPortInfo info;
};

// "ttyUSB12" -> (Usb, 12); false for every other name.
bool parseName(const std::string& name, Kind& kind, long& number) {
  static const std::pair<const char*, Kind> prefixes[] = {
      {"ttyUSB", Kind::Usb}, {"ttyACM", Kind::Acm}, {"ttyS", Kind::Uart}, {"rfcomm", Kind::Bluetooth}};
  for (const auto& [prefix, k] : prefixes) {
    const std::string p(prefix);
    if (name.size() <= p.size() || name.compare(0, p.size(), p) != 0) continue;
    const char* first = name.data() + p.size();
    const char* last = name.data() + name.size();
    if (!std::all_of(first, last, [](char c) { return c >= '0' && c <= '9'; })) return false;
    const auto [ptr, ec] = std::from_chars(first, last, number);
    if (ec != std::errc() || ptr != last) return false;
    kind = k;
    return true;
  }
  return false;
}

std::string trim(const std::string& s) {
  const auto b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  const auto e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

// First line of a sysfs attribute, trimmed; empty when it cannot be read.
std::string readAttribute(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  if (!in || !std::getline(in, line)) return {};
  return trim(line);
}

fs::path canonicalOrEmpty(const fs::path& p) {
  std::error_code ec;
  fs::path c = fs::canonical(p, ec);
  return ec ? fs::path() : c;
}

// An on-board port counts only when a UART was detected behind it (type not 0, the
// kernel's "unknown"); the kernel creates ttyS nodes for absent legacy ports too.
bool hasUart(const fs::path& ttyDir) {
  const std::string type = readAttribute(ttyDir / "type");
  if (type.empty()) return false;
  long value = 0;
  const auto [ptr, ec] = std::from_chars(type.data(), type.data() + type.size(), value);
  return ec == std::errc() && value != 0;
}

// The USB device above a port's device folder: the nearest ancestor with an idVendor,
// not above the sysfs root.
fs::path usbDeviceOf(const fs::path& deviceDir, const fs::path& sysRoot) {
  std::error_code ec;
  fs::path p = deviceDir;
  for (int depth = 0; depth < 16 && !p.empty(); ++depth) {
    if (fs::exists(p / "idVendor", ec)) return p;
    if (p == sysRoot || p == p.root_path()) break;
    p = p.parent_path();
  }
  return {};
}

// Device node (canonical) -> its by-id link; the alphabetically first link wins when
// several name the same node.
std::map<fs::path, std::string> byIdLinks(const fs::path& devRoot) {
  std::map<fs::path, std::string> links;
  std::error_code ec;
  fs::directory_iterator it(devRoot / "serial" / "by-id", ec);
  if (ec) return links;
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const fs::directory_entry& entry = *it;
    const fs::path target = canonicalOrEmpty(entry.path());
    if (target.empty()) continue;
    const std::string link = entry.path().string();
    auto [pos, inserted] = links.emplace(target, link);
    if (!inserted && link < pos->second) pos->second = link;
  }
  return links;
}

}  // namespace

std::vector<SerialPortInfo> listSerialPorts(const SystemRoots& roots) {
  std::vector<Candidate> found;
  const fs::path ttyClass = fs::path(roots.sys) / "class" / "tty";
  const fs::path sysRoot = canonicalOrEmpty(roots.sys);
  const auto links = byIdLinks(roots.dev);

  std::error_code ec;
  fs::directory_iterator it(ttyClass, ec);
  if (ec) return {};
  // Stepped with an error code: a folder that changes or fails while being read ends
  // the listing instead of throwing.
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    const fs::directory_entry& entry = *it;
    const std::string name = entry.path().filename().string();
    Kind kind{};
    long number = 0;
    if (!parseName(name, kind, number)) continue;

    // Virtual terminals have no device behind them; nor do Bluetooth serial ports, which
    // the Bluetooth stack binds to a far device.
    const fs::path deviceDir = canonicalOrEmpty(entry.path() / "device");
    if (deviceDir.empty() && kind != Kind::Bluetooth) continue;
    if (kind == Kind::Uart && !hasUart(entry.path())) continue;

    const fs::path node = fs::path(roots.dev) / name;
    std::error_code nodeEc;
    if (!fs::exists(node, nodeEc)) continue;

    Candidate c{kind, number, {}};
    SerialPortInfo& info = c.info;
    info.kernelName = name;
    info.device = node.string();
    if (const auto link = links.find(canonicalOrEmpty(node)); link != links.end()) info.byId = link->second;
    if (kind == Kind::Bluetooth) {
      info.driver = "rfcomm";
      info.bluetooth = true;
      found.push_back(std::move(c));
      continue;
    }
    const fs::path driver = canonicalOrEmpty(deviceDir / "driver");
    if (!driver.empty()) info.driver = driver.filename().string();
    const fs::path usb = usbDeviceOf(deviceDir, sysRoot);
    if (!usb.empty()) {
      info.vendorId = readAttribute(usb / "idVendor");
      info.productId = readAttribute(usb / "idProduct");
      info.manufacturer = readAttribute(usb / "manufacturer");
      info.product = readAttribute(usb / "product");
      info.serial = readAttribute(usb / "serial");
    }
    found.push_back(std::move(c));
  }

  std::sort(found.begin(), found.end(), [](const Candidate& a, const Candidate& b) {
    if (a.kind != b.kind) return a.kind < b.kind;
    return a.number < b.number;
  });
  std::vector<SerialPortInfo> ports;
  ports.reserve(found.size());
  for (auto& c : found) ports.push_back(std::move(c.info));
  return ports;
}

bool namesADevice(const std::string& port) {
  return port.find('/') != std::string::npos;
}

std::string describePort(const SerialPortInfo& info) {
  std::vector<std::string> parts;
  if (info.path() != info.device) parts.push_back(info.device);
  if (!info.product.empty()) {
    parts.push_back(info.product);
  } else if (!info.manufacturer.empty()) {
    parts.push_back(info.manufacturer);
  }
  if (!info.vendorId.empty() || !info.productId.empty())
    parts.push_back(info.vendorId + ":" + info.productId);
  if (!info.driver.empty()) parts.push_back(info.driver);
  if (info.bluetooth) parts.push_back("Bluetooth");

  return describePortAs(info.path(), parts);
}

SystemPortResolver::SystemPortResolver(ConfiguredPorts configured, SystemRoots roots)
    : configuredPorts_(std::move(configured)), roots_(std::move(roots)) {
  refresh();
}

std::string SystemPortResolver::configuredPath(std::int16_t comNumber) const {
  std::string value = configuredPorts_ ? trim(configuredPorts_(comNumber)) : std::string();
  // A bare device name ("ttyUSB0") is taken as a node of the device folder.
  if (!value.empty() && value.find('/') == std::string::npos) value = (fs::path(roots_.dev) / value).string();
  return value;
}

void SystemPortResolver::refresh() {
  configured_.clear();
  found_.clear();
  ports_ = listSerialPorts(roots_);
  for (std::int16_t n = 1; n <= kMaxComNumber; ++n) {
    if (std::string path = configuredPath(n); !path.empty()) {
      configured_[n] = std::move(path);
    } else if (static_cast<std::size_t>(n) <= ports_.size()) {
      found_[n] = ports_[static_cast<std::size_t>(n) - 1].path();
    }
  }
}

bool SystemPortResolver::claimedByOther(std::int16_t n, const std::string& path) const {
  std::error_code ec;
  const fs::path target = fs::weakly_canonical(path, ec);
  for (std::int16_t m = 1; m <= kMaxComNumber; ++m) {
    if (m == n) continue;
    const std::string other = deviceFor(m);
    if (other.empty()) continue;
    std::error_code otherEc;
    if (other == path || (!ec && fs::weakly_canonical(other, otherEc) == target && !otherEc)) return true;
  }
  return false;
}

void SystemPortResolver::resolveAnew(std::int16_t comNumber) {
  if (comNumber < 1 || comNumber > kMaxComNumber) return;
  // A number named in the options file keeps the device named there (it may just have
  // been mapped); another adapter is never put in its place.
  if (std::string path = configuredPath(comNumber); !path.empty()) {
    found_.erase(comNumber);
    configured_[comNumber] = std::move(path);
    return;
  }
  configured_.erase(comNumber);
  std::error_code ec;
  if (const auto it = found_.find(comNumber); it != found_.end() && fs::exists(it->second, ec)) return;
  found_.erase(comNumber);
  ports_ = listSerialPorts(roots_);
  for (const SerialPortInfo& p : ports_) {
    if (claimedByOther(comNumber, p.path())) continue;
    found_[comNumber] = p.path();
    return;
  }
}

std::string SystemPortResolver::deviceFor(std::int16_t comNumber) const {
  if (const auto it = configured_.find(comNumber); it != configured_.end()) return it->second;
  if (const auto it = found_.find(comNumber); it != found_.end()) return it->second;
  return {};
}

bool SystemPortResolver::opens(std::int16_t comNumber, const SerialPortInfo& port) const {
  const std::string device = deviceFor(comNumber);
  if (device.empty()) return false;
  if (device == port.path() || device == port.device) return true;
  std::error_code ec;
  const fs::path target = fs::weakly_canonical(device, ec);
  std::error_code portEc;
  return !ec && target == fs::weakly_canonical(port.device, portEc) && !portEc;
}

std::vector<SerialAdapter> SystemPortResolver::adapters() const {
  std::vector<SerialAdapter> list;
  for (const SerialPortInfo& p : ports_) {
    SerialAdapter a;
    a.name = p.product;
    a.maker = p.manufacturer;
    a.systemName = p.device;
    a.device = p.path();
    a.bluetooth = p.bluetooth;
    for (std::int16_t n = 1; n <= kMaxComNumber && a.comNumber == 0; ++n) {
      if (opens(n, p)) a.comNumber = n;
    }
    list.push_back(std::move(a));
  }
  return list;
}

std::string SystemPortResolver::caption(std::int16_t comNumber) const {
  const std::string device = deviceFor(comNumber);
  if (device.empty()) return "no serial port";
  for (const SerialPortInfo& p : ports_) {
    if (!opens(comNumber, p)) continue;
    return joinNonEmpty(
        {p.device, p.product.empty() ? p.manufacturer : p.product, p.bluetooth ? "Bluetooth" : ""});
  }
  return device + " (not found)";
}

std::string SystemPortResolver::describe(std::int16_t comNumber) const {
  if (const auto it = configured_.find(comNumber); it != configured_.end()) return it->second;
  const auto it = found_.find(comNumber);
  if (it == found_.end()) return "no serial port";
  for (const SerialPortInfo& p : ports_) {
    if (p.path() == it->second) return describePort(p);
  }
  return it->second;
}

}  // namespace tarnset
