// The Windows programs of the cross-built tree under Wine against kv-tarn-sim: each test
// copies them into a scratch folder of its own (their options file beside them), links a
// COM port of the Wine prefix to the simulator's pseudo-terminal and drives them as a
// technician at a Windows bench would.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "E2eSupport.h"
#include "sim/TarnImage.h"

namespace tarnset::e2e {
namespace {

const fs::path kWindowsBuild = TARNSET_WINDOWS_BUILD;
const fs::path kWineRun = TARNSET_SOURCE_DIR "/scripts/wine-run";
const fs::path kSimBinary = TARNSET_SIM_BIN;
const fs::path kConstFile = TARNSET_SOURCE_DIR "/Const.ini";
// The prefix these tests share (made once, with the COM links each test sets).
const fs::path kPrefix = TARNSET_WINE_PREFIX;
const std::string kTitle = "Tarnset ADJ Rev.1.2";

bool waitFor(const std::function<bool()>& done, double seconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

std::string describe(const RunResult& r) {
  return "exit " + std::to_string(r.exitCode) + (r.timedOut ? " (timed out)" : "") + "\n--- stdout:\n" +
         r.out.substr(0, 4000) + "\n--- stderr:\n" + r.err.substr(0, 4000);
}

// Where scripts/wine-run looks for Wine (Debian's package puts wine64 beside its libraries).
bool wineInstalled() {
  return fs::exists("/usr/lib/wine/wine64") || !findProgram("wine64").empty() || !findProgram("wine").empty();
}

class WineTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!fs::exists(kWindowsBuild / "app" / "tarnset-cli.exe") || !wineInstalled()) return;
    const RunResult r = wineRun(kPrefix, {"--start", "null"});
    suiteReady_ = r.exitCode == 0;
    if (!suiteReady_) startFailure_ = describe(r);
  }

  static RunResult wineRun(const fs::path& prefix, const std::vector<std::string>& args,
                           const std::vector<std::string>& set = {}) {
    Command c;
    c.argv = {kWineRun.string()};
    c.argv.insert(c.argv.end(), args.begin(), args.end());
    std::vector<std::string> env = {"WINEPREFIX=" + prefix.string()};
    env.insert(env.end(), set.begin(), set.end());
    c.env = environmentWith(env, {"DISPLAY"});
    return run(c, 180);
  }

  void SetUp() override {
    if (!fs::exists(kWindowsBuild / "app" / "tarnset-cli.exe"))
      GTEST_SKIP() << "no Windows programs in " << kWindowsBuild << " (make windows builds them)";
    if (!wineInstalled()) GTEST_SKIP() << "Wine is not installed";
    ASSERT_TRUE(suiteReady_) << "the Wine prefix could not be made: " << startFailure_;
  }

  void TearDown() override {
    if (!comLink_.empty()) fs::remove(comLink_);
  }

  // Links COM n of the prefix to the simulator's pseudo-terminal.
  void linkCom(int n, const Simulator& sim) {
    comLink_ = prefix_ / "dosdevices" / ("com" + std::to_string(n));
    std::error_code ec;
    fs::remove(comLink_, ec);
    fs::create_symlink(sim.device(), comLink_);
  }

  fs::path copyProgram(const std::string& name) const {
    return scratch_.copyExecutable(kWindowsBuild / "app" / (name + ".exe"));
  }

  Command wine(const fs::path& exe, const std::vector<std::string>& args,
               const std::vector<std::string>& set = {}) const {
    Command c;
    c.argv = {kWineRun.string(), exe.string()};
    c.argv.insert(c.argv.end(), args.begin(), args.end());
    c.cwd = scratch_.path().string();
    std::vector<std::string> env = {"WINEPREFIX=" + prefix_.string()};
    env.insert(env.end(), set.begin(), set.end());
    c.env = scratch_.environment(env);
    return c;
  }

  RunResult cli(const std::vector<std::string>& args, double timeout) const {
    return run(wine(copyProgram("tarnset-cli"), args), timeout);
  }

  static inline bool suiteReady_ = false;
  static inline std::string startFailure_;
  // The prefix the programs of a case run in.
  fs::path prefix_ = kPrefix;
  Scratch scratch_;
  fs::path comLink_;
};

TEST_F(WineTest, ReadThroughAComPortSavesTheRadiosImageByteForByte) {
  kvsim::Bytes image = kvsim::defaultImage();
  image[79] = 0xC3;  // a value the default image does not hold
  for (std::size_t i = 0x1910; i < 0x1920; ++i) image[i] = static_cast<std::uint8_t>(i * 7);
  writeBytes(scratch_ / "radio.bin", image);
  Simulator sim(scratch_, kSimBinary, {"--image", (scratch_ / "radio.bin").string()});
  ASSERT_TRUE(sim.ready()) << sim.errors();
  linkCom(5, sim);

  const RunResult r = cli({"read", "--port", "5", "--save", "saved.bin"}, 120);
  ASSERT_EQ(r.exitCode, 0) << describe(r) << sim.logText().substr(0, 2000);
  EXPECT_EQ(readBytes(scratch_ / "saved.bin"), image);
  // The link went to 38400 baud for the transfer, as on any other system.
  EXPECT_GE(sim.countInLog("TX 38400"), 1) << sim.logText().substr(0, 2000);
}

TEST_F(WineTest, MonitorPrintsItsFifteenLinesThroughAMappedPort) {
  Simulator sim(scratch_, kSimBinary);
  ASSERT_TRUE(sim.ready()) << sim.errors();
  linkCom(6, sim);
  // Menu number 1 mapped to the system's COM6, as a Windows user maps a USB adapter.
  const RunResult map = cli({"ports", "--map", "1=COM6"}, 30);
  ASSERT_EQ(map.exitCode, 0) << describe(map);

  const RunResult r = cli({"monitor", "--port", "1"}, 60);
  ASSERT_EQ(r.exitCode, 0) << describe(r);
  // Lines end in CR LF, as text does on Windows (a redirected listing opens in Notepad).
  std::vector<std::string> lines = splitLines(r.out);
  ASSERT_EQ(lines.size(), 15u) << r.out;
  for (std::string& line : lines) {
    ASSERT_TRUE(!line.empty() && line.back() == '\r') << line;
    line.pop_back();
  }
  EXPECT_EQ(lines[0], "[A/D]");
  EXPECT_EQ(lines[5], "[D/A]");
  EXPECT_EQ(lines[1].rfind("VIN  :", 0), 0u) << lines[1];
  EXPECT_EQ(lines[14].rfind("SQL Lev:", 0), 0u) << lines[14];
}

TEST_F(WineTest, ASilentRadioEndsTheReadWithItsMessageAndExit2) {
  Simulator sim(scratch_, kSimBinary, {"--fault", "silent"});
  ASSERT_TRUE(sim.ready()) << sim.errors();
  linkCom(7, sim);
  const RunResult r = cli({"read", "--port", "7", "--save", "never.bin"}, 60);
  EXPECT_EQ(r.exitCode, 2) << describe(r);
  EXPECT_NE(r.err.find("No answer from transceiver."), std::string::npos) << describe(r);
  EXPECT_FALSE(fs::exists(scratch_ / "never.bin"));
}

TEST_F(WineTest, TheWindowConnectsAdjustsLiveAndKeepsItsOptionsBesideTheProgram) {
  const XServer x;
  if (!x.ready()) GTEST_SKIP() << x.why();
  // Wine's desktop takes its display driver and X display when its server starts, so the
  // window has a prefix of its own, started on this case's display and ended with it.
  prefix_ = kPrefix.string() + "-window";
  wineRun(prefix_, {"--stop"});
  const RunResult started = wineRun(prefix_, {"--start", "x11"}, {"DISPLAY=" + x.display()});
  ASSERT_EQ(started.exitCode, 0) << describe(started);
  struct Stop {
    fs::path prefix;
    ~Stop() { wineRun(prefix, {"--stop"}); }
  } stop{prefix_};
  Simulator sim(scratch_, kSimBinary);
  ASSERT_TRUE(sim.ready()) << sim.errors();
  linkCom(8, sim);
  fs::copy_file(kConstFile, scratch_ / "Const.ini");
  const fs::path adj = copyProgram("tarnset-adj");
  writeText(scratch_ / "TarnsetADJ.rs", "[PORTS]\r\nCOM1=COM8\r\n");

  Background program(wine(adj, {}, {"DISPLAY=" + x.display()}));
  ASSERT_TRUE(program.started());
  std::string window;
  ASSERT_TRUE(waitFor(
      [&] {
        window = x.xdotool({"search", "--onlyvisible", "--name", "^" + kTitle + "$"}, 5).out;
        return !window.empty();
      },
      60))
      << program.takeErr();
  window = splitLines(window).front();
  const auto keys = [&](const std::vector<std::string>& names) {
    ASSERT_EQ(x.xdotool({"windowfocus", "--sync", window}).exitCode, 0);
    for (const std::string& k : names) ASSERT_EQ(x.xdotool({"key", "--delay", "50", k}).exitCode, 0);
  };

  // "Connect" has the focus when the window opens.
  keys({"space"});
  ASSERT_TRUE(sim.waitForLog("E8 code 0F value", 1, 90.0)) << sim.logText().substr(0, 3000);
  keys({"Down", "Right"});
  const std::string raised =
      "E8 code 05 value " + std::to_string(kvsim::defaultImage()[79] + 1) + " -> EEPROM 79";
  EXPECT_TRUE(sim.waitForLog(raised, 1, 10.0)) << sim.logText().substr(0, 3000);

  keys({"alt+f", "x"});
  EXPECT_EQ(program.waitExit(20.0), std::optional<int>(0)) << program.takeErr();
  const std::string saved = readText(scratch_ / "TarnsetADJ.rs");
  EXPECT_NE(saved.find("COM1=COM8"), std::string::npos) << saved;
  EXPECT_NE(saved.find("[OPTION]"), std::string::npos) << saved;
  EXPECT_NE(saved.find("ComPort=1"), std::string::npos) << saved;
}

}  // namespace
}  // namespace tarnset::e2e
