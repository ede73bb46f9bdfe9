// Frame names for the trace and the virtual radio's log.
#include <gtest/gtest.h>

#include "base/FrameText.h"

namespace tarnset {
namespace {

Bytes wire(std::initializer_list<int> body) {
  Bytes b{0xFE, 0xFE};
  for (int v : body) b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(0xFD);
  return b;
}

Bytes withAscii(std::initializer_list<int> head, const std::string& ascii) {
  Bytes b = wire(head);
  b.pop_back();
  b.insert(b.end(), ascii.begin(), ascii.end());
  b.push_back(0xFD);
  return b;
}

TEST(FrameText, EachCommandIsNamedWithWhatItCarries) {
  EXPECT_EQ(describeFrame(wire({0xEE, 0xEF, 0xE0, 0x26, 0x51, 0x00, 0x00})), "to radio    E0 identify 2651");
  EXPECT_EQ(describeFrame(wire({0xEE, 0xEF, 0xE2, 0x26, 0x51, 0x01, 0x00})),
            "to radio    E2 clone read 2651 0100");
  EXPECT_EQ(describeFrame(withAscii({0xEF, 0xEE, 0xE4}, "191010" + std::string(32, 'A') + "00")),
            "to program  E4 record 1910h 16 bytes");
  EXPECT_EQ(describeFrame(withAscii({0xEF, 0xEE, 0xE5}, "Vorel Co.E6")), "to program  E5 end count 230");
  EXPECT_EQ(describeFrame(withAscii({0xEE, 0xEF, 0xE5}, "Vorel Co.")), "to radio    E5 end");
  EXPECT_EQ(describeFrame(wire({0xEF, 0xEE, 0xE6, 0x00})), "to program  E6 write result 00");
  EXPECT_EQ(describeFrame(withAscii({0xEE, 0xEF, 0xE8, 0x26, 0x51, 0x01, 0x00, 0x05}, "C8")),
            "to radio    E8 code 05 value 200");
  EXPECT_EQ(describeFrame(withAscii({0xEF, 0xEE, 0xE8, 0x26, 0x51, 0x01, 0x00, 0x03}, "AA")),
            "to program  E8 answer code 03 value 170");
}

TEST(FrameText, DamagedFramesAreNamedWithoutGuessing) {
  EXPECT_EQ(describeFrame(withAscii({0xEF, 0xEE, 0xE8, 0x26, 0x51, 0x01, 0x00, 0x03}, "GQ")),
            "to program  E8 answer code 03 data 4751");
  EXPECT_EQ(describeFrame(withAscii({0xEF, 0xEE, 0xE4}, "19X0")),
            "to program  E4 record (not readable, 7 bytes)");
  EXPECT_EQ(describeFrame(wire({0xEF, 0xEE, 0xE5})), "to program  E5 end (no count)");
  EXPECT_EQ(describeFrame(wire({0xEE, 0xEF, 0xE1})), "to radio    E1 identification   (3 bytes)");
  EXPECT_EQ(describeFrame(wire({0x12, 0x34, 0x99})), "?           99 (3 bytes)");
  EXPECT_EQ(describeFrame(Bytes{0xFE, 0xFD}), "?           short frame (2 bytes)");
  EXPECT_EQ(describeFrame(Bytes{}), "?           short frame (0 bytes)");
}

}  // namespace
}  // namespace tarnset
