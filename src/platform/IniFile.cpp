#include "platform/IniFile.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/AtomicFile.h"
#include "platform/Files.h"

namespace tarnset {
namespace {

// An options file is a few lines long; anything beyond this is not one and is neither
// read nor rewritten.
constexpr std::uint64_t kMaxFileSize = 16 * 1024 * 1024;

bool isBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

char lowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
  }
  return true;
}

// A text argument as the C routines see it: up to its first NUL.
std::string_view cString(const std::string& s) {
  const std::size_t nul = s.find('\0');
  return nul == std::string::npos ? std::string_view(s) : std::string_view(s).substr(0, nul);
}

bool hasLineBreak(std::string_view s) {
  return s.find_first_of("\r\n") != std::string_view::npos;
}

// One line of the file with its own line ending, which a rewrite keeps.
struct Line {
  std::string text;
  std::string eol;
};

enum class Kind { Other, Header, BrokenHeader, Key };

struct Parsed {
  Kind kind = Kind::Other;
  std::string_view name;       // section name of a header, key name of a key line
  std::string_view value;      // trimmed value of a key line
  std::size_t valueStart = 0;  // where the value begins, after "=" and any blanks
};

Parsed parseLine(const std::string& text) {
  Parsed p;
  const std::string_view t = trim(text);
  if (t.empty() || t.front() == ';') return p;
  if (t.front() == '[') {
    const std::size_t close = t.find(']');
    if (close == std::string_view::npos) {
      p.kind = Kind::BrokenHeader;
    } else {
      p.kind = Kind::Header;
      p.name = trim(t.substr(1, close - 1));
    }
    return p;
  }
  const std::size_t eq = text.find('=');
  if (eq == std::string::npos) return p;
  p.kind = Kind::Key;
  p.name = trim(std::string_view(text).substr(0, eq));
  p.value = trim(std::string_view(text).substr(eq + 1));
  p.valueStart = eq + 1;
  while (p.valueStart < text.size() && isBlank(text[p.valueStart])) ++p.valueStart;
  return p;
}

std::vector<Line> splitLines(const std::string& content) {
  std::vector<Line> lines;
  std::size_t pos = 0;
  while (pos < content.size()) {
    const std::size_t nl = content.find('\n', pos);
    Line line;
    if (nl == std::string::npos) {
      line.text = content.substr(pos);
      pos = content.size();
    } else {
      line.text = content.substr(pos, nl - pos);
      line.eol = "\n";
      pos = nl + 1;
    }
    if (!line.eol.empty() && !line.text.empty() && line.text.back() == '\r') {
      line.text.pop_back();
      line.eol = "\r\n";
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

// Where a section's lines lie: its header line and the first line after its body.
struct SectionRange {
  std::size_t header = 0;
  std::size_t end = 0;
};

std::optional<SectionRange> findSection(const std::vector<Line>& lines, std::string_view section) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const Parsed p = parseLine(lines[i].text);
    if (p.kind != Kind::Header || !sameName(p.name, section)) continue;
    SectionRange r{i, lines.size()};
    for (std::size_t j = i + 1; j < lines.size(); ++j) {
      const Kind k = parseLine(lines[j].text).kind;
      if (k == Kind::Header || k == Kind::BrokenHeader) {
        r.end = j;
        break;
      }
    }
    return r;
  }
  return std::nullopt;
}

std::optional<std::size_t> findKey(const std::vector<Line>& lines, const SectionRange& r,
                                   std::string_view key) {
  for (std::size_t i = r.header + 1; i < r.end; ++i) {
    const Parsed p = parseLine(lines[i].text);
    if (p.kind == Kind::Key && sameName(p.name, key)) return i;
  }
  return std::nullopt;
}

enum class ReadResult { Ok, Missing, Unreadable };

// Reads a whole regular file. A path that does not lead to a file is Missing; a
// directory, a device, a file too large or one that cannot be opened or read is
// Unreadable.
ReadResult readFile(const std::string& path, std::string& content) {
  FileContent file = readWholeFile(path, kMaxFileSize);
  content = std::move(file.bytes);
  switch (file.status) {
    case FileContent::Status::Ok:
      return ReadResult::Ok;
    case FileContent::Status::Missing:
      return ReadResult::Missing;
    default:
      return ReadResult::Unreadable;
  }
}

std::string stripQuotes(std::string_view v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    v = v.substr(1, v.size() - 2);
  }
  return std::string(v);
}

std::string joinLines(const std::vector<Line>& lines) {
  std::string out;
  for (const Line& line : lines) out += line.text + line.eol;
  return out;
}

// Replaces path by content in one step (the program's one routine for that).
bool replaceFile(const std::string& path, const std::string& content) {
  std::string why;
  return writeFileAtomically(path, content, why);
}

}  // namespace

std::string iniReadString(const std::string& section, const std::string& key, const std::string& defaultText,
                          std::size_t size, const std::string& file) {
  if (size == 0) return {};
  const auto cut = [size](std::string s) {
    if (s.size() > size - 1) s.resize(size - 1);
    return s;
  };
  const std::string fallback = cut(std::string(cString(defaultText)));

  std::string content;
  if (readFile(std::string(cString(file)), content) != ReadResult::Ok) return fallback;
  const std::vector<Line> lines = splitLines(content);
  const auto range = findSection(lines, trim(cString(section)));
  if (!range) return fallback;
  const auto at = findKey(lines, *range, trim(cString(key)));
  if (!at) return fallback;
  return cut(stripQuotes(parseLine(lines[*at].text).value));
}

bool iniWriteString(const std::string& section, const std::string& key, const std::string& value,
                    const std::string& file) {
  const std::string_view sec = trim(cString(section));
  const std::string_view k = trim(cString(key));
  const std::string_view val = cString(value);
  const std::string_view path = cString(file);
  if (path.empty() || hasLineBreak(sec) || sec.find(']') != std::string_view::npos) return false;
  if (k.empty() || hasLineBreak(k) || k.find('=') != std::string_view::npos || k.front() == '[' ||
      k.front() == ';') {
    return false;
  }
  if (hasLineBreak(val)) return false;

  const std::string target = linkTarget(std::string(path));
  std::string content;
  if (readFile(target, content) == ReadResult::Unreadable) return false;
  std::vector<Line> lines = splitLines(content);
  const std::string eol = !lines.empty() && lines.front().eol == "\r\n" ? "\r\n" : "\n";
  const std::string keyLine = std::string(k) + "=" + std::string(val);

  // Inserts a line after position 'after', giving that line an ending if it had none: a
  // CR LF after a last line that ends in a CR, which a LF alone would take as its ending
  // (and so change the line's value).
  const auto insertAfter = [&lines, &eol](std::size_t after, std::string text) {
    Line& prev = lines[after];
    if (prev.eol.empty()) prev.eol = !prev.text.empty() && prev.text.back() == '\r' ? "\r\n" : eol;
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(after) + 1, Line{std::move(text), eol});
  };

  if (const auto range = findSection(lines, sec)) {
    if (const auto at = findKey(lines, *range, k)) {
      // The line keeps its text up to the value, blanks after "=" included; the value's
      // own leading blanks (never read) would add to those on every rewrite.
      Line& line = lines[*at];
      std::string_view v = val;
      while (!v.empty() && isBlank(v.front())) v.remove_prefix(1);
      line.text = line.text.substr(0, parseLine(line.text).valueStart) + std::string(v);
    } else {
      // After the section's last non-blank line, so that blank lines separating it
      // from the next section stay where they are.
      std::size_t after = range->header;
      for (std::size_t i = range->header + 1; i < range->end; ++i) {
        if (!trim(lines[i].text).empty()) after = i;
      }
      insertAfter(after, keyLine);
    }
  } else {
    const std::string header = "[" + std::string(sec) + "]";
    if (lines.empty()) {
      lines.push_back(Line{header, eol});
    } else {
      const std::size_t last = lines.size() - 1;
      if (!trim(lines[last].text).empty()) {
        insertAfter(last, "");
        insertAfter(last + 1, header);
      } else {
        insertAfter(last, header);
      }
    }
    lines.push_back(Line{keyLine, eol});
  }

  const std::string out = joinLines(lines);
  if (out == content) return true;  // nothing changed: the file already says so
  return replaceFile(target, out);
}

bool iniDeleteKey(const std::string& section, const std::string& key, const std::string& file) {
  const std::string_view path = cString(file);
  if (path.empty()) return false;
  const std::string target = linkTarget(std::string(path));
  std::string content;
  const ReadResult r = readFile(target, content);
  if (r == ReadResult::Missing) return true;  // no file holds no key
  if (r == ReadResult::Unreadable) return false;
  std::vector<Line> lines = splitLines(content);
  const auto range = findSection(lines, trim(cString(section)));
  if (!range) return true;
  const auto at = findKey(lines, *range, trim(cString(key)));
  if (!at) return true;
  // The line before takes over the ending of the deleted one when that was the last line,
  // so that a file without a final line break keeps having none.
  if (*at + 1 == lines.size() && *at > 0 && lines[*at].eol.empty()) lines[*at - 1].eol.clear();
  lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(*at));
  return replaceFile(target, joinLines(lines));
}

std::vector<std::string> iniSectionNames(const std::string& file) {
  std::vector<std::string> names;
  std::string content;
  if (readFile(std::string(cString(file)), content) != ReadResult::Ok) return names;
  for (const Line& line : splitLines(content)) {
    const Parsed p = parseLine(line.text);
    if (p.kind != Kind::Header) continue;
    const bool known =
        std::any_of(names.begin(), names.end(), [&p](const std::string& n) { return sameName(n, p.name); });
    if (!known) names.emplace_back(p.name);
  }
  return names;
}

bool iniDeleteSection(const std::string& section, const std::string& file) {
  const std::string_view path = cString(file);
  if (path.empty()) return false;
  const std::string target = linkTarget(std::string(path));
  std::string content;
  const ReadResult r = readFile(target, content);
  if (r == ReadResult::Missing) return true;
  if (r == ReadResult::Unreadable) return false;
  std::vector<Line> lines = splitLines(content);
  const auto range = findSection(lines, trim(cString(section)));
  if (!range) return true;
  lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(range->header),
              lines.begin() + static_cast<std::ptrdiff_t>(range->end));
  return replaceFile(target, joinLines(lines));
}

}  // namespace tarnset
