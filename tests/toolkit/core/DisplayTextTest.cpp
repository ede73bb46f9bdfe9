// The program's text as the window systems show it: UTF-8 lines (file names and paths)
// as UTF-8, every other line (the program's own Latin-1 texts) byte for byte, and text
// typed by the user back into program text so that it shows again as it was typed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "toolkit/core/DisplayText.h"

namespace tarnset::tk {
namespace {

TEST(DisplayText, Utf8LinesShowAsUtf8AndEveryOtherLineAsLatin1) {
  // "C:\Users\José\отчёт.html" in UTF-8.
  const std::string path = "C:\\Users\\Jos\xC3\xA9\\\xD0\xBE\xD1\x82\xD1\x87\xD1\x91\xD1\x82.html";
  EXPECT_TRUE(isUtf8BeyondAscii(path));
  EXPECT_EQ(displayText(path), u"C:\\Users\\Jos\u00E9\\\u043E\u0442\u0447\u0451\u0442.html");

  // The program's own texts: "25 °C" and "µV" in Latin-1 are no UTF-8.
  const std::string latin1 =
      "25 \xB0"
      "C, 3 \xB5V";
  EXPECT_FALSE(isUtf8BeyondAscii(latin1));
  EXPECT_EQ(displayText(latin1), u"25 \u00B0C, 3 \u00B5V");
  EXPECT_FALSE(isUtf8BeyondAscii("COM 1: OPEN")) << "plain ASCII is no UTF-8 beyond it";
  EXPECT_EQ(displayText("COM 1: OPEN"), u"COM 1: OPEN");

  // Each line decides for itself: a Latin-1 headline above a UTF-8 path.
  EXPECT_EQ(displayText("Saved at 25 \xB0"
                        "C\r\nFile: Jos\xC3\xA9.html"),
            u"Saved at 25 \u00B0C\r\nFile: Jos\u00E9.html");
  // Characters beyond the first plane travel as surrogate pairs.
  EXPECT_EQ(displayText("\xF0\x9F\x93\x84"), std::u16string(u"\U0001F4C4"));
}

TEST(DisplayText, BrokenOrForgedUtf8StaysLatin1) {
  for (const std::string& bad : {
           std::string("\xC3"),              // cut short
           std::string("\xC0\xAF"),          // an overlong "/"
           std::string("\xED\xA0\x80"),      // a surrogate
           std::string("\xF4\x90\x80\x80"),  // beyond U+10FFFF
           std::string("\xA9 2026"),         // a continuation byte alone
       }) {
    EXPECT_FALSE(isUtf8BeyondAscii(bad)) << bad;
    std::u16string latin1;
    for (const char c : bad) latin1 += static_cast<char16_t>(static_cast<unsigned char>(c));
    EXPECT_EQ(displayText(bad), latin1);
  }
}

TEST(DisplayText, LineBreaksAreKeptOrMadeTheSystemsOwn) {
  const std::string text = "one\r\ntwo\rthree\nfour";
  EXPECT_EQ(displayText(text), u"one\r\ntwo\rthree\nfour");
  EXPECT_EQ(displayLines(text, u"\n"), u"one\ntwo\nthree\nfour");
  EXPECT_EQ(displayLines(text, u"\r\n"), u"one\r\ntwo\r\nthree\r\nfour");
  EXPECT_EQ(textLines(text), (std::vector<std::string>{"one", "two", "three", "four"}));
  EXPECT_EQ(textLines(""), std::vector<std::string>{""});
  EXPECT_EQ(textLines("end\r\n"), (std::vector<std::string>{"end", ""}));
}

TEST(DisplayText, TypedTextBecomesProgramTextThatShowsAgainAsTyped) {
  EXPECT_EQ(programText(u"COM 12"), "COM 12");
  EXPECT_EQ(programText(u"25 \u00B0C"),
            "25 \xB0"
            "C")
      << "Latin-1 where every character has a code";
  EXPECT_EQ(programText(u"Jos\u00E9 \u043E"), "Jos\xC3\xA9 \xD0\xBE") << "UTF-8 beyond Latin-1";
  // Latin-1 bytes that would read as UTF-8 ("Ã©") go as UTF-8, so that they show as typed.
  EXPECT_EQ(programText(u"\u00C3\u00A9"), "\xC3\x83\xC2\xA9");
  for (const std::u16string& typed : {std::u16string(u"plain"), std::u16string(u"\u00C3\u00A9 and \u00B0"),
                                      std::u16string(u"a\r\n\u043E\nb \u00B5")}) {
    EXPECT_EQ(displayText(programText(typed)), typed);
  }
  EXPECT_EQ(programText(std::u16string(1, char16_t{0xD800})), "?") << "a lone surrogate";
}

TEST(DisplayText, PathsGoBetweenUtf8AndUtf16BothWays) {
  const std::string path = "C:\\Users\\Jos\xC3\xA9\\\xD0\xBE.html";
  const std::u16string wide = u"C:\\Users\\Jos\u00E9\\\u043E.html";
  EXPECT_EQ(utf16FromUtf8(path), wide);
  EXPECT_EQ(utf8FromUtf16(wide), path);
  EXPECT_EQ(utf8FromUtf16(utf16FromUtf8("\xF0\x9F\x93\x84")), "\xF0\x9F\x93\x84");
  EXPECT_EQ(utf16FromUtf8("a\xB5"
                          "b"),
            u"a\u00B5b")
      << "a byte that is no UTF-8 counts as Latin-1";
}

}  // namespace
}  // namespace tarnset::tk
