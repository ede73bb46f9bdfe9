#include "platform/win32/ComNames.h"

#include <charconv>

namespace tarnset::win32 {

namespace {

const std::string kDevicePrefix = "\\\\.\\";

std::string trim(const std::string& s) {
  const auto b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  const auto e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

bool startsWithNoCase(const std::string& s, const std::string& prefix) {
  if (s.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    const auto a = static_cast<unsigned char>(s[i]);
    const auto b = static_cast<unsigned char>(prefix[i]);
    if ((a >= 'a' && a <= 'z' ? a - 32 : a) != (b >= 'a' && b <= 'z' ? b - 32 : b)) return false;
  }
  return true;
}

}  // namespace

int comNumberOf(const std::string& name) {
  std::string s = trim(name);
  if (s.rfind(kDevicePrefix, 0) == 0) s.erase(0, kDevicePrefix.size());
  if (!s.empty() && s.back() == ':') s.pop_back();
  if (s.size() < 4 || s.size() > 6 || !startsWithNoCase(s, "COM")) return 0;
  const char* first = s.data() + 3;
  const char* last = s.data() + s.size();
  if (*first < '1' || *first > '9') return 0;  // no sign, no leading zero
  int n = 0;
  const auto [ptr, ec] = std::from_chars(first, last, n);
  return ec == std::errc() && ptr == last ? n : 0;
}

std::string comDeviceName(const std::string& name) {
  const std::string s = trim(name);
  if (s.empty()) return s;
  if (const int n = comNumberOf(s); n > 0) return kDevicePrefix + "COM" + std::to_string(n);
  // A path ("\\?\...", "C:\...") is opened as written.
  if (s.find_first_of("\\/:") != std::string::npos) return s;
  return kDevicePrefix + s;
}

}  // namespace tarnset::win32
