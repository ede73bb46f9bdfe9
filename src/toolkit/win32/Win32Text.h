#pragma once
// The program's single-byte text as the wide text of the window system: each byte is the
// Latin-1 character of the same code. CR LF separates lines.
#include <string>
#include <vector>

namespace tarnset::w32 {

// Program text as window text, byte for byte.
std::wstring toWide(const std::string& text);
// Program text as window text with every line break (CR LF, a lone CR or LF) made CR LF,
// the one break that edit controls and tool tips take.
std::wstring toWideLines(const std::string& text);
// Window text as program text; characters outside Latin-1 become "?".
std::string fromWide(const std::wstring& text);
// The lines of a program text (CR LF, CR or LF separate them); an empty text is one empty line.
std::vector<std::wstring> wideLines(const std::string& text);

}  // namespace tarnset::w32
