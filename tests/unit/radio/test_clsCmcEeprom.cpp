#include <gtest/gtest.h>

#include <stdexcept>

#include "radio/clsCmcEeprom.h"

namespace tarnset {
namespace {

constexpr std::int32_t kLast = clsCmcEeprom::kDefaultSize - 1;  // 15967

TEST(clsCmcEeprom, SingleBytesAndBits) {
  clsCmcEeprom ee;
  EXPECT_EQ(ee.ReadBlock(0, ee.eeSize()), Bytes(15968, 0));
  EXPECT_EQ(ee.WriteByte(0, 255), 0);
  EXPECT_EQ(ee.ReadByte(0), 255);
  EXPECT_EQ(ee.WriteByte(kLast, 0xA5), 0);
  EXPECT_EQ(ee.ReadByte(kLast), 0xA5);
  EXPECT_EQ(ee.ReadByte(kLast + 1), 0);
  EXPECT_EQ(ee.ReadByte(-1), 0);
  EXPECT_EQ(ee.WriteByte(kLast + 1, 1), 1);
  EXPECT_EQ(ee.WriteByte(-1, 1), 1);

  const std::int16_t bits[8] = {1, 0, 1, 0, 0, 1, 0, 1};
  for (std::int16_t b = 0; b < 8; ++b) EXPECT_EQ(ee.ReadBit(kLast, b), bits[b]) << b;
  for (std::int16_t b : {8, 31, 32767, -1}) EXPECT_EQ(ee.ReadBit(0, b), 0) << b;
  EXPECT_EQ(ee.ReadBit(kLast + 1, 0), 0);
}

TEST(clsCmcEeprom, BlockWritesCheckBothEndsAndAreAllOrNothing) {
  clsCmcEeprom ee;
  EXPECT_EQ(ee.WriteBlock(kLast - 1, Bytes{0x11, 0x22}), 0);
  EXPECT_EQ(ee.WriteBlock(kLast, Bytes{0x33, 0x44}), 1);
  EXPECT_EQ(ee.ReadBlock(kLast - 1, 2), (Bytes{0x11, 0x22}));
  EXPECT_EQ(ee.WriteBlock(-1, Bytes{0x33, 0x44}), 1);
  EXPECT_EQ(ee.ReadByte(0), 0);

  EXPECT_EQ(ee.FillBlock(kLast - 7, 0x5C, 8), 0);
  EXPECT_EQ(ee.FillBlock(kLast - 6, 0x66, 8), 1);
  EXPECT_EQ(ee.FillBlock(10, 0x66, INT32_MAX), 1);
  EXPECT_EQ(ee.ReadBlock(kLast - 8, 9), (Bytes{0, 0x5C, 0x5C, 0x5C, 0x5C, 0x5C, 0x5C, 0x5C, 0x5C}));

  // An empty block is refused at address 0 only (its last address, -1, is not valid).
  EXPECT_EQ(ee.WriteBlock(0, Bytes{}), 1);
  EXPECT_EQ(ee.WriteBlock(1, Bytes{}), 0);
  EXPECT_EQ(ee.WriteBlock(kLast + 1, Bytes{}), 1);
  EXPECT_EQ(ee.FillBlock(0, 0xAA, 0), 1);
  EXPECT_EQ(ee.FillBlock(1, 0xAA, 0), 0);
  EXPECT_EQ(ee.ReadByte(1), 0);
}

TEST(clsCmcEeprom, ReadBlockReturnsWhatWasWrittenAndThrowsOutside) {
  clsCmcEeprom ee;
  const Bytes s{1, 2, 3, 250, 0, 7};
  ASSERT_EQ(ee.WriteBlock(4000, s), 0);
  EXPECT_EQ(ee.ReadBlock(4000, 6), s);
  EXPECT_EQ(ee.ReadBlock(4000, 0), Bytes{});
  EXPECT_EQ(ee.ReadBlock(4000, -3), Bytes{});
  EXPECT_THROW(ee.ReadBlock(kLast, 2), std::out_of_range);
  EXPECT_THROW(ee.ReadBlock(-1, 1), std::out_of_range);
  EXPECT_THROW(ee.ReadBlock(INT32_MAX, INT32_MAX), std::out_of_range);
}

TEST(clsCmcEeprom, ResizingClearsAndBlocksKeepToSixteenBitCounts) {
  clsCmcEeprom ee;
  ASSERT_EQ(ee.WriteByte(5, 9), 0);
  ee.setEeSize(16);
  EXPECT_EQ(ee.ReadByte(5), 0);
  EXPECT_EQ(ee.WriteByte(16, 1), 1);
  EXPECT_THROW(ee.setEeSize(-1), std::out_of_range);

  ee.setEeSize(40000);
  EXPECT_EQ(ee.FillBlock(0, 0x42, 32768), 0);
  EXPECT_THROW(ee.FillBlock(0, 0x43, 32769), std::overflow_error);
  EXPECT_THROW(ee.WriteBlock(0, Bytes(32769, 1)), std::overflow_error);
  EXPECT_EQ(ee.ReadByte(0), 0x42);  // the refused blocks wrote nothing
}

}  // namespace
}  // namespace tarnset
