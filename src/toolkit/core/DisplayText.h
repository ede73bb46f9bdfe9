#pragma once
// The program's text as a window system shows it. Inside the program text is bytes: its
// own fixed texts are Latin-1 (mostly ASCII), file names and paths are UTF-8. A line that
// is valid UTF-8 and not plain ASCII is shown as UTF-8, any other line as Latin-1, byte
// for byte; so a path such as "C:\Users\José\отчёт.html" shows as it is spelt while
// "25 °C" in Latin-1 stays as it was. Both window systems take UTF-16.
#include <string>
#include <string_view>
#include <vector>

namespace tarnset::tk {

// True when the bytes are valid UTF-8 and hold at least one character beyond ASCII.
bool isUtf8BeyondAscii(std::string_view text);

// The characters of a program text. Line breaks (CR LF, a lone CR or LF) are kept as they are.
std::u16string displayText(std::string_view text);
// The same with every line break made lineBreak (u"\r\n" for Win32 controls, u"\n" for Qt).
std::u16string displayLines(std::string_view text, std::u16string_view lineBreak);
// The lines of a program text (CR LF, CR or LF separate them); an empty text is one empty line.
std::vector<std::string> textLines(std::string_view text);

// Shown text (typed by the user, or given by the system) as program text: a line whose
// characters all have Latin-1 codes is Latin-1, any other line UTF-8, chosen so that
// displayText gives the shown text back. Characters that UTF-16 cannot stand for (a lone
// surrogate) become "?".
std::string programText(std::u16string_view shown);

// A UTF-8 path (or any UTF-8 text) as UTF-16 and back, for the system's file calls;
// bytes that are not UTF-8 are taken as Latin-1 characters.
std::u16string utf16FromUtf8(std::string_view text);
std::string utf8FromUtf16(std::u16string_view text);

}  // namespace tarnset::tk
