// The support trace: what a connection and a clone read put on the wire, decoded frame by
// frame with the change of line speed between them; a silent radio's resends and the
// message the technician saw.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "ProgramHarness.h"
#include "model/clsIndOp_RigTarn.h"
#include "shell/frmMain.h"

using namespace tarnset;
using namespace tarnset::testing;

namespace {

std::vector<std::string> lines(const std::filesystem::path& p) {
  std::ifstream in(p);
  std::vector<std::string> out;
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

// The text of the trace lines with this tag, without their time and tag.
std::vector<std::string> tagged(const std::vector<std::string>& trace, const std::string& tag) {
  std::vector<std::string> out;
  for (const std::string& l : trace) {
    if (l.size() > 19 && l.substr(11, tag.size()) == tag && l[11 + tag.size()] == ' ')
      out.push_back(l.substr(19));
  }
  return out;
}

std::size_t indexOf(const std::vector<std::string>& v, const std::string& text, std::size_t from = 0) {
  for (std::size_t i = from; i < v.size(); ++i) {
    if (v[i].find(text) != std::string::npos) return i;
  }
  return v.size();
}

}  // namespace

TEST(Trace, AConnectionIsTracedFrameByFrameWithTheSpeedChange) {
  TempFolder dir;
  HarnessOptions o;
  o.traceFile = (dir / "trace.txt").string();
  ProgramHarness h(o);
  ASSERT_TRUE(h.connect());
  h.advance(100);
  const auto trace = lines(o.traceFile);
  ASSERT_FALSE(trace.empty());
  EXPECT_EQ(trace.front().substr(11), "START   program test trace; times in ms since this line");

  // Every line, in order: open, identification, the request for high speed, the port at
  // 38400, the clone read request and its records, back at 9600, the first monitor.
  std::vector<std::string> all;
  for (const std::string& l : trace) all.push_back(l.substr(11));
  const std::size_t open = indexOf(all, "PORT    open loopback 9600 baud 8N1");
  const std::size_t ident = indexOf(all, "FRAME   to radio    E0 identify 2651", open);
  const std::size_t answer =
      indexOf(all, "FRAME   to program  E1 identification 2651 0100 (64 bytes)", ident);
  const std::size_t speed = indexOf(all, "FRAME   to radio    E8 code 01 value 9", answer);
  const std::size_t fast =
      indexOf(all, "PORT    open loopback 38400 baud 8N1 (line speed changed from 9600)", speed);
  const std::size_t request = indexOf(all, "FRAME   to radio    E2 clone read 2651 0100", fast);
  const std::size_t first = indexOf(all, "FRAME   to program  E4 record 0000h 16 bytes", request);
  const std::size_t last = indexOf(all, "FRAME   to program  E4 record 3E50h 16 bytes", first);
  const std::size_t end = indexOf(all, "FRAME   to program  E5 end count 230", last);
  const std::size_t slow =
      indexOf(all, "PORT    open loopback 9600 baud 8N1 (line speed changed from 38400)", end);
  const std::size_t monitor = indexOf(all, "FRAME   to radio    E8 code 03 value 0", slow);
  EXPECT_LT(monitor, all.size()) << "every step in its order";
  EXPECT_EQ(indexOf(all, "PORT    closed", speed), fast - 1) << "the port closes for the switch";

  const auto frames = tagged(trace, "FRAME");
  EXPECT_EQ(std::count_if(frames.begin(), frames.end(),
                          [](const std::string& f) { return f.find(" E4 record ") != std::string::npos; }),
            998);
  // The bytes themselves are there too, in hex.
  EXPECT_LT(indexOf(all, "TX      FE FE EE EF E0 26 51 00 00 FD"), ident);
  EXPECT_TRUE(tagged(trace, "MESSAGE").empty());
}

TEST(Trace, ASilentRadioShowsTheResendsAndTheMessageShown) {
  TempFolder dir;
  HarnessOptions o;
  o.traceFile = (dir / "trace.txt").string();
  ProgramHarness h(o);
  ASSERT_TRUE(h.connect());
  h.advance(500);
  h.radio().setSilent(true, h.nowUs());
  const std::size_t before = lines(o.traceFile).size();
  h.toolkit().pressKey(tk::Key::F5);  // the monitors are read: the first request finds no answer
  h.advance(5000);
  ASSERT_EQ(h.toolkit().messages().size(), 1u);
  auto trace = lines(o.traceFile);
  trace.erase(trace.begin(), trace.begin() + static_cast<std::ptrdiff_t>(before));
  EXPECT_EQ(tagged(trace, "FRAME"), std::vector<std::string>(3, "to radio    E8 code 03 value 0"))
      << "the request and its two resends, nothing answered";
  EXPECT_EQ(
      tagged(trace, "LINK"),
      (std::vector<std::string>{"no answer within 1200 ms: resent, 1 resends left",
                                "no answer within 1200 ms: resent, 0 resends left",
                                "no answer within 1200 ms: no resend left", "driver error 2: no answer"}));
  EXPECT_EQ(tagged(trace, "MESSAGE"),
            std::vector<std::string>{
                "No answer from transceiver. |  | Check the following: | - The COM port settings. | "
                "- Cloning cable connections. | - Transceiver power is ON."});
  // The resends are 1200 ms apart on the trace's clock.
  std::vector<long> at;
  for (const std::string& l : trace) {
    if (l.find("FRAME") != std::string::npos) at.push_back(std::stol(l.substr(0, 10)));
  }
  ASSERT_EQ(at.size(), 3u);
  EXPECT_NEAR(at[1] - at[0], 1200, 60);
  EXPECT_NEAR(at[2] - at[1], 1200, 60);
}
