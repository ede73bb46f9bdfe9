#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <fstream>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "model/TarnMap.h"
#include "model/clsIndEep_RigTarn.h"
#include "radio/clsCmcRadio.h"
#include "toolkit/Toolkit.h"

namespace tarnset {
namespace {

// The controller's temperature border table.
constexpr std::array<std::int16_t, 22> kBorders = {0,   16,  24,  32,  40,  48,  64,  80,  96,  112, 128,
                                                   144, 160, 176, 192, 208, 216, 224, 232, 240, 255, 0};

class MemoryMapTest : public ::testing::Test {
 protected:
  MemoryMapTest() : map(radio, [this](std::int16_t i) { return borders.at(static_cast<std::size_t>(i)); }) {}

  void put(std::int32_t adr, std::initializer_list<std::uint8_t> bytes) {
    for (auto b : bytes) ASSERT_EQ(radio.eepImage().WriteByte(adr++, b), 0);
  }
  void fill(std::uint8_t b) { radio.eepImage().FillBlock(0, b, TarnMap::kImageSize); }

  // The receive field of channel ch at the default bases.
  static std::int32_t rx(std::int16_t ch) { return TarnMap::kDefaultRxBase + 32 * ch; }
  static std::int32_t tx(std::int16_t ch) { return TarnMap::kDefaultTxBase + 32 * ch; }

  clsCmcRadio radio;
  std::array<std::int16_t, 22> borders = kBorders;
  clsIndEep_RigTarn map;
};

// Splits a listing into its lines, checking that every line ends with CR LF.
std::vector<std::string> crlfLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t end = text.find("\r\n", pos);
    if (end == std::string::npos) {
      ADD_FAILURE() << "text after the last CR LF: " << text.substr(pos);
      break;
    }
    lines.push_back(text.substr(pos, end - pos));
    pos = end + 2;
  }
  return lines;
}

// ---- channel memory ----

TEST_F(MemoryMapTest, FrequencyFieldsAndSlotPresence) {
  put(rx(0), {0x1A, 0xD2, 0x74, 0x80});
  put(tx(0), {0x00, 0x00, 0x00, 0x01});
  put(rx(1), {0x7F, 0xFF, 0xFF, 0xFF});
  put(tx(4), {0x1A, 0xD2, 0x74, 0x80});       // only the receive field makes a slot appear
  put(rx(0) - 32, {0x00, 0x00, 0x00, 0x01});  // where slot -1 would be
  EXPECT_EQ(map.RigTarnEep_GetChFreqRxReal(TarnMap::kDefaultRxBase, 0), 450000000);
  EXPECT_EQ(map.RigTarnEep_GetChFreqTxReal(TarnMap::kDefaultTxBase, 0), 1);
  EXPECT_EQ(map.RigTarnEep_GetChFreqRxReal(TarnMap::kDefaultRxBase, 1), 2147483647);
  EXPECT_TRUE(map.RigTarnEep_GetChAppear(TarnMap::kDefaultRxBase, 0));
  EXPECT_FALSE(map.Check_MRCH(rx(4)));
  EXPECT_FALSE(map.RigTarnEep_GetChAppear(TarnMap::kDefaultRxBase, 4));
  EXPECT_FALSE(map.RigTarnEep_GetChAppear(TarnMap::kDefaultRxBase, -1));
}

TEST_F(MemoryMapTest, InhibitedFieldIsAProgrammedChannelWithoutFrequency) {
  put(rx(2), {0x80, 0x00, 0x00, 0x00});
  put(rx(5), {0xFF, 0xFF, 0xFF, 0xFF});
  EXPECT_EQ(map.Check_Inh(rx(2)), 1);
  EXPECT_EQ(map.Check_Inh(rx(0)), 0);
  EXPECT_TRUE(map.Check_MRCH(rx(2)));
  EXPECT_TRUE(map.RigTarnEep_GetChAppear(TarnMap::kDefaultRxBase, 2));
  // Refused as a frequency: 0, never an overflow.
  EXPECT_EQ(map.ReadFreqBlock(rx(5)), 0);
  EXPECT_EQ(map.RigTarnEep_GetChFreqRxReal(TarnMap::kDefaultRxBase, 2), 0);
}

TEST_F(MemoryMapTest, FlagByteGivesPowerAndSpacing) {
  const std::int32_t base = TarnMap::kDefaultChBase;
  const struct {
    std::uint8_t flags;
    std::int16_t power;
    bool narrow;
  } cases[] = {{0x00, 0, false}, {0x14, 2, true}, {0x08, 0, false}, {0x10, 2, false}, {0xEB, 0, false}};
  std::int16_t ch = 0;
  for (const auto& c : cases) {
    put(base + 32 * ch + 12, {c.flags});
    EXPECT_EQ(map.RigTarnEep_GetChRFPower(base, ch), c.power) << int{c.flags};
    EXPECT_EQ(map.RigTarnEep_GetChMode(base, ch), c.narrow) << int{c.flags};
    ++ch;
  }
}

TEST_F(MemoryMapTest, ChannelNamesCoverSlots0To41) {
  EXPECT_EQ(map.RigTarnEep_GetChName(0), "1");
  EXPECT_EQ(map.RigTarnEep_GetChName(9), "10");
  EXPECT_EQ(map.RigTarnEep_GetChName(41), "42");
  EXPECT_EQ(map.RigTarnEep_GetChName(42), "");
  EXPECT_EQ(map.RigTarnEep_GetChName(-1), "");
}

TEST_F(MemoryMapTest, BaseFrequencyUsesTheWholeWord) {
  put(TarnMap::kBaseFreq, {0x0F, 0xA0});
  EXPECT_EQ(map.ReadBaseFreqBlock(), 400000000);
  put(TarnMap::kBaseFreq, {0xFF, 0xFF});
  EXPECT_EQ(map.ReadBaseFreqBlock(), 6553500000LL);
}

TEST_F(MemoryMapTest, AnyImageContentDecodesWithoutThrowing) {
  fill(0xFF);                       // header words 65535, slot count 255, inhibit marks everywhere
  const std::int32_t word = 65535;  // what the controller makes of either header word
  for (std::int16_t k = 0; k < TarnMap::kMaxChannels; ++k) {
    // Beyond the image: empty, wide, high power.
    EXPECT_FALSE(map.RigTarnEep_GetChAppear(word + 516, k));
    EXPECT_EQ(map.RigTarnEep_GetChFreqTxReal(word + 520, k), 0);
    EXPECT_EQ(map.RigTarnEep_GetChRFPower(word + 512, k), 0);
    EXPECT_FALSE(map.RigTarnEep_GetChMode(word + 512, k));
    // Inside: inhibited, so present, but without a frequency.
    EXPECT_TRUE(map.RigTarnEep_GetChAppear(TarnMap::kDefaultRxBase, k));
    EXPECT_EQ(map.RigTarnEep_GetChFreqRxReal(TarnMap::kDefaultRxBase, k), 0);
  }
  // A field whose last byte lies beyond the image reads that byte as 0.
  put(TarnMap::kImageSize - 3, {0x00, 0x12, 0x34});
  EXPECT_EQ(map.ReadFreqBlock(TarnMap::kImageSize - 3), 0x00123400);
  // Fields at the very top of the address range read as empty.
  const std::int32_t top = std::numeric_limits<std::int32_t>::max();
  EXPECT_EQ(map.ReadFreqBlock(top), 0);
  EXPECT_FALSE(map.Check_MRCH(top));
  EXPECT_EQ(map.RigTarnEep_GetChRFPower(top, 0), 0);
}

TEST_F(MemoryMapTest, RecordArithmeticOutsideItsRangeIsAProgrammingError) {
  EXPECT_NO_THROW(map.RigTarnEep_GetChFreqRxReal(0, 1023));
  EXPECT_THROW(map.RigTarnEep_GetChFreqRxReal(0, 1024), std::overflow_error);
  EXPECT_THROW(map.RigTarnEep_GetChAppear(std::numeric_limits<std::int32_t>::max(), 1), std::overflow_error);
  clsCmcRadio other;
  EXPECT_THROW(clsIndEep_RigTarn(other, nullptr), std::invalid_argument);
}

// ---- parameter listing ----

TEST_F(MemoryMapTest, ListingOfAnAllZeroImageShowsTheBorderTable) {
  borders[1] = 12345;  // a longer entry keeps its last 4 characters
  borders[2] = -5;
  const auto lines = crlfLines(map.RigTarnEep_ParaText());
  ASSERT_EQ(lines.size(), 106u);
  EXPECT_EQ(lines[0], "                POW HI Level:    0");
  EXPECT_EQ(lines[8], "                BPF T1 Level:    0");
  EXPECT_EQ(lines[42], "              Base Frequency:    0.000MHz");
  EXPECT_EQ(lines[43], "             REF Area 0:    0");
  EXPECT_EQ(lines[44], "             REF Area 1: 2345");
  EXPECT_EQ(lines[45], "             REF Area 2:   -5");
  EXPECT_EQ(lines[63], "            REF Area 20:  255");
}

TEST_F(MemoryMapTest, ListingShowsUnsignedAndSignedEdgeBytes) {
  put(TarnMap::kPowerHi, {255});
  put(TarnMap::kBpfT1, {255, 128});
  put(TarnMap::kTxfSlant + 38, {128, 255});  // slant 19 and initial 19
  const auto lines = crlfLines(map.RigTarnEep_ParaText());
  ASSERT_EQ(lines.size(), 106u);
  EXPECT_EQ(lines[0], "                POW HI Level:  255");
  EXPECT_EQ(lines[8], "                BPF T1 Level:   -1");
  EXPECT_EQ(lines[9], "                BPF T2 Level: -128");
  EXPECT_EQ(lines[83], "         REF Initial 19:  255");
  EXPECT_EQ(lines[103], "           REF Slant 19: -128");
}

TEST_F(MemoryMapTest, ListingShowsTheBaseFrequencyInMHz) {
  const std::pair<std::array<std::uint8_t, 2>, std::string> cases[] = {
      {{0x11, 0x94}, "  450.000MHz"},  // 4500
      {{0x00, 0x01}, "    0.100MHz"},
      {{0x53, 0xE3}, " 2147.500MHz"},  // 21475: beyond 32 bits in Hz
      {{0xFF, 0xFF}, " 6553.500MHz"},
  };
  for (const auto& [word, text] : cases) {
    put(TarnMap::kBaseFreq, {word[0], word[1]});
    EXPECT_EQ(crlfLines(map.RigTarnEep_ParaText()).at(42), "              Base Frequency:" + text);
  }
}

TEST_F(MemoryMapTest, TheListingsLabelsAndValuesAreTheLinesOfItsText) {
  put(TarnMap::kRssiL2, {7});
  put(TarnMap::kBaseFreq, {0x11, 0x17});
  const std::vector<ParameterLine> listing = map.RigTarnEep_DispPara();
  const auto lines = crlfLines(map.RigTarnEep_ParaText());
  ASSERT_EQ(listing.size(), 106u);
  ASSERT_EQ(lines.size(), 106u);
  for (std::size_t i = 0; i < listing.size(); ++i) EXPECT_EQ(listing[i].text(), lines[i]) << i;
  EXPECT_EQ(listing[105].name(), "RSSI L2 Level");
  EXPECT_EQ(listing[105].valueText(), "7");
  const auto base = std::find_if(listing.begin(), listing.end(),
                                 [](const ParameterLine& l) { return l.name() == "Base Frequency"; });
  ASSERT_NE(base, listing.end());
  EXPECT_EQ(base->valueText(), "437.500MHz");
}

TEST_F(MemoryMapTest, ListingOfARealisticImageMatchesTheHandWrittenOne) {
  put(TarnMap::kPowerHi, {200});
  put(TarnMap::kPowerL2, {150});
  put(TarnMap::kPowerL1, {90});
  put(TarnMap::kBalance, {128});
  put(TarnMap::kModW, {140, 95});
  put(TarnMap::kToneLevel, {60});
  put(TarnMap::kSquelch, {45});
  put(68, {0x05, 0xF6, 0x00, 0x7F});
  put(49, {0x01, 0x02, 0xFF, 0xFE, 0x00});
  put(54, {0x03, 0x00, 0x00, 0xFD, 0x0A});
  put(59, {0x80, 0x7F, 0x05, 0x06, 0x07});
  put(96, {0xF0, 0x10, 0x00, 0x01, 0x02});
  put(64, {0xFC, 0x02, 0x00});
  put(67, {0x55});  // not listed
  put(75, {0x0A});
  put(80, {100, 110, 120, 130, 140, 150});
  put(86, {35, 210});
  put(92, {0x10, 0xE9});  // 4329 x 100 kHz
  for (int n = 0; n < 20; ++n) {
    put(216 + 2 * n, {static_cast<std::uint8_t>((n - 10) & 0xFF), static_cast<std::uint8_t>(100 + 5 * n)});
  }

  std::ifstream in(TARNSET_MODEL_TEST_DATA "/listing_realistic.txt");
  ASSERT_TRUE(in) << "missing test data";
  std::vector<std::string> expected;
  for (std::string l; std::getline(in, l);) expected.push_back(l);
  ASSERT_EQ(expected.size(), 106u);

  const auto lines = crlfLines(map.RigTarnEep_ParaText());
  ASSERT_EQ(lines.size(), expected.size());
  for (std::size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i], expected[i]) << "line " << i + 1;
}

// ---- dump ----

TEST_F(MemoryMapTest, DumpIsAppendedWithHeaderRuleAndAllRows) {
  put(0x0010, {0x01, 0xAB});
  put(0x3E5F, {0x7E});
  std::string text = "kept";
  map.RigTarnEep_DispDebug(text);
  ASSERT_EQ(text.substr(0, 6), "kept\r\n");
  const auto lines = crlfLines(text.substr(4));
  ASSERT_EQ(lines.size(), 1u + 1 + 1 + 1 + 998);
  EXPECT_EQ(lines[0], "");
  EXPECT_EQ(lines[1], "         EEPROM Data");
  EXPECT_EQ(lines[2], "         00  01  02  03  04  05  06  07  08  09  0A  0B  0C  0D  0E  0F");
  EXPECT_EQ(lines[3], "        " + std::string(64, '-'));
  EXPECT_EQ(lines[3].size(), lines[4].size() + 1);
  EXPECT_EQ(lines[4], "0000h |  00  00  00  00  00  00  00  00  00  00  00  00  00  00  00  00");
  EXPECT_EQ(lines[5], "0010h |  01  AB  00  00  00  00  00  00  00  00  00  00  00  00  00  00");
  EXPECT_EQ(lines[4 + 0xA0].substr(0, 9), "0A00h |  ");
  EXPECT_EQ(lines.back(), "3E50h |  00  00  00  00  00  00  00  00  00  00  00  00  00  00  00  7E");
}

}  // namespace
}  // namespace tarnset
