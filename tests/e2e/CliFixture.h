#pragma once
// Shared by the tarnset-cli tests: a scratch folder with copies of kv-tarn-sim and
// tarnset-cli, and a way to run the companion there.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "E2eSupport.h"

namespace tarnset::e2e {

// Paths of the built programs, given by the build.
inline const fs::path kSimBinary = TARNSET_SIM_BIN;
inline const fs::path kCliBinary = TARNSET_CLI_BIN;

// A paced clone read of the whole image takes about 12.2 s; this is where a test gives up.
constexpr double kReadTimeout = 90.0;
// Commands that need no clone read.
constexpr double kQuickTimeout = 20.0;

class CliTest : public ::testing::Test {
 protected:
  CliTest() : cli_(scratch_.copyExecutable(kCliBinary)) {}

  // Runs the copied tarnset-cli with these arguments in the scratch folder.
  RunResult cli(const std::vector<std::string>& args, double timeout = kQuickTimeout) const {
    Command c;
    c.argv = {cli_.string()};
    c.argv.insert(c.argv.end(), args.begin(), args.end());
    c.cwd = scratch_.path().string();
    c.env = scratch_.environment();
    return run(c, timeout);
  }

  // The options file the copied companion reads: beside it, as its folder is writable.
  fs::path optionsFile() const { return scratch_ / "TarnsetADJ.rs"; }

  Scratch scratch_;
  fs::path cli_;
};

// The simulator with its virtual bench on a free port and no noise; Instruments.ini beside
// the companion's options file names it for every role, Limits.ini in the working folder
// is the repository's.
class CliBenchTest : public CliTest {
 protected:
  void startBench(std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"--bench", "0", "--bench-noise", "0"};
    args.insert(args.end(), extra.begin(), extra.end());
    sim_ = std::make_unique<Simulator>(scratch_, kSimBinary, args);
    ASSERT_TRUE(sim_->ready()) << sim_->errors();
    const auto line = sim_->process().readLine(10.0);
    ASSERT_TRUE(line.has_value());
    ASSERT_EQ(line->rfind("bench ", 0), 0u) << *line;
    benchAddress_ = line->substr(6);
    writeText(scratch_ / "Instruments.ini",
              "[Virtual bench]\nAddress=" + benchAddress_ +
                  "\nRoles=generator, counter, power, "
                  "deviation\nProfile=kv-tarn-bench\nCalibrationDue=2030-01-31\n");
    writeText(scratch_ / "Limits.ini", readText(fs::path(TARNSET_SOURCE_DIR) / "Limits.ini"));
  }
  std::unique_ptr<Simulator> sim_;
  std::string benchAddress_;
};

// A run's outcome for failure messages.
inline std::string describe(const RunResult& r) {
  return "exit " + std::to_string(r.exitCode) + (r.timedOut ? " (timed out)" : "") + "\n--- stdout:\n" +
         r.out.substr(0, 4000) + "\n--- stderr:\n" + r.err.substr(0, 4000);
}

}  // namespace tarnset::e2e
