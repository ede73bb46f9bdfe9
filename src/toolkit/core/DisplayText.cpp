#include "toolkit/core/DisplayText.h"

#include <cstdint>

namespace tarnset::tk {

namespace {

// The length of the UTF-8 sequence at text[i] and its code point in cp; 0 when the bytes
// there are no valid sequence (overlong forms, surrogates and values beyond U+10FFFF
// included).
std::size_t utf8At(std::string_view text, std::size_t i, char32_t& cp) {
  const auto b = [&](std::size_t k) { return static_cast<unsigned char>(text[i + k]); };
  const unsigned char lead = b(0);
  std::size_t n = 0;
  char32_t min = 0;
  if (lead < 0x80) {
    cp = lead;
    return 1;
  }
  if (lead >= 0xC2 && lead <= 0xDF) {
    n = 2;
    cp = lead & 0x1Fu;
    min = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    n = 3;
    cp = lead & 0x0Fu;
    min = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    n = 4;
    cp = lead & 0x07u;
    min = 0x10000;
  } else {
    return 0;
  }
  if (i + n > text.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    if ((b(k) & 0xC0u) != 0x80u) return 0;
    cp = (cp << 6) | (b(k) & 0x3Fu);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

void appendUtf16(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out += static_cast<char16_t>(cp);
  } else {
    cp -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (cp >> 10));
    out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
  }
}

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// The code points of UTF-16 text; a lone surrogate gives '?'.
std::u32string codePoints(std::u16string_view s) {
  std::u32string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char16_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      out += static_cast<char32_t>(0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00));
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      out += U'?';
    } else {
      out += c;
    }
  }
  return out;
}

// Length of the line break at text[i] (CR LF counts as one); 0 when there is none.
template <class S>
std::size_t breakAt(const S& text, std::size_t i) {
  if (text[i] == '\n') return 1;
  if (text[i] != '\r') return 0;
  return i + 1 < text.size() && text[i + 1] == '\n' ? 2 : 1;
}

// One line (no breaks in it) as UTF-16.
void appendLine(std::u16string& out, std::string_view line) {
  if (isUtf8BeyondAscii(line)) {
    out += utf16FromUtf8(line);
  } else {
    for (const char c : line) out += static_cast<char16_t>(static_cast<unsigned char>(c));
  }
}

// Calls line(text) for each line and lineBreak(text of the break) between them.
template <class S, class Line, class Break>
void eachLine(const S& text, Line line, Break lineBreak) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t n = breakAt(text, i);
    if (n == 0) {
      ++i;
      continue;
    }
    line(text.substr(start, i - start));
    lineBreak(text.substr(i, n));
    i += n;
    start = i;
  }
  line(text.substr(start));
}

}  // namespace

bool isUtf8BeyondAscii(std::string_view text) {
  bool beyond = false;
  for (std::size_t i = 0; i < text.size();) {
    char32_t cp = 0;
    const std::size_t n = utf8At(text, i, cp);
    if (n == 0) return false;
    beyond = beyond || n > 1;
    i += n;
  }
  return beyond;
}

std::u16string displayText(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  eachLine(
      text, [&](std::string_view line) { appendLine(out, line); },
      [&](std::string_view br) {
        for (const char c : br) out += static_cast<char16_t>(c);
      });
  return out;
}

std::u16string displayLines(std::string_view text, std::u16string_view lineBreak) {
  std::u16string out;
  out.reserve(text.size() + 8);
  eachLine(
      text, [&](std::string_view line) { appendLine(out, line); },
      [&](std::string_view) { out += lineBreak; });
  return out;
}

std::vector<std::string> textLines(std::string_view text) {
  std::vector<std::string> lines;
  eachLine(
      text, [&](std::string_view line) { lines.emplace_back(line); }, [](std::string_view) {});
  return lines;
}

std::string programText(std::u16string_view shown) {
  std::string out;
  out.reserve(shown.size());
  eachLine(
      shown,
      [&](std::u16string_view line) {
        const std::u32string cps = codePoints(line);
        std::string latin1;
        bool fits = true;
        for (const char32_t cp : cps) {
          if (cp > 0xFF) {
            fits = false;
            break;
          }
          latin1 += static_cast<char>(cp);
        }
        // Latin-1 bytes that read as UTF-8 would be shown as other characters: UTF-8 then.
        if (fits && !isUtf8BeyondAscii(latin1)) {
          out += latin1;
          return;
        }
        for (const char32_t cp : cps) appendUtf8(out, cp);
      },
      [&](std::u16string_view br) {
        for (const char16_t c : br) out += static_cast<char>(c);
      });
  return out;
}

std::u16string utf16FromUtf8(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t cp = 0;
    const std::size_t n = utf8At(text, i, cp);
    if (n == 0) {
      out += static_cast<char16_t>(static_cast<unsigned char>(text[i]));
      ++i;
    } else {
      appendUtf16(out, cp);
      i += n;
    }
  }
  return out;
}

std::string utf8FromUtf16(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char32_t cp : codePoints(text)) appendUtf8(out, cp);
  return out;
}

}  // namespace tarnset::tk
