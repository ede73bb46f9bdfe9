#include "toolkit/win32/Win32Text.h"

#include "toolkit/core/DisplayText.h"

namespace tarnset::w32 {

namespace {

// wchar_t is UTF-16 on this system.
std::wstring wide(const std::u16string& s) {
  return std::wstring(s.begin(), s.end());
}

std::u16string utf16(const std::wstring& s) {
  return std::u16string(s.begin(), s.end());
}

}  // namespace

std::wstring toWide(const std::string& text) {
  return wide(tk::displayText(text));
}

std::wstring toWideLines(const std::string& text) {
  return wide(tk::displayLines(text, u"\r\n"));
}

std::string fromWide(const std::wstring& text) {
  return tk::programText(utf16(text));
}

std::vector<std::wstring> wideLines(const std::string& text) {
  std::vector<std::wstring> out;
  for (const auto& line : tk::textLines(text)) out.push_back(toWide(line));
  return out;
}

std::wstring pathToWide(const std::string& path) {
  return wide(tk::utf16FromUtf8(path));
}

std::string pathFromWide(const std::wstring& path) {
  return tk::utf8FromUtf16(utf16(path));
}

}  // namespace tarnset::w32
