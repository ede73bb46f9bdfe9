#include "platform/win32/Text.h"

#include <windows.h>

#include <climits>

namespace tarnset::win32 {

namespace {

// The characters of text decoded from code page cp; false when text is not valid in it
// (only checked for UTF-8).
bool decode(UINT cp, std::string_view text, std::wstring& out) {
  out.clear();
  if (text.empty()) return true;
  if (text.size() > static_cast<std::size_t>(INT_MAX)) return false;
  const DWORD flags = cp == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
  const int size = static_cast<int>(text.size());
  const int n = MultiByteToWideChar(cp, flags, text.data(), size, nullptr, 0);
  if (n <= 0) return false;
  out.resize(static_cast<std::size_t>(n));
  return MultiByteToWideChar(cp, flags, text.data(), size, out.data(), n) == n;
}

}  // namespace

std::wstring widen(std::string_view text) {
  std::wstring wide;
  if (decode(CP_UTF8, text, wide) || decode(CP_ACP, text, wide)) return wide;
  // Not even the code page takes it: each byte as the character of that number.
  return std::wstring(text.begin(), text.end());
}

std::string utf8(std::wstring_view text) {
  if (text.empty() || text.size() > static_cast<std::size_t>(INT_MAX)) return {};
  const int size = static_cast<int>(text.size());
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), size, out.data(), n, nullptr, nullptr);
  return out;
}

std::string errorText(unsigned long code) {
  // English first (the program's own texts are English); a Windows without English
  // message resources answers ERROR_RESOURCE_LANG_NOT_FOUND, and the neutral language
  // then gives the system's own.
  const DWORD languages[] = {MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                             MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL)};
  std::string text;
  for (const DWORD language : languages) {
    wchar_t* buf = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        code, language, reinterpret_cast<wchar_t*>(&buf), 0, nullptr);
    if (n > 0 && buf != nullptr) text = utf8(std::wstring_view(buf, n));
    if (buf != nullptr) LocalFree(buf);
    if (!text.empty()) break;
  }
  // One line without the trailing CR LF and full stop the system adds.
  for (char& c : text) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '.')) text.pop_back();
  if (text.empty()) text = "system error " + std::to_string(code);
  return text;
}

}  // namespace tarnset::win32
