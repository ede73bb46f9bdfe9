#include <gtest/gtest.h>

#include <stdexcept>

#include "base/Common.h"

namespace tarnset {
namespace {

Bytes ascii(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

TEST(Common, ExpandNewLinesReplacesBackslashLowerNInPlace) {
  EXPECT_EQ(ExpandNewLines("A\\nB"), "A\r\nB");
  EXPECT_EQ(ExpandNewLines("\\n\\n"), "\r\n\r\n");
  EXPECT_EQ(ExpandNewLines("end\\"), "end\\");
  EXPECT_EQ(ExpandNewLines("A\\NB\r\nC"), "A\\NB\r\nC");  // case-sensitive; CR LF kept
  EXPECT_EQ(ExpandNewLines("x\\\\ny"), "x\\\r\ny");       // the second backslash pairs with n
}

TEST(Common, TextToBytesGivesOneBytePerCharacter) {
  EXPECT_EQ(TextToBytes(std::string()), Bytes{});
  EXPECT_EQ(TextToBytes(std::string("1\xFF\0", 3)), (Bytes{0x31, 0xFF, 0x00}));
  EXPECT_EQ(TextToBytes(std::u32string_view(U"A\u00FF")), (Bytes{0x41, 0xFF}));
  EXPECT_THROW(TextToBytes(std::u32string_view(U"A\u0100")), std::out_of_range);
}

TEST(Common, AsciiHexToIntReadsSignedPatterns) {
  const std::pair<const char*, int> cases[] = {
      {"FF", 255},       {"0012", 18},
      {"3e5f", 15967},   {"FFFF", -1},
      {"8000", -32768},  {"", 0},
      {" 1\t2\n", 0x12}, {"1 ", 1},
      {"G1", 0},         {"12G4", 0x12},
      {"1\r2", 1},       {"0000FFFF", -1},
      {"FFFFFFFF", -1},  {"FFFF8000", -32768},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(AsciiHexToInt(ascii(text)), value) << text;
  for (const char* text : {"10000", "FFFF7FFF", "7FFFFFFF", "100000000"}) {
    EXPECT_THROW(AsciiHexToInt(ascii(text)), std::overflow_error) << text;
  }
}

TEST(Common, HexToBytesReadsPairsAndSkipsBlanks) {
  const Bytes id{0x26, 0x51, 0x01, 0x00};
  EXPECT_EQ(HexToBytes("26 51 01 00"), id);
  EXPECT_EQ(HexToBytes("  26510100 "), id);
  EXPECT_EQ(HexToBytes(""), Bytes{});
  EXPECT_EQ(HexToBytes("A"), Bytes{});
  EXPECT_EQ(HexToBytes("ABC"), Bytes{0xAB});
  EXPECT_EQ(HexToBytes("1 23"), (Bytes{0x01, 0x23}));  // a digit and a blank make one byte
  EXPECT_EQ(HexToBytes("G1ff"), (Bytes{0x00, 0xFF}));
}

TEST(Common, HexTextsRoundTrip) {
  EXPECT_EQ(BytesToHex(Bytes{}), "");
  EXPECT_EQ(BytesToHex(Bytes{0}), "00");
  EXPECT_EQ(BytesToHex(Bytes{0x01, 0xAB}), "01AB");
  EXPECT_EQ(BytesToHex(HexToBytes("0123456789abcdef")), "0123456789ABCDEF");
}

TEST(Common, ByteToHexAndByteToAsciiHexUseTheLowByteOnly) {
  EXPECT_EQ(ByteToHex(5), "05");
  EXPECT_EQ(ByteToHex(31), "1F");
  EXPECT_EQ(ByteToHex(291), "23");
  EXPECT_EQ(ByteToHex(-1), "FF");
  EXPECT_EQ(ByteToAsciiHex(31), "3146");
  EXPECT_EQ(ByteToAsciiHex(200), "4338");
  EXPECT_EQ(ByteToAsciiHex(-56), "4338");
  EXPECT_EQ(ByteToAsciiHex(0), "3030");
  // What the link writes for a byte, the link reads back as that byte.
  for (int n = 0; n < 256; ++n) {
    EXPECT_EQ(AsciiHexToInt(HexToBytes(ByteToAsciiHex(static_cast<std::int16_t>(n)))), n);
  }
}

}  // namespace
}  // namespace tarnset
