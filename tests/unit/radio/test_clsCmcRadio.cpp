#include <gtest/gtest.h>

#include <limits>

#include "radio/clsCmcRadio.h"

namespace tarnset {
namespace {

TEST(clsCmcRadio, StartsEmptyAndKeepsCodesAsGiven) {
  clsCmcRadio radio;
  EXPECT_EQ(radio.radioNameM() + radio.radionameS(), "00000000");
  EXPECT_EQ(radio.cloneWriteAdrList_get(), "");
  radio.setRadioNameM("2651");
  radio.setRadionameS("0a1");
  EXPECT_EQ(radio.radioNameM() + radio.radionameS(), "26510a1");
  ASSERT_EQ(radio.eepImage().WriteByte(100, 0x42), 0);
  EXPECT_EQ(static_cast<const clsCmcRadio&>(radio).eepImage().ReadByte(100), 0x42);
}

TEST(clsCmcRadio, AddressListHoldsTheLowSixteenBitsOfEachAddress) {
  clsCmcRadio radio;
  radio.cloneWriteAdrList_Add(0, 15967);
  radio.cloneWriteAdrList_Add(16, 31);
  EXPECT_EQ(radio.cloneWriteAdrList_get(), "0000-3E5F,0010-001F,");
  radio.cloneWriteAdrList_Clear();
  EXPECT_EQ(radio.cloneWriteAdrList_get(), "");
  radio.cloneWriteAdrList_Add(65537, -1);
  radio.cloneWriteAdrList_Add(std::numeric_limits<std::int32_t>::min(), 0xABC);
  EXPECT_EQ(radio.cloneWriteAdrList_get(), "0001-FFFF,0000-0ABC,");
}

}  // namespace
}  // namespace tarnset
