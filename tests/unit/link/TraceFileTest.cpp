// The trace file: lines on disk as soon as they happen, frames cut from the bytes in
// either direction, and the size limit.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "link/TraceFile.h"
#include "support/TempDir.h"

namespace tarnset {
namespace {

namespace fs = std::filesystem;

std::string readAll(const fs::path& p) {
  std::ifstream in(p);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class TraceFileTest : public ::testing::Test {
 protected:
  testing::TempDir dir_;
  fs::path path_ = dir_.path("trace.txt");
  ManualTickSource clock_{5000};
};

TEST_F(TraceFileTest, EachLineIsOnDiskWhenItHappensAndFramesAreCutFromTheBytes) {
  TraceFile t(clock_);
  std::string why;
  ASSERT_TRUE(t.open(path_.string(), "tarnset-cli 1.2.0 read", why)) << why;
  clock_.advance(12);
  t.portOpened("/dev/ttyUSB0", 9600);
  // A frame split over two reads, with junk before it.
  t.bytesRead({0x00, 0xFE, 0xFE, 0xEF, 0xEE, 0xE8, 0x26, 0x51});
  EXPECT_EQ(readAll(path_),
            "         0 START   tarnset-cli 1.2.0 read trace; times in ms since this line\n"
            "        12 PORT    open /dev/ttyUSB0 9600 baud 8N1\n"
            "        12 RX      00 FE FE EF EE E8 26 51\n")
      << "written out before the trace is closed";
  clock_.advance(3);
  t.bytesRead({0x01, 0x00, 0x03, 0x41, 0x41, 0xFD});
  t.bytesWritten({0xFE, 0xFE, 0xFE, 0xEE, 0xEF, 0xE0, 0x26, 0x51, 0x00, 0x00, 0xFD}, true);
  t.bytesWritten({0xFE, 0xFE, 0xEE, 0xEF, 0xE0, 0x26, 0x51, 0x00, 0x00, 0xFD}, false);
  t.portClosed();
  t.portOpened("/dev/ttyUSB0", 38400);
  t.message("No answer from transceiver.\r\n\r\nCheck", "Port: x\r\nReason: y");
  const std::string text = readAll(path_);
  EXPECT_NE(text.find("        15 FRAME   to program  E8 answer code 03 value 170\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("        15 FRAME   to radio    E0 identify 2651\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("E0 identify 2651\n", text.find("E0 identify 2651\n") + 1), std::string::npos)
      << "a write the port refused put no frame on the wire";
  EXPECT_NE(text.find("(refused by the port)\n"), std::string::npos);
  EXPECT_NE(text.find("PORT    open /dev/ttyUSB0 38400 baud 8N1 (line speed changed from 9600)\n"),
            std::string::npos);
  EXPECT_NE(text.find("MESSAGE No answer from transceiver. |  | Check || Port: x | Reason: y\n"),
            std::string::npos);
}

TEST_F(TraceFileTest, AtItsSizeLimitTheTraceSaysSoAndGrowsNoFurther) {
  TraceFile t(clock_, 400);
  std::string why;
  ASSERT_TRUE(t.open(path_.string(), "tarnset-adj", why));
  for (int i = 0; i < 50; ++i) t.linkEvent("no answer within 1200 ms: resent, 1 resends left");
  const std::string text = readAll(path_);
  EXPECT_LE(text.size(), 400u);
  EXPECT_EQ(text.substr(text.rfind('\n', text.size() - 2) + 1 + 11),
            "STOP    the trace stops here: it has reached its size limit\n");
  t.linkEvent("more");
  EXPECT_EQ(readAll(path_), text);
}

TEST_F(TraceFileTest, AFileThatCannotBeWrittenIsRefusedWithTheReason) {
  TraceFile t(clock_);
  std::string why;
  EXPECT_FALSE(t.open((path_ / "inside-a-missing-folder.txt").string(), "tarnset-cli", why));
  EXPECT_EQ(why, "No such file or directory");
  EXPECT_FALSE(t.isOpen());
}

}  // namespace
}  // namespace tarnset
