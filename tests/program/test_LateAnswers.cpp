// Answers that come late. A radio that answers a monitor request after the program's
// 1.2 s answer wait is sent the request again and answers it twice. Whatever the delay,
// no answer is taken for another request's: every monitor line shows its own channel's
// reading, and the RSSI point written is the signal detector's reading.
#include <gtest/gtest.h>

#include <regex>

#include "ProgramHarness.h"
#include "base/Common.h"
#include "console/clsConsole.h"
#include "model/clsIndOp_RigTarn.h"
#include "shell/frmMain.h"
#include "sim/TarnPhysics.h"

using namespace tarnset;
using namespace tarnset::testing;

namespace {

constexpr std::int16_t kRowRssi = 15;
// The monitor channels of the window's lines, A/D then D/A.
const int kChannels[2][9] = {{0, 3, 5, 4}, {16, 17, 18, 19, 12, 13, 14, 11, 15}};
const int kLines[2] = {4, 9};

// The monitor channel a request frame asks for; -1 for any other frame.
int requestedChannel(const kvsim::FrameRecord& f) {
  if (f.fromRadio || f.bytes.size() != 13 || f.bytes[4] != 0xE8 || f.bytes[9] != 0x03) return -1;
  const auto digit = [](std::uint8_t c) { return c <= '9' ? c - '0' : c - 'A' + 10; };
  return digit(f.bytes[10]) * 16 + digit(f.bytes[11]);
}

bool isMonitorAnswer(const kvsim::FrameRecord& f) {
  return f.fromRadio && f.bytes.size() == 13 && f.bytes[4] == 0xE8 && f.bytes[9] == 0x03;
}

// The raw reading a monitor line shows ("SD   :200:C8h:  3.92V" gives 200).
int rawOf(const std::string& line) {
  static const std::regex kRaw(":\\s*(\\d+):[0-9A-F]{2}h:");
  std::smatch m;
  return std::regex_search(line, m, kRaw) ? std::stoi(m[1].str()) : -1;
}

// Requests and answers of monitor channels since frame 'from'.
std::pair<int, int> requestsAndAnswers(ProgramHarness& h, std::size_t from) {
  int requests = 0, answers = 0;
  const auto& frames = h.radio().frames();
  for (std::size_t i = from; i < frames.size(); ++i) {
    requests += requestedChannel(frames[i]) >= 0;
    answers += isMonitorAnswer(frames[i]);
  }
  return {requests, answers};
}

// Every monitor line shows the reading of its own channel.
void expectEachLineShowsItsChannel(ProgramHarness& h) {
  for (int b = 0; b < 2; ++b) {
    for (int l = 0; l < kLines[b]; ++l) {
      const std::string line = h.program()
                                   .mainWindow()
                                   .lbo01(static_cast<std::size_t>(b))
                                   .itemText(static_cast<std::int16_t>(l + 1));
      EXPECT_EQ(rawOf(line), h.radio().monitorReading(kChannels[b][l])) << line;
    }
  }
}

// Delays of the late answer, in ms: just past the answer wait to past a second one.
const int kDelays[] = {1210, 1230, 1260, 1300, 1350, 1400, 1500, 1650, 1800, 2100, 2400};

class LateAnswer : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override { ASSERT_TRUE(h.connect()); }

  tk::ListBox& list() { return h.program().mainWindow().lboConsole(); }

  // Waits until a request for the channel has reached the radio (its answer not yet
  // begun), then makes that answer late.
  void delayAnswerTo(int channel) {
    ASSERT_TRUE(h.runUntil(
        [&] {
          const auto& frames = h.radio().frames();
          return !frames.empty() && requestedChannel(frames.back()) == channel;
        },
        10000))
        << "no request for channel " << channel;
    h.radio().delayNextMonitorAnswer(std::int64_t{GetParam()} * 1000);
  }

  ProgramHarness h;
};

}  // namespace

TEST_P(LateAnswer, EveryMonitorLineShowsItsOwnChannel) {
  const std::size_t from = h.radio().frames().size();
  h.toolkit().pressKey(list(), tk::Key::F5);
  delayAnswerTo(kChannels[0][0]);  // the pass's first request
  h.advance(6000);
  EXPECT_TRUE(h.toolkit().messages().empty());
  EXPECT_EQ(requestsAndAnswers(h, from), std::make_pair(14, 14))
      << "the late request was sent again and both of its transmissions were answered";
  expectEachLineShowsItsChannel(h);
}

TEST_P(LateAnswer, TheRssiPointIsTheSignalDetectorsReading) {
  list().setListIndex(kRowRssi);
  h.toolkit().pressKey(list(), tk::Key::Enter);  // RSSI starts at its L2 point
  h.advance(400);
  h.takeE8Commands();
  // A monitor pass, and the L2 point confirmed in the same cycle: the answer of the
  // pass's last line comes late, around the reading the confirmation writes.
  h.toolkit().pressKey(list(), tk::Key::F5);
  h.toolkit().pressKey(list(), tk::Key::Enter);
  delayAnswerTo(kChannels[1][8]);
  h.advance(6000);
  EXPECT_TRUE(h.toolkit().messages().empty());
  const int sd = h.radio().monitorReading(kvsim::mon::kSd);
  ASSERT_NE(sd, h.radio().monitorReading(kChannels[1][8]))
      << "the two readings must differ for the test to see";
  std::vector<std::string> points;
  for (const std::string& c : h.takeE8Commands()) {
    if (c.substr(0, 2) == "13") points.push_back(c);
  }
  EXPECT_EQ(points, std::vector<std::string>{"13" + ByteToAsciiHex(static_cast<std::int16_t>(sd))})
      << "one L2 point, the signal detector's reading " << sd;
  EXPECT_EQ(h.radio().image()[87], sd);
}

INSTANTIATE_TEST_SUITE_P(Delays, LateAnswer, ::testing::ValuesIn(kDelays),
                         [](const ::testing::TestParamInfo<int>& i) {
                           return std::to_string(i.param) + "ms";
                         });

// A framing error in the middle of an answer (the byte under way spoilt, or not) loses
// that answer only: the request goes out again, and every line shows its own channel.
TEST(LineError, AFramingErrorMidAnswerLosesThatAnswerOnly) {
  for (const bool corrupt : {false, true}) {
    SCOPED_TRACE(corrupt ? "the byte spoilt" : "the byte intact");
    ProgramHarness h;
    ASSERT_TRUE(h.connect());
    const std::size_t from = h.radio().frames().size();
    h.toolkit().pressKey(tk::Key::F5);
    ASSERT_TRUE(h.runUntil(
        [&] {
          const auto& frames = h.radio().frames();
          return !frames.empty() && requestedChannel(frames.back()) == kChannels[0][0];
        },
        1000));
    h.advance(5);  // the answer has begun
    h.port().raiseLineError(corrupt);
    h.advance(6000);
    EXPECT_EQ(h.port().lineErrorsRaised(), 1);
    EXPECT_TRUE(h.toolkit().messages().empty());
    EXPECT_EQ(requestsAndAnswers(h, from), std::make_pair(14, 14))
        << "the pass's 13 requests and the one sent again, each answered";
    expectEachLineShowsItsChannel(h);
  }
}
