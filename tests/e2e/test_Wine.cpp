// The Windows programs of the cross-built tree under Wine against kv-tarn-sim: each test
// copies them into a scratch folder of its own (their options file beside them), links a
// COM port of the Wine prefix to the simulator's pseudo-terminal and drives them as a
// technician at a Windows bench would.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <regex>
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
                           const std::vector<std::string>& set = {}, double timeout = 180) {
    Command c;
    c.argv = {kWineRun.string()};
    c.argv.insert(c.argv.end(), args.begin(), args.end());
    std::vector<std::string> env = {"WINEPREFIX=" + prefix.string()};
    env.insert(env.end(), set.begin(), set.end());
    c.env = environmentWith(env, {"DISPLAY"});
    return run(c, timeout);
  }

  void SetUp() override {
    if (!fs::exists(kWindowsBuild / "app" / "tarnset-cli.exe"))
      GTEST_SKIP() << "no Windows programs in " << kWindowsBuild << " (make windows builds them)";
    if (!wineInstalled()) GTEST_SKIP() << "Wine is not installed";
    ASSERT_TRUE(suiteReady_) << "the Wine prefix could not be made: " << startFailure_;
  }

  void TearDown() override {
    if (!comLink_.empty()) fs::remove(comLink_);
    if (!stopAtEnd_.empty()) wineRun(stopAtEnd_, {"--stop"});
  }

  // Starts prefix_'s server with a display driver (making the prefix first), and ends it
  // with the case.
  void startOwnPrefix(const std::string& driver, const std::vector<std::string>& set) {
    wineRun(prefix_, {"--stop"});
    const RunResult started = wineRun(prefix_, {"--start", driver}, set, 300);
    ASSERT_EQ(started.exitCode, 0) << describe(started);
    stopAtEnd_ = prefix_;
  }

  // The program's main window once it shows on the X display; the case fails when it does
  // not within a minute.
  static std::string mainWindow(const XServer& x, Background& program) {
    std::string window;
    const bool shown = waitFor(
        [&] {
          window = x.xdotool({"search", "--onlyvisible", "--name", "^" + kTitle + "$"}, 5).out;
          return !window.empty();
        },
        60);
    EXPECT_TRUE(shown) << program.takeErr();
    return shown ? splitLines(window).front() : std::string();
  }

  // Types keys into the window (xdotool's names: "space", "alt+f").
  static void typeKeys(const XServer& x, const std::string& window, const std::vector<std::string>& names) {
    ASSERT_EQ(x.xdotool({"windowfocus", "--sync", window}).exitCode, 0);
    for (const std::string& k : names) ASSERT_EQ(x.xdotool({"key", "--delay", "50", k}).exitCode, 0);
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
    c.cwd = cwd_.empty() ? scratch_.path().string() : cwd_.string();
    std::vector<std::string> env = {"WINEPREFIX=" + prefix_.string()};
    env.insert(env.end(), user_.begin(), user_.end());
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
  // Where they start (the scratch folder when empty), and who runs them ("USER=...",
  // "LANG=..."): Wine names the Windows user after USER, at every start.
  fs::path cwd_;
  std::vector<std::string> user_;
  Scratch scratch_;
  fs::path comLink_;
  fs::path stopAtEnd_;  // a prefix of the case's own, whose server ends with it
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
  startOwnPrefix("x11", {"DISPLAY=" + x.display()});
  if (HasFatalFailure()) return;
  Simulator sim(scratch_, kSimBinary);
  ASSERT_TRUE(sim.ready()) << sim.errors();
  linkCom(8, sim);
  fs::copy_file(kConstFile, scratch_ / "Const.ini");
  const fs::path adj = copyProgram("tarnset-adj");
  writeText(scratch_ / "TarnsetADJ.rs", "[PORTS]\r\nCOM1=COM8\r\n");

  Background program(wine(adj, {}, {"DISPLAY=" + x.display()}));
  ASSERT_TRUE(program.started());
  const std::string window = mainWindow(x, program);
  ASSERT_FALSE(window.empty());
  const auto keys = [&](const std::vector<std::string>& names) { typeKeys(x, window, names); };

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

// COM 3 opens nothing in this prefix; the cable's adapter is COM9 (the simulator). The
// failure's box lists the serial ports present; choosing COM9 maps COM 3 to it in the
// options file, and the window connects through it at once.
TEST_F(WineTest, ANumberThatOpensNothingOffersTheCablesPortAndConnectsThroughIt) {
  const XServer x;
  if (!x.ready()) GTEST_SKIP() << x.why();
  // A prefix of its own: a case that shares one with another window case would have its
  // server stopped under it when the other one ends.
  prefix_ = kPrefix.string() + "-mapping";
  startOwnPrefix("x11", {"DISPLAY=" + x.display()});
  if (HasFatalFailure()) return;
  // Wine links COM n to the host's n-th serial device where one exists; COM 3 must open
  // nothing whatever serial devices the machine has.
  std::error_code ec;
  fs::remove(prefix_ / "dosdevices" / "com3", ec);
  Simulator sim(scratch_, kSimBinary);
  ASSERT_TRUE(sim.ready()) << sim.errors();
  linkCom(9, sim);  // the highest number present: the last line of the box
  fs::copy_file(kConstFile, scratch_ / "Const.ini");
  const fs::path adj = copyProgram("tarnset-adj");
  writeText(scratch_ / "TarnsetADJ.rs", "[OPTION]\r\nComPort=3\r\n");

  Background program(wine(adj, {}, {"DISPLAY=" + x.display()}));
  ASSERT_TRUE(program.started());
  const std::string window = mainWindow(x, program);
  ASSERT_FALSE(window.empty());
  typeKeys(x, window, {"space"});  // Connect
  const bool boxShown = waitFor(
      [&] {
        return splitLines(x.xdotool({"search", "--onlyvisible", "--name", "^" + kTitle + "$"}, 5).out)
                   .size() >= 2;
      },
      30);
  ASSERT_TRUE(boxShown) << program.takeErr();
  EXPECT_FALSE(sim.waitForLog("E8 code", 1, 1.0)) << "nothing reaches the radio before the choice";
  // The list has the focus: its last line, then OK.
  ASSERT_EQ(x.xdotool({"key", "--delay", "100", "End", "Return"}).exitCode, 0);
  ASSERT_TRUE(sim.waitForLog("E8 code 0F value", 1, 90.0)) << sim.logText().substr(0, 3000);
  const std::string mapped = readText(scratch_ / "TarnsetADJ.rs");
  EXPECT_NE(mapped.find("[PORTS]"), std::string::npos) << mapped;
  EXPECT_NE(mapped.find("COM3=COM9"), std::string::npos) << mapped;

  typeKeys(x, window, {"alt+f", "x"});
  EXPECT_EQ(program.waitExit(20.0), std::optional<int>(0)) << program.takeErr();
  const std::string saved = readText(scratch_ / "TarnsetADJ.rs");
  EXPECT_NE(saved.find("COM3=COM9"), std::string::npos) << "the mapping outlives the exit: " << saved;
  EXPECT_NE(saved.find("ComPort=3"), std::string::npos) << saved;
}

// ---- a technician named José, folders named in any script -----------------------------

// A folder name with accented and Cyrillic letters, as a Windows user may unpack the zip.
const std::string kUnicodeFolder = "Tarnset ADJ – été Прибор";
const std::string kTechnician = "José";

// What a file's name holds, in the bytes a folder listing gives (the names are UTF-8 on
// the host's side of Wine).
bool holdsFileNamed(const fs::path& folder, const std::regex& name) {
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(folder, ec)) {
    if (std::regex_match(e.path().filename().string(), name)) return true;
  }
  return false;
}

// The programs of José, a Windows user whose name has an accent, in a prefix of his own
// made and run with USER=José, under the Windows code page of a locale: Cyrillic
// (ru_RU, 1251) unless a case says otherwise.
class JoseWineTest : public WineTest {
 protected:
  void SetUp() override {
    WineTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    prefix_ = kPrefix.string() + "-jose";
    user_ = {"USER=" + kTechnician, "LANG=" + locale(), "LC_ALL="};
    startPrefix();
  }
  virtual std::string locale() const { return "ru_RU.UTF-8"; }

  // Starts the prefix the José cases share (making it first), with the null driver.
  void startPrefix() {
    std::vector<std::string> env = user_;
    env.push_back("HOME=" + (scratch_ / "home").string());
    const RunResult started = wineRun(prefix_, {"--start", "null"}, env, 300);
    ASSERT_EQ(started.exitCode, 0) << describe(started);
    ASSERT_TRUE(fs::is_directory(prefix_ / "drive_c" / "users" / kTechnician))
        << "Wine did not name the user after USER";
  }

  // The programs copied into a folder with accents and Cyrillic letters in its name.
  fs::path unicodeFolder() {
    const fs::path folder = scratch_ / kUnicodeFolder;
    fs::create_directories(folder);
    return folder;
  }
  fs::path copyInto(const fs::path& folder, const std::string& name) const {
    const fs::path to = folder / (name + ".exe");
    fs::copy_file(kWindowsBuild / "app" / (name + ".exe"), to, fs::copy_options::overwrite_existing);
    return to;
  }
};

// The same under a Cyrillic and a Western code page (de_DE, 1252, which has no Cyrillic).
class WineUnicodeTest : public JoseWineTest, public ::testing::WithParamInterface<const char*> {
 protected:
  std::string locale() const override { return GetParam(); }
};

TEST_P(WineUnicodeTest, TheCompanionKeepsItsOptionsBesideItselfAndSavesAndTracesToCyrillicNames) {
  kvsim::Bytes image = kvsim::defaultImage();
  image[79] = 0xA7;
  writeBytes(scratch_ / "radio.bin", image);
  Simulator sim(scratch_, kSimBinary, {"--image", (scratch_ / "radio.bin").string()});
  ASSERT_TRUE(sim.ready()) << sim.errors();
  // The cases of both locales share the prefix and may run at once: a port each.
  const int com = locale().rfind("ru_RU", 0) == 0 ? 6 : 7;
  linkCom(com, sim);
  const fs::path folder = unicodeFolder();
  const fs::path cli = copyInto(folder, "tarnset-cli");

  // The options beside the program, whatever the folder is named and whoever runs it.
  const RunResult map = run(wine(cli, {"ports", "--map", "1=COM" + std::to_string(com)}), 60);
  ASSERT_EQ(map.exitCode, 0) << describe(map);
  EXPECT_NE(map.out.find(kUnicodeFolder + "\\TarnsetADJ.rs"), std::string::npos)
      << "the file's name is printed in UTF-8: " << map.out;
  const std::string options = readText(folder / "TarnsetADJ.rs");
  EXPECT_NE(options.find("COM1=COM" + std::to_string(com)), std::string::npos) << options;
  EXPECT_FALSE(fs::exists(prefix_ / "drive_c" / "users" / kTechnician / "AppData" / "Roaming" / "TarnsetADJ"))
      << "nothing goes to the application data of a copy that can keep its options";

  // A read saved and traced to files named in Cyrillic, beside a file of another script.
  const std::string saved = "Снимок радиостанции é.bin";
  const std::string trace = "След связи.txt";
  const RunResult read = run(wine(cli, {"read", "--port", "1", "--save", saved, "--trace", trace}), 120);
  ASSERT_EQ(read.exitCode, 0) << describe(read) << sim.logText().substr(0, 2000);
  EXPECT_EQ(readBytes(scratch_ / saved), image);
  const std::string traced = readText(scratch_ / trace);
  EXPECT_NE(traced.find("START"), std::string::npos) << traced.substr(0, 500);
  EXPECT_NE(traced.find("FRAME"), std::string::npos);

  // Read back by name: diff finds the one value that differs from the default image.
  writeBytes(scratch_ / "Образец.bin", kvsim::defaultImage());
  const RunResult diff = run(wine(cli, {"diff", "Образец.bin", saved}), 60);
  EXPECT_EQ(diff.exitCode, 1) << describe(diff);
}

TEST_F(JoseWineTest, TheWindowBacksUpAReadBesideItsOptions) {
  const XServer x;
  if (!x.ready()) GTEST_SKIP() << x.why();
  // The window has a prefix of its own on this case's display (see the window case).
  prefix_ = kPrefix.string() + "-jose-window";
  std::vector<std::string> env = user_;
  env.insert(env.end(), {"HOME=" + (scratch_ / "home").string(), "DISPLAY=" + x.display()});
  startOwnPrefix("x11", env);
  if (HasFatalFailure()) return;
  kvsim::Bytes image = kvsim::defaultImage();
  image[80] = 0x5C;
  writeBytes(scratch_ / "radio.bin", image);
  Simulator sim(scratch_, kSimBinary, {"--image", (scratch_ / "radio.bin").string()});
  ASSERT_TRUE(sim.ready()) << sim.errors();
  linkCom(8, sim);
  const fs::path folder = unicodeFolder();
  const fs::path adj = copyInto(folder, "tarnset-adj");
  fs::copy_file(kConstFile, folder / "Const.ini");
  writeText(folder / "TarnsetADJ.rs", "[PORTS]\r\nCOM1=COM8\r\n");
  cwd_ = folder;  // started in its folder, as a double click starts it

  Background program(wine(adj, {}, {"DISPLAY=" + x.display()}));
  ASSERT_TRUE(program.started());
  const std::string window = mainWindow(x, program);
  ASSERT_FALSE(window.empty());
  typeKeys(x, window, {"space"});  // "Connect" has the focus
  const fs::path backups = folder / "backups";
  const std::regex backupName(R"(\d{8}-\d{6}-2651-0100-[0-9a-f]{8}\.bin)");
  EXPECT_TRUE(waitFor([&] { return holdsFileNamed(backups, backupName); }, 120))
      << "no backup in " << backups << "\n"
      << sim.logText().substr(0, 2000);
  for (const auto& e : fs::directory_iterator(backups)) {
    if (std::regex_match(e.path().filename().string(), backupName)) {
      EXPECT_EQ(readBytes(e.path()), image);
    }
  }
  typeKeys(x, window, {"alt+f", "x"});
  EXPECT_EQ(program.waitExit(20.0), std::optional<int>(0)) << program.takeErr();
  EXPECT_NE(readText(folder / "TarnsetADJ.rs").find("ComPort=1"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(CodePages, WineUnicodeTest, ::testing::Values("ru_RU.UTF-8", "de_DE.UTF-8"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param).substr(0, 5);
                         });

// ---- the installer ---------------------------------------------------------------------

// The per-user installer of `make windows`, in the Windows tree; empty when there is none.
fs::path installerPackage() {
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(kWindowsBuild / "msi", ec)) {
    if (e.path().extension() == ".msi") return e.path();
  }
  return {};
}

// A Windows path for a host path (Wine's drive Z: is the host's root).
std::string onDriveZ(const fs::path& p) {
  std::string s = "Z:" + p.string();
  std::replace(s.begin(), s.end(), '/', '\\');
  return s;
}

TEST_F(WineTest, TheInstallerInstallsForTheUserStartsTheProgramAndRemovesWhatItInstalled) {
  const fs::path msi = installerPackage();
  if (msi.empty())
    GTEST_SKIP() << "no installer in " << kWindowsBuild / "msi"
                 << " (make windows builds it)";
  // A prefix of its own, made for José, whose desktop is in the scratch folder.
  prefix_ = scratch_ / "wine";
  user_ = {"USER=" + kTechnician, "LANG=de_DE.UTF-8", "LC_ALL="};
  std::vector<std::string> env = user_;
  env.push_back("HOME=" + (scratch_ / "home").string());
  startOwnPrefix("null", env);
  if (HasFatalFailure()) return;
  const fs::path profile = prefix_ / "drive_c" / "users" / kTechnician;
  const fs::path installed = profile / "AppData" / "Local" / "Programs" / "Tarnset ADJ";
  const fs::path startMenu =
      profile / "AppData" / "Roaming" / "Microsoft" / "Windows" / "Start Menu" / "Programs" / "Tarnset ADJ";
  const std::vector<fs::path> files = {
      installed / "tarnset-adj.exe", installed / "tarnset-cli.exe", installed / "Const.ini",
      installed / "README.txt",      startMenu / "Tarnset ADJ.lnk", profile / "Desktop" / "Tarnset ADJ.lnk"};
  const auto msiexec = [&](const std::string& how) {
    Command c = wine("msiexec", {how, onDriveZ(msi), "/qn"});
    return run(c, 300);
  };

  const RunResult install = msiexec("/i");
  ASSERT_EQ(install.exitCode, 0) << describe(install);
  for (const fs::path& f : files) EXPECT_TRUE(fs::exists(f)) << f << " was not installed";
  // An entry in the list of installed programs (Wine keeps it with the machine's).
  std::string entries;
  for (const char* root : {"HKCU", "HKLM"}) {
    entries +=
        run(wine("reg",
                 {"query", std::string(root) + "\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
                  "/s"}),
            60)
            .out;
  }
  EXPECT_TRUE(std::regex_search(entries, std::regex(R"(DisplayName\s+REG_SZ\s+Tarnset ADJ)"))) << entries;
  EXPECT_NE(entries.find("MsiExec.exe /X{"), std::string::npos) << "it can be removed from the list";

  // The shortcut starts the window program in its folder, where Const.ini is: its trace
  // begins and shows no message (a missing Const.ini would be one).
  const std::string link = readText(startMenu / "Tarnset ADJ.lnk");
  std::string wide;  // the name as the link's UTF-16 strings hold it
  for (const char c : std::string("tarnset-adj.exe")) wide += std::string{c, '\0'};
  EXPECT_TRUE(link.find("tarnset-adj.exe") != std::string::npos || link.find(wide) != std::string::npos)
      << "the shortcut names the program";
  cwd_ = installed;
  Background window(wine(installed / "tarnset-adj.exe", {"--trace", onDriveZ(scratch_ / "start.txt")}));
  ASSERT_TRUE(window.started());
  EXPECT_TRUE(
      waitFor([&] { return readText(scratch_ / "start.txt").find("START") != std::string::npos; }, 60));
  std::this_thread::sleep_for(std::chrono::seconds(3));
  EXPECT_TRUE(window.running()) << window.takeErr();
  EXPECT_EQ(readText(scratch_ / "start.txt").find("MESSAGE"), std::string::npos)
      << readText(scratch_ / "start.txt");
  window.stop();
  cwd_.clear();  // a folder that is a program's current one cannot be removed

  // An installed copy keeps its options in the user's application data, not beside itself.
  const RunResult map = run(wine(installed / "tarnset-cli.exe", {"ports", "--map", "1=COM6"}), 60);
  ASSERT_EQ(map.exitCode, 0) << describe(map);
  const fs::path options = profile / "AppData" / "Roaming" / "TarnsetADJ" / "TarnsetADJ.rs";
  EXPECT_NE(readText(options).find("COM1=COM6"), std::string::npos) << map.out;
  EXPECT_FALSE(fs::exists(installed / "TarnsetADJ.rs"));

  const RunResult remove = msiexec("/x");
  ASSERT_EQ(remove.exitCode, 0) << describe(remove);
  for (const fs::path& f : files) EXPECT_FALSE(fs::exists(f)) << f << " was left behind";
  EXPECT_FALSE(fs::exists(installed)) << "the program's folder goes with it";
  EXPECT_TRUE(fs::exists(options)) << "the user's options stay";
}

}  // namespace
}  // namespace tarnset::e2e
