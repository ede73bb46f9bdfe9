#include "toolkit/win32/Win32Text.h"

namespace tarnset::w32 {

std::wstring toWide(const std::string& text) {
  std::wstring out;
  out.reserve(text.size());
  for (const char c : text) out += static_cast<wchar_t>(static_cast<unsigned char>(c));
  return out;
}

std::wstring toWideLines(const std::string& text) {
  std::wstring out;
  out.reserve(text.size() + 8);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      out += L"\r\n";
    } else {
      out += static_cast<wchar_t>(static_cast<unsigned char>(c));
    }
  }
  return out;
}

std::string fromWide(const std::wstring& text) {
  std::string out;
  out.reserve(text.size());
  for (const wchar_t c : text) out += static_cast<unsigned>(c) < 256 ? static_cast<char>(c) : '?';
  return out;
}

std::vector<std::wstring> wideLines(const std::string& text) {
  std::vector<std::wstring> lines(1);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      lines.emplace_back();
    } else {
      lines.back() += static_cast<wchar_t>(static_cast<unsigned char>(c));
    }
  }
  return lines;
}

}  // namespace tarnset::w32
