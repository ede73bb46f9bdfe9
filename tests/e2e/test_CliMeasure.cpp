// tarnset-cli measure and instruments against kv-tarn-sim serving its virtual bench: the
// instruments asked for their identity, the items measured against Limits.ini.
#include <signal.h>

#include <regex>

#include "CliFixture.h"

namespace tarnset::e2e {
namespace {

class CliMeasureTest : public CliTest {
 protected:
  // The simulator with its bench on a free port; Instruments.ini beside the companion's
  // options file names it for every role, Limits.ini in the working folder is the
  // repository's.
  void startBench(std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"--bench", "0", "--bench-noise", "0"};
    args.insert(args.end(), extra.begin(), extra.end());
    sim_ = std::make_unique<Simulator>(scratch_, kSimBinary, args);
    ASSERT_TRUE(sim_->ready()) << sim_->errors();
    const auto line = sim_->process().readLine(10.0);
    ASSERT_TRUE(line.has_value());
    ASSERT_EQ(line->rfind("bench ", 0), 0u) << *line;
    writeText(scratch_ / "Instruments.ini",
              "[Virtual bench]\nAddress=" + line->substr(6) +
                  "\nRoles=generator, counter, power, "
                  "deviation\nProfile=kv-tarn-bench\nCalibrationDue=2030-01-31\n");
    writeText(scratch_ / "Limits.ini", readText(fs::path(TARNSET_SOURCE_DIR) / "Limits.ini"));
  }
  std::unique_ptr<Simulator> sim_;
};

TEST_F(CliMeasureTest, InstrumentsAreListedWithTheirIdentity) {
  startBench();
  const RunResult r = cli({"instruments"});
  ASSERT_EQ(r.exitCode, 0) << describe(r);
  EXPECT_NE(r.out.find("  Virtual bench: TCPIP::127.0.0.1::"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(
                "(signal generator, frequency counter, power meter, deviation meter; profile kv-tarn-bench)"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("    *IDN?: Tarnset, KV-Tarn virtual bench, serial VB-0001, firmware 1.0"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("calibration due 2030-01-31"), std::string::npos);

  // An instrument that does not answer is said, with exit 2.
  writeText(scratch_ / "Instruments.ini", "[Gone]\nAddress=TCPIP::127.0.0.1::1::SOCKET\nRoles=counter\n");
  const RunResult gone = cli({"instruments"});
  EXPECT_EQ(gone.exitCode, 2) << describe(gone);
  EXPECT_NE(gone.out.find("    no identity: "), std::string::npos) << gone.out;
}

TEST_F(CliMeasureTest, EveryItemWithALimitIsMeasuredWithTheRadioKeyed) {
  startBench();
  sim_->process().signal(SIGRTMIN + 1);  // the PTT: the radio transmits
  const RunResult r = cli({"measure", "--port", sim_->link()}, kReadTimeout);
  ASSERT_TRUE(r.exitCode == 0 || r.exitCode == 1) << describe(r);
  const std::vector<std::string> lines = splitLines(r.out);
  ASSERT_EQ(lines.size(), 8u) << r.out;
  static const std::regex kLine(
      "^(Power\\((Hi|L2|L1)\\) Power: [0-9.]+ W|(Balance|MOD W|MOD N|CTCS/DTCS) Deviation: [0-9.]+ kHz|"
      "TXF Carrier: [0-9.]+ MHz, error [-+][0-9]+ Hz \\([-+][0-9.]+ ppm\\))  \\(limits [-0-9.]+ \\.\\. "
      "[0-9.]+ "
      "(W|kHz|Hz)\\)  (PASS|FAIL)$");
  bool anyFail = false;
  for (const std::string& l : lines) {
    EXPECT_TRUE(std::regex_match(l, kLine)) << l;
    anyFail = anyFail || l.ends_with("FAIL");
  }
  EXPECT_EQ(r.exitCode, anyFail ? 1 : 0);
  // Each item went out once more, as the radio held it, before it was measured.
  EXPECT_GE(sim_->countInLog("E8 code 05 value"), 2)
      << "Power(Hi): after the connection and for its measurement";
}

TEST_F(CliMeasureTest, WithoutACarrierTheMeasurementsAreMissingAndTheExitSaysSo) {
  startBench();
  const RunResult r = cli({"measure", "--port", sim_->link()}, kReadTimeout);
  EXPECT_EQ(r.exitCode, 1) << describe(r);
  for (const std::string& l : splitLines(r.out)) {
    EXPECT_EQ(l.find("PASS"), std::string::npos) << l;
  }
}

}  // namespace
}  // namespace tarnset::e2e
