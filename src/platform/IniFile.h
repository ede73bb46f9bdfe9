#pragma once
// INI file routines: bracketed section headers and key=value lines.
//
// Section and key names match without regard to case; the first of duplicate sections
// or keys is the one read and the one replaced. Key names and values are trimmed of
// blanks and tabs, and a value enclosed in a pair of matching quotes loses them. Lines
// starting with ";" are comments. A line that opens a section header without closing it
// starts a section that no name matches, so the keys below it are never taken for keys
// of the section above.
//
// Writing keeps every other line of the file as it was (other sections and keys,
// comments, blank lines, line endings) and replaces the file in one step: the new text
// goes to a temporary file in the same directory, which is then renamed over the old
// one, so a crash or a full disk never leaves a truncated file behind.
#include <cstddef>
#include <string>
#include <vector>

namespace tarnset {

// The value of key in section of file, cut to at most size - 1 characters. A missing
// file, section or key (or a file that cannot be read) gives defaultText, cut the same
// way; a key present with an empty value gives an empty text, not the default.
std::string iniReadString(const std::string& section, const std::string& key, const std::string& defaultText,
                          std::size_t size, const std::string& file);

// Writes key=value into section of file, creating the file, the section and the key as
// needed or replacing the key's value in place. False when the file cannot be read or
// written, or when the names or the value cannot be stored in a line of the file (a
// line break in any of them, a "]" in the section name, an empty key, one holding "=" or
// one starting with "[" or ";"). A value's leading blanks are not read back, and a
// rewrite of a key does not keep them.
bool iniWriteString(const std::string& section, const std::string& key, const std::string& value,
                    const std::string& file);

// Removes key from section of file (the first of duplicates, as reads and writes take it);
// every other line stays as it was. True when the key is not there (also when the file
// or the section is missing) or was removed; false when the file cannot be read or
// written.
bool iniDeleteKey(const std::string& section, const std::string& key, const std::string& file);

// The names of the sections of file in the order they stand, each name once (as the first
// of duplicates spells it, trimmed). Empty when the file is missing or cannot be read.
std::vector<std::string> iniSectionNames(const std::string& file);

// Removes section from file: its header and every line up to the next header (the first
// of duplicates, as reads and writes take it); every other line stays as it was. True
// when the section is not there (also when the file is missing) or was removed; false
// when the file cannot be read or written.
bool iniDeleteSection(const std::string& section, const std::string& file);

}  // namespace tarnset
