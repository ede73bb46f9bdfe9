// The radio's frame cutter, fed the byte sequences a real line delivers.
#include <gtest/gtest.h>

#include "sim/FrameCutter.h"

namespace kvsim {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::vector<Bytes> feedAll(FrameCutter& cut, const Bytes& in) {
  std::vector<Bytes> out;
  for (std::uint8_t b : in) {
    if (auto f = cut.feed(b)) out.push_back(*f);
  }
  return out;
}

const Bytes kE0Body = {0xEE, 0xEF, 0xE0, 0x26, 0x51, 0x00, 0x00};

TEST(FrameCutter, CutsFramesWhateverSurroundsThem) {
  struct Case {
    const char* what;
    Bytes wire;
    std::vector<Bytes> frames;
  };
  const Bytes e0 = {0xFE, 0xFE, 0xEE, 0xEF, 0xE0, 0x26, 0x51, 0x00, 0x00, 0xFD};
  const auto after = [&](Bytes head) {
    head.insert(head.end(), e0.begin(), e0.end());
    return head;
  };
  const Case cases[] = {
      {"plain", e0, {kE0Body}},
      {"long FE burst", after(Bytes(39, 0xFE)), {kE0Body}},
      {"junk and stray FD first", after({0x00, 0x12, 0xFD, 0x77}), {kE0Body}},
      {"lone FE is no preamble", {0xFE, 0xEE, 0xEF, 0xE0, 0xFD}, {}},
      {"broken frame restarted", after({0xFE, 0xFE, 0xEE, 0xEF, 0xE8, 0x26}), {kE0Body}},
      {"empty frame dropped", after({0xFE, 0xFE, 0xFD}), {kE0Body}},
      {"two back to back", after(e0), {kE0Body, kE0Body}},
  };
  for (const Case& c : cases) {
    FrameCutter cut;
    EXPECT_EQ(feedAll(cut, c.wire), c.frames) << c.what;
  }
}

TEST(FrameCutter, FrameSplitAcrossFeedsIsAssembled) {
  FrameCutter cut;
  EXPECT_TRUE(feedAll(cut, {0xFE, 0xFE, 0xEE, 0xEF}).empty());
  EXPECT_TRUE(feedAll(cut, {0xE0, 0x26, 0x51}).empty());
  EXPECT_EQ(feedAll(cut, {0x00, 0x00, 0xFD}), std::vector<Bytes>{kE0Body});
}

TEST(FrameCutter, OverlongFrameIsDroppedAndTheNextOneCut) {
  FrameCutter cut;
  Bytes wire = {0xFE, 0xFE};
  wire.insert(wire.end(), FrameCutter::kMaxBody + 10, 0x30);
  wire.push_back(0xFD);
  EXPECT_TRUE(feedAll(cut, wire).empty());
  EXPECT_EQ(feedAll(cut, {0xFE, 0xFE, 0xEE, 0xEF, 0xE0, 0x26, 0x51, 0x00, 0x00, 0xFD}),
            std::vector<Bytes>{kE0Body});
}

}  // namespace
}  // namespace kvsim
