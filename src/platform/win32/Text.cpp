#include "platform/win32/Text.h"

#include <windows.h>

namespace tarnset::win32 {

std::string errorText(unsigned long code) {
  char* buf = nullptr;
  const DWORD n = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      code, MAKELANGID(LANG_ENGLISH, SUBLANG_DEFAULT), reinterpret_cast<char*>(&buf), 0, nullptr);
  std::string text = n > 0 && buf != nullptr ? std::string(buf, n) : std::string();
  if (buf != nullptr) LocalFree(buf);
  // One line without the trailing CR LF and full stop the system adds.
  for (char& c : text) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '.')) text.pop_back();
  if (text.empty()) text = "system error " + std::to_string(code);
  return text;
}

}  // namespace tarnset::win32
