#pragma once
// Text at the Windows boundary: the program's text is UTF-8, the system's calls take and
// give UTF-16 ("wide") text.
#include <string>
#include <string_view>

namespace tarnset::win32 {

// UTF-16 for the system from the program's UTF-8. A text that is not UTF-8 (bytes of
// the system's ANSI code page, say from an options file written by another program) is
// read in the ANSI code page instead, so that no name is lost.
std::wstring widen(std::string_view text);

// UTF-8 from the system's UTF-16 (an unpaired surrogate becomes U+FFFD).
std::string utf8(std::wstring_view text);

// The system's text for an error code from GetLastError, on one line, in UTF-8: in
// English where the system has it, else in the system's own language.
std::string errorText(unsigned long code);

}  // namespace tarnset::win32
