// tarnset-cli align against kv-tarn-sim serving its virtual bench: a misaligned radio
// aligned unattended (the test keys and releases the transmitter when the companion asks),
// a bench that stops answering, and a bench without the instrument the steps need.
#include <signal.h>

#include <iostream>
#include <string>
#include <vector>

#include "CliFixture.h"

namespace tarnset::e2e {
namespace {

// TXF, the three power levels, the four modulation items, RSSI and BPF ALL, each with
// the two reads of the radio around them.
constexpr double kAlignTimeout = 280.0;

class CliAlignTest : public CliBenchTest {
 protected:
  Command align(const std::vector<std::string>& args) const {
    Command c;
    c.argv = {cli_.string(), "align"};
    c.argv.insert(c.argv.end(), args.begin(), args.end());
    c.argv.insert(c.argv.end(), {"--port", sim_->link()});
    c.cwd = scratch_.path().string();
    c.env = scratch_.environment();
    return c;
  }
  // Sends one line to the bench over a connection of its own, as a second user would.
  void tellBench(const std::string& line) const {
    const std::string port = benchAddress_.substr(benchAddress_.find("::") + 2);
    const std::string portNumber = port.substr(port.find("::") + 2, port.rfind("::") - port.find("::") - 2);
    Command c;
    c.argv = {findProgram("bash"), "-c",
              "exec 3<>/dev/tcp/127.0.0.1/" + portNumber + "; echo '" + line + "' >&3; sleep 0.2"};
    const RunResult r = run(c, 10.0);
    ASSERT_EQ(r.exitCode, 0) << describe(r);
  }
  // The values of the E8 commands of this code (two hex digits) in the simulator's log,
  // in order.
  std::vector<int> sentOf(const std::string& code) const {
    const std::string frame = "FRAME   to radio    E8 code " + code + " value ";
    std::vector<int> values;
    for (const std::string& l : splitLines(sim_->logText())) {
      const std::size_t at = l.find(frame);
      if (at != std::string::npos) values.push_back(std::stoi(l.substr(at + frame.size())));
    }
    return values;
  }
};

TEST_F(CliAlignTest, AMisalignedRadioIsAlignedReadBackAndThenMeasuresInsideEveryLimit) {
  startBench();
  writeText(scratch_ / "Const.ini", readText(fs::path(TARNSET_SOURCE_DIR) / "Const.ini"));
  Background p(align({"all"}));
  ASSERT_TRUE(p.started());
  std::vector<std::string> lines;
  const auto waitFor = [&](const std::string& start) {
    while (auto line = p.readLine(kAlignTimeout)) {
      lines.push_back(*line);
      if (line->rfind(start, 0) == 0) return true;
    }
    return false;
  };
  ASSERT_TRUE(waitFor("Key the radio's transmitter (PTT)")) << p.takeErr();
  sim_->process().signal(SIGRTMIN + 1);  // the technician keys the radio
  ASSERT_TRUE(waitFor("The transmitter's alignment is over. Release the transmitter.")) << p.takeErr();
  sim_->process().signal(SIGRTMIN + 1);  // and releases it
  const std::optional<int> rc = p.waitExit(kAlignTimeout);
  while (auto line = p.readLine(0.1)) lines.push_back(*line);
  std::string all;
  for (const std::string& l : lines) all += l + "\n";
  ASSERT_TRUE(rc.has_value()) << all;
  EXPECT_EQ(*rc, 0) << all << p.takeErr();

  // A line per step as it ran, the transmitter's first, then the receiver's.
  std::vector<std::string> steps;
  bool tuned = false;
  for (const std::string& l : lines) {
    if (l.rfind("tx ", 0) != 0 && l.rfind("rx ", 0) != 0) continue;
    steps.push_back(l.substr(0, l.find(':')));
    // A misaligned radio takes more than the first measurement somewhere.
    tuned =
        tuned || (l.find(" measurement(s)") != std::string::npos && l.find(" after 1 ") == std::string::npos);
  }
  EXPECT_EQ(steps, (std::vector<std::string>{"tx 1/8", "tx 2/8", "tx 3/8", "tx 4/8", "tx 5/8", "tx 6/8",
                                             "tx 7/8", "tx 8/8", "rx 1/2", "rx 2/2"}))
      << all;
  EXPECT_TRUE(tuned) << all;
  EXPECT_NE(all.find("\nPower(Hi)   PASS    "), std::string::npos) << all;
  EXPECT_NE(all.find("\nBPF ALL     PASS    -"), std::string::npos) << all;
  EXPECT_NE(all.find("Align All: 10 of 10 steps passed.\n"
                     "The radio was read back: it holds every value the alignment sent.\n"),
            std::string::npos)
      << all;

  // The radio as left measures inside every limit.
  sim_->process().signal(SIGRTMIN + 1);
  const RunResult m = cli({"measure", "--port", sim_->link()}, kReadTimeout);
  EXPECT_EQ(m.exitCode, 0) << describe(m);
  EXPECT_EQ(m.out.find("FAIL"), std::string::npos) << m.out;
}

TEST_F(CliAlignTest, ABenchThatStopsAnsweringEndsWithItsFaultAndNoReceiverSettingSent) {
  startBench();
  tellBench("SIM:FAULT SILENT");
  const RunResult r = run(align({"rx"}), kAlignTimeout);
  EXPECT_EQ(r.exitCode, 2) << describe(r);
  EXPECT_NE(r.err.find("The signal generator failed: the procedure was stopped."), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("tarnset-cli: the instrument Virtual bench does not answer: "), std::string::npos)
      << r.err;
  EXPECT_NE(r.out.find("Align All: 0 of 2 steps passed."), std::string::npos) << r.out;
  // No RSSI point went out, and the filters only as the radio holds them (each connection
  // sends every item once as read): no setting of the sweep.
  EXPECT_TRUE(sentOf("12").empty());
  EXPECT_TRUE(sentOf("13").empty());
  for (const char* code : {"0C", "0D", "0E", "0F"}) {
    const std::vector<int> values = sentOf(code);
    ASSERT_EQ(values.size(), 2u) << code << ": the connection and the read back";
    EXPECT_EQ(values[0], values[1]) << code;
  }
  if (HasFailure()) {
    const std::string log = sim_->logText();
    std::cerr << "--- the simulator's log, its end:\n"
              << log.substr(log.size() > 4000 ? log.size() - 4000 : 0);
  }
}

TEST_F(CliAlignTest, WithoutTheInstrumentOrTheFileItsStepsNeedNothingIsOpenedOrSent) {
  startBench();
  writeText(scratch_ / "Instruments.ini", "[Meters]\nAddress=" + benchAddress_ +
                                              "\nRoles=counter, power, deviation\nProfile=kv-tarn-bench\n");
  const RunResult r = run(align({"rx"}), kQuickTimeout);
  EXPECT_EQ(r.exitCode, 2) << describe(r);
  EXPECT_NE(r.err.find("tarnset-cli: nothing to align: no instrument of "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(" serves the signal generator\n"), std::string::npos) << r.err;

  // The transmitter's alignment without the oscillator's coefficients: refused as well.
  const RunResult noConst = run(align({"tx"}), kQuickTimeout);
  EXPECT_EQ(noConst.exitCode, 2) << describe(noConst);
  EXPECT_NE(noConst.err.find("tarnset-cli: cannot read 'Const.ini' in the current folder"), std::string::npos)
      << noConst.err;
  EXPECT_EQ(sim_->countInLog("E8 code"), 0) << sim_->logText();
  EXPECT_EQ(sim_->countInLog(" RX "), 0) << "the port was not even opened";
}

}  // namespace
}  // namespace tarnset::e2e
