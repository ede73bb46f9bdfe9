// One direction of the cable: timing at the line rate and what a UART at the wrong baud hears.
#include <gtest/gtest.h>

#include <cmath>

#include "sim/UartLine.h"

namespace kvsim {
namespace {

std::vector<UartLine::Received> sendAndReceive(const std::vector<std::uint8_t>& bytes, std::int32_t txBaud,
                                               std::int32_t rxBaud, std::int64_t limitNs) {
  UartLine line;
  for (std::uint8_t b : bytes) line.send(b, 0, txBaud);
  std::vector<UartLine::Received> out;
  line.receive(limitNs, rxBaud, out);
  return out;
}

TEST(UartLine, SameBaudDeliversEachByteWhenItsStopBitEnds) {
  const std::int64_t byte = UartLine::byteNs(9600);
  EXPECT_EQ(byte, 1041667);
  const auto got = sendAndReceive({0x12, 0xFE, 0x00}, 9600, 9600, 2 * byte);
  ASSERT_EQ(got.size(), 2u);  // the third is still on the wire
  EXPECT_EQ(got[0].byte, 0x12);
  EXPECT_EQ(got[0].atNs, byte);
  EXPECT_EQ(got[1].byte, 0xFE);
  EXPECT_EQ(got[1].atNs, std::llround(2e10 / 9600));  // no rounding error adds up
  EXPECT_FALSE(got[1].sampled);
}

TEST(UartLine, ReceiverAtAnotherBaudHearsJunk) {
  const std::vector<std::uint8_t> sent = {0xFE, 0xFE, 0xEE, 0xEF, 0xE0, 0x26, 0x51, 0x00, 0x00, 0xFD};
  // Slow bytes at a fast receiver: the long start bit reads as zero bits, framing errors give 00.
  const auto fast = sendAndReceive(sent, 9600, 38400, 1000000000);
  ASSERT_FALSE(fast.empty());
  // Fast bytes at a slow receiver: about one byte heard per four sent.
  const auto slow = sendAndReceive(sent, 38400, 9600, 1000000000);
  EXPECT_LE(slow.size(), 5u);
  for (const auto* got : {&fast, &slow}) {
    std::vector<std::uint8_t> heard;
    for (const auto& r : *got) {
      EXPECT_TRUE(r.sampled);
      heard.push_back(r.byte);
    }
    EXPECT_NE(heard, sent);
  }
  // A fast receiver hears a slow 00 byte (a long low) as a run of framing errors, delivered as 00.
  const auto zero = sendAndReceive({0x00}, 9600, 38400, 1000000000);
  ASSERT_FALSE(zero.empty());
  EXPECT_EQ(zero[0].byte, 0x00);
}

TEST(UartLine, ReceiverJoiningMidByteStartsAtTheNextStartBit) {
  UartLine line;
  const std::int64_t byte = UartLine::byteNs(9600);
  line.send(0x00, 0, 9600);  // long low: a listener that joins in it sees junk
  line.send(0xFF, 0, 9600);  // start bit only
  line.send(0x41, 0, 9600);
  line.discardUntil(byte / 2);
  std::vector<UartLine::Received> out;
  line.receive(3 * byte, 9600, out);
  ASSERT_FALSE(out.empty());
  EXPECT_EQ(out.back().byte, 0x41);
  EXPECT_NEAR(static_cast<double>(out.back().atNs), 3e10 / 9600, 1.0);
  EXPECT_TRUE(line.empty());
}

}  // namespace
}  // namespace kvsim
