#pragma once
// The program's text as the wide text of the window system, as the toolkit core decides
// (tk::displayText: UTF-8 lines as UTF-8, the others as Latin-1). File paths are UTF-8.
#include <string>
#include <vector>

namespace tarnset::w32 {

// Program text as window text.
std::wstring toWide(const std::string& text);
// Program text as window text with every line break (CR LF, a lone CR or LF) made CR LF,
// the one break that edit controls and tool tips take.
std::wstring toWideLines(const std::string& text);
// Window text as program text (tk::programText).
std::string fromWide(const std::wstring& text);
// The lines of a program text as window text; an empty text is one empty line.
std::vector<std::wstring> wideLines(const std::string& text);
// A UTF-8 path as the system's wide path, and back.
std::wstring pathToWide(const std::string& path);
std::string pathFromWide(const std::wstring& path);

}  // namespace tarnset::w32
