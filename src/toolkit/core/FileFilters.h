#pragma once
// What the save dialogs of the window systems make of the program's file filters.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/Toolkit.h"

namespace tarnset::tk {

// The extension of a filter's first pattern ("*.pdf" gives "pdf"); empty when the pattern
// is not of that plain form ("*", "*.*", "report*").
std::string defaultExtension(const FileFilter& filter);
// True when a wildcard pattern (* and ?) matches the name, ignoring the case of ASCII letters.
bool matchesPattern(std::string_view pattern, std::string_view name);
// The index of the first filter with a pattern matching the name; 0 when none does.
std::size_t filterIndexFor(const std::vector<FileFilter>& filters, std::string_view name);

}  // namespace tarnset::tk
