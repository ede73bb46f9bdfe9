#include "toolkit/core/FileFilters.h"

namespace tarnset::tk {

namespace {

char lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

std::string defaultExtension(const FileFilter& filter) {
  if (filter.patterns.empty()) return {};
  const std::string& pattern = filter.patterns.front();
  if (pattern.rfind("*.", 0) != 0) return {};
  const std::string ext = pattern.substr(2);
  if (ext.empty() || ext.find_first_of("*?[.") != std::string::npos) return {};
  return ext;
}

bool matchesPattern(std::string_view pattern, std::string_view name) {
  std::size_t p = 0, n = 0, star = std::string_view::npos, mark = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || lower(pattern[p]) == lower(name[n]))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      mark = n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

std::size_t filterIndexFor(const std::vector<FileFilter>& filters, std::string_view name) {
  if (name.empty()) return 0;
  for (std::size_t i = 0; i < filters.size(); ++i) {
    for (const auto& p : filters[i].patterns) {
      if (matchesPattern(p, name)) return i;
    }
  }
  return 0;
}

}  // namespace tarnset::tk
