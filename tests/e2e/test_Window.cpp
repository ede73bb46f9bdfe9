// tarnset-adj, copied into a scratch folder with its own options file and instance lock.
// Offscreen it starts and stays up. Its message boxes wait for a key even offscreen, so
// the refusals are shown on a private X server, where xdotool answers them; the same
// server carries a whole session against kv-tarn-sim mapped as COM 1.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <regex>
#include <thread>

#include "E2eSupport.h"
#include "sim/TarnImage.h"
#include "sim/VirtualBench.h"

namespace tarnset::e2e {
namespace {

const fs::path kAdjBinary = TARNSET_ADJ_BIN;
const fs::path kSimBinary = TARNSET_SIM_BIN;
const fs::path kConstFile = TARNSET_SOURCE_DIR "/Const.ini";

const std::string kTitle = "Tarnset ADJ Rev.1.2";

class WindowTest : public ::testing::Test {
 protected:
  WindowTest() : adj_(scratch_.copyExecutable(kAdjBinary)) {}

  // The window program started in folder cwd (the scratch folder when empty), offscreen
  // or on the given X display.
  std::unique_ptr<Background> start(const std::string& display = "", const fs::path& cwd = {}) const {
    Command c;
    c.argv = {adj_.string()};
    c.cwd = cwd.empty() ? scratch_.path().string() : cwd.string();
    c.env = display.empty() ? scratch_.environment({"QT_QPA_PLATFORM=offscreen"})
                            : scratch_.environment({"QT_QPA_PLATFORM=xcb", "DISPLAY=" + display});
    return std::make_unique<Background>(c);
  }

  void copyConstFile(const fs::path& into) const { fs::copy_file(kConstFile, into / "Const.ini"); }

  fs::path optionsFile() const { return scratch_ / "TarnsetADJ.rs"; }

  // The visible window of a process on the X server; empty when none came in time.
  static std::string windowOf(const XServer& x, pid_t pid) {
    const RunResult r = x.xdotool({"search", "--sync", "--onlyvisible", "--pid", std::to_string(pid)}, 20);
    const std::vector<std::string> ids = splitLines(r.out);
    return ids.empty() ? std::string() : ids.front();
  }

  // Gives the window the keyboard and types the keys (xdotool key names).
  static void keys(const XServer& x, const std::string& window, const std::vector<std::string>& names) {
    const RunResult f = x.xdotool({"windowfocus", "--sync", window});
    ASSERT_EQ(f.exitCode, 0) << f.err;
    for (const std::string& k : names) {
      const RunResult r = x.xdotool({"key", k});
      ASSERT_EQ(r.exitCode, 0) << r.err;
    }
  }

  // The window program on the X display with the simulator as COM 1, connected: the
  // clone read done and every item sent once (the channel, E8 0F, is the last).
  void startConnected(const XServer& x, const Simulator& sim, std::unique_ptr<Background>& adj,
                      std::string& window) const {
    writeText(optionsFile(), "[PORTS]\nCOM1=" + sim.link() + "\n");
    adj = start(x.display());
    window = windowOf(x, adj->pid());
    ASSERT_FALSE(window.empty()) << adj->takeErr();
    keys(x, window, {"space"});  // "Connect" has the focus when the window opens
    ASSERT_TRUE(sim.waitForLog("E8 code 0F value", 1, 60.0)) << sim.logText().substr(0, 3000);
  }

  // Every visible window of a process on the X server.
  static std::vector<std::string> windowsOf(const XServer& x, pid_t pid) {
    return splitLines(x.xdotool({"search", "--onlyvisible", "--pid", std::to_string(pid)}, 5).out);
  }

  Scratch scratch_;
  fs::path adj_;
};

// TXF compensation entries (E8 codes 14..3B) among the frames the radio received from
// frame index `from` on.
int txfEntriesIn(const std::vector<LoggedFrame>& frames, std::size_t from = 0) {
  int n = 0;
  for (std::size_t i = from; i < frames.size(); ++i) {
    const LoggedFrame& f = frames[i];
    if (!f.fromRadio && f.bytes.size() == 13 && f.bytes[4] == 0xE8 && f.bytes[9] >= 0x14 &&
        f.bytes[9] <= 0x3B)
      ++n;
  }
  return n;
}

bool waitFor(const std::function<bool()>& done, double seconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

// Sends one line to the virtual bench on a connection of its own (a bench command such as
// SIM:PTT ON) and waits for the bench to take it.
bool tellBench(int port, const std::string& line) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool sent = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  const std::string l = line + "\n*OPC?\n";
  sent = sent && send(fd, l.data(), l.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(l.size());
  char answer[8];
  sent = sent && recv(fd, answer, sizeof answer, 0) > 0;
  close(fd);
  return sent;
}

}  // namespace

TEST_F(WindowTest, StartsOffscreenFromAFolderWithConstIniAndStaysUp) {
  copyConstFile(scratch_.path());
  auto adj = start();
  ASSERT_TRUE(adj->started());
  EXPECT_FALSE(adj->waitExit(3.0)) << "ended early: " << adj->takeErr();
  EXPECT_TRUE(fs::exists(scratch_ / "run" / "tarnset-adj.lock"))
      << "the instance lock is in the private runtime folder";
  adj->stop();
}

// The command line is read before any window exists: --help and --version answer without
// a display, and anything else is a usage error that starts nothing.
TEST_F(WindowTest, HelpAndVersionNeedNoDisplayAndOtherArgumentsAreRefused) {
  const auto run1 = [&](const std::string& arg) {
    Command c;
    c.argv = {adj_.string(), arg};
    c.cwd = scratch_.path().string();
    c.env = scratch_.environment();  // no display, no platform plug-in chosen
    return run(c, 10.0);
  };
  const RunResult version = run1("--version");
  EXPECT_EQ(version.exitCode, 0) << version.err;
  EXPECT_EQ(version.out.substr(0, 12), "tarnset-adj ");
  EXPECT_NE(version.out.find("(Tarnset ADJ Rev.1.2)\n"), std::string::npos) << version.out;
  const RunResult help = run1("--help");
  EXPECT_EQ(help.exitCode, 0) << help.err;
  const std::string usage = "usage: tarnset-adj [--trace FILE] | --help | --version\n";
  EXPECT_EQ(help.out.substr(0, usage.size()), usage);
  const RunResult bad = run1("-platform");
  EXPECT_EQ(bad.exitCode, 64);
  EXPECT_EQ(bad.err, "tarnset-adj: unexpected argument '-platform'\n" + usage);
  EXPECT_FALSE(fs::exists(optionsFile())) << "nothing was started";
}

TEST_F(WindowTest, ASecondStartIsRefusedWhileTheFirstRunsOn) {
  const XServer x;
  if (!x.ready()) GTEST_SKIP() << x.why();
  copyConstFile(scratch_.path());
  const std::string options = "[PORTS]\nCOM1=/dev/null\n";
  writeText(optionsFile(), options);

  auto first = start();
  ASSERT_FALSE(first->waitExit(2.0)) << first->takeErr();
  auto second = start(x.display());
  const std::string box = windowOf(x, second->pid());
  ASSERT_FALSE(box.empty()) << "the second start shows its refusal; " << second->takeErr();
  EXPECT_EQ(x.xdotool({"getwindowname", box}).out, kTitle + "\n");
  keys(x, box, {"Return"});
  // Only the refusal ends the program on Return: a main window would stay.
  EXPECT_EQ(second->waitExit(10.0), std::optional<int>(1));
  EXPECT_TRUE(first->running()) << "the first instance keeps running";
  EXPECT_EQ(readText(optionsFile()), options) << "the refused start leaves the options alone";
}

TEST_F(WindowTest, WithoutConstIniTheProgramSaysSoAndEnds) {
  const XServer x;
  if (!x.ready()) GTEST_SKIP() << x.why();
  const fs::path elsewhere = scratch_ / "home";  // a folder without Const.ini
  auto adj = start(x.display(), elsewhere);
  const std::string box = windowOf(x, adj->pid());
  ASSERT_FALSE(box.empty()) << adj->takeErr();
  keys(x, box, {"Return"});
  EXPECT_EQ(adj->waitExit(10.0), std::optional<int>(1));
  EXPECT_FALSE(fs::exists(optionsFile())) << "no options are saved by a start that failed";
}

TEST_F(WindowTest, ATraceThatCannotBeWrittenIsSaidAndNothingStarts) {
  const XServer x;
  if (!x.ready()) GTEST_SKIP() << x.why();
  copyConstFile(scratch_.path());
  Command c;
  c.argv = {adj_.string(), "--trace", (scratch_ / "no/such/folder/t.txt").string()};
  c.cwd = scratch_.path().string();
  c.env = scratch_.environment({"QT_QPA_PLATFORM=xcb", "DISPLAY=" + x.display()});
  Background adj(c);
  const std::string box = windowOf(x, adj.pid());
  ASSERT_FALSE(box.empty()) << adj.takeErr();
  EXPECT_EQ(x.xdotool({"getwindowname", box}).out, kTitle + "\n");
  keys(x, box, {"Return"});
  EXPECT_EQ(adj.waitExit(10.0), std::optional<int>(64));
  EXPECT_FALSE(fs::exists(optionsFile())) << "the program never started";
}

TEST_F(WindowTest, ASessionOnTheSimulatorAsCom1AdjustsLiveAndKeepsTheOptionsFile) {
  const XServer x;
  if (!x.ready()) GTEST_SKIP() << x.why();
  copyConstFile(scratch_.path());
  Simulator sim(scratch_, kSimBinary);
  ASSERT_TRUE(sim.ready()) << sim.errors();
  writeText(optionsFile(), "[PORTS]\nCOM1=" + sim.link() + "\n\n[BENCH]\nOperator=K. Tarn\n");

  auto adj = start(x.display());
  const std::string window = windowOf(x, adj->pid());
  ASSERT_FALSE(window.empty()) << adj->takeErr();
  EXPECT_EQ(x.xdotool({"getwindowname", window}).out, kTitle + "\n");

  // "Connect" has the focus when the window opens.
  keys(x, window, {"space"});
  // The clone read, the first monitor pass, then every item once (BPF T4 is the last).
  ASSERT_TRUE(sim.waitForLog("E8 code 0F value", 1, 60.0)) << sim.logText().substr(0, 3000);
  const std::string lastDaRequest = "RX  9600 FE FE EE EF E8 26 51 01 00 03 30 46 FD";
  EXPECT_EQ(sim.countInLog(lastDaRequest), 1);

  // F5 reads the monitors once more; Down and Right raise Power(Hi) on the radio.
  keys(x, window, {"F5"});
  EXPECT_TRUE(sim.waitForLog(lastDaRequest, 2, 10.0));
  keys(x, window, {"Down", "Right"});
  const std::string raised =
      "E8 code 05 value " + std::to_string(kvsim::defaultImage()[79] + 1) + " -> EEPROM 79";
  EXPECT_TRUE(sim.waitForLog(raised, 1, 10.0)) << sim.logText().substr(0, 3000);

  // File > Exit closes the port and saves the options, keeping every other section.
  const int closedBefore = sim.countInLog("PORT closed");
  keys(x, window, {"alt+f", "x"});
  EXPECT_EQ(adj->waitExit(10.0), std::optional<int>(0)) << adj->takeErr();
  const std::string saved = readText(optionsFile());
  EXPECT_NE(saved.find("[PORTS]\nCOM1=" + sim.link() + "\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("[BENCH]\nOperator=K. Tarn\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("[OPTION]\nComPort=1\n"), std::string::npos) << saved;
  EXPECT_TRUE(sim.waitForLog("PORT closed", closedBefore + 1, 5.0));
}

// The cable drops out for some seconds in the middle of the TXF run: the window says so,
// and after OK and Connect nothing of the interrupted run reaches the radio: no table
// entry goes out until the technician starts TXF again.
TEST_F(WindowTest, ATxfRunCutOffByASilentRadioSendsNothingOfItAfterReconnecting) {
  const XServer x;
  if (!x.ready()) GTEST_SKIP() << x.why();
  copyConstFile(scratch_.path());
  Simulator sim(scratch_, kSimBinary);
  ASSERT_TRUE(sim.ready()) << sim.errors();
  std::unique_ptr<Background> adj;
  std::string window;
  startConnected(x, sim, adj, window);
  if (HasFatalFailure()) return;
  // Down to the TXF row, Enter: the first frequency; Enter again: the second.
  std::vector<std::string> toTxf(14, "Down");
  toTxf.push_back("Return");
  keys(x, window, toTxf);
  ASSERT_TRUE(waitFor([&] { return txfEntriesIn(parseFrames(sim.logText())) >= 4; }, 10.0));
  const int firstPhase = txfEntriesIn(parseFrames(sim.logText()));
  keys(x, window, {"Return"});
  ASSERT_TRUE(waitFor([&] { return txfEntriesIn(parseFrames(sim.logText())) >= firstPhase + 4; }, 10.0))
      << "the second frequency's entries";
  // The entries around the present temperature have all gone out: the run only reads
  // the temperature now, waiting for the next confirmation.
  int seen = -1;
  auto lastChange = std::chrono::steady_clock::now();
  ASSERT_TRUE(waitFor(
      [&] {
        const int n = txfEntriesIn(parseFrames(sim.logText()));
        if (n != seen) seen = n, lastChange = std::chrono::steady_clock::now();
        return std::chrono::steady_clock::now() - lastChange > std::chrono::milliseconds(1500);
      },
      15.0));

  // The radio goes silent: within the answer waits the window shows its message.
  const std::vector<std::string> before = windowsOf(x, adj->pid());
  ::kill(sim.process().pid(), SIGUSR1);
  ASSERT_TRUE(sim.waitForLog("SILENT on", 1, 5.0));
  const std::size_t silentFrom = parseFrames(sim.logText()).size();
  std::string box;
  ASSERT_TRUE(waitFor(
      [&] {
        for (const std::string& w : windowsOf(x, adj->pid())) {
          if (std::find(before.begin(), before.end(), w) == before.end()) box = w;
        }
        return !box.empty();
      },
      15.0))
      << "no message box";
  EXPECT_EQ(x.xdotool({"getwindowname", box}).out, kTitle + "\n");
  EXPECT_EQ(txfEntriesIn(parseFrames(sim.logText()), silentFrom), 0) << "no entry once the radio fell silent";

  // OK, the cable is back, Connect (the start panel's button has the focus again).
  keys(x, box, {"Return"});
  ::kill(sim.process().pid(), SIGUSR1);
  ASSERT_TRUE(sim.waitForLog("SILENT off", 1, 5.0));
  const std::size_t reconnectFrom = parseFrames(sim.logText()).size();
  keys(x, window, {"space"});
  ASSERT_TRUE(sim.waitForLog("E8 code 0F value", 2, 60.0))
      << sim.logText().substr(sim.logText().size() - 3000);
  std::this_thread::sleep_for(std::chrono::seconds(3));
  EXPECT_EQ(txfEntriesIn(parseFrames(sim.logText()), reconnectFrom), 0)
      << "nothing of the interrupted run goes out before Enter";

  keys(x, window, {"alt+f", "x"});
  EXPECT_EQ(adj->waitExit(10.0), std::optional<int>(0)) << adj->takeErr();
}

// The service record from the window: after two items were changed, File > Service
// Report... offers to read the radio back, then saves a page that shows both beside their
// as-found values, verified; each read was backed up on the way.
TEST_F(WindowTest, AServiceReportSavedFromTheWindowShowsTheChangedItems) {
  const XServer x;
  if (!x.ready()) GTEST_SKIP() << x.why();
  copyConstFile(scratch_.path());
  Simulator sim(scratch_, kSimBinary);
  ASSERT_TRUE(sim.ready()) << sim.errors();
  std::unique_ptr<Background> adj;
  std::string window;
  startConnected(x, sim, adj, window);
  if (HasFatalFailure()) return;
  const kvsim::Bytes found = kvsim::defaultImage();
  keys(x, window, {"Down", "Right", "Down", "Left"});
  ASSERT_TRUE(sim.waitForLog("E8 code 06 value " + std::to_string(found[78] - 1) + " -> EEPROM 78", 1, 10.0));

  // A window of the program that was not there before, within seconds.
  const auto newWindow = [&](const std::vector<std::string>& before, double seconds) {
    std::string found;
    waitFor(
        [&] {
          for (const std::string& w : windowsOf(x, adj->pid())) {
            if (std::find(before.begin(), before.end(), w) == before.end()) found = w;
          }
          return !found.empty();
        },
        seconds);
    return found;
  };
  std::vector<std::string> before = windowsOf(x, adj->pid());
  keys(x, window, {"alt+f", "r"});
  // Values went out since the read: the report offers to read the radio back first.
  const std::string question = newWindow(before, 15.0);
  ASSERT_FALSE(question.empty()) << "no question";
  before = windowsOf(x, adj->pid());
  ASSERT_EQ(x.xdotool({"windowfocus", "--sync", question}).exitCode, 0);
  keys(x, question, {"Return"});
  ASSERT_TRUE(sim.waitForLog("CLONE read: streaming", 2, 15.0)) << "the radio is read again";
  const std::string dialog = newWindow(before, 60.0);
  ASSERT_FALSE(dialog.empty()) << "no file dialog";
  const fs::path report = scratch_ / "bench-report.html";
  ASSERT_EQ(x.xdotool({"windowfocus", "--sync", dialog}).exitCode, 0);
  keys(x, dialog, {"ctrl+a"});
  ASSERT_EQ(x.xdotool({"type", "--delay", "20", report.string()}).exitCode, 0);
  keys(x, dialog, {"Return"});
  ASSERT_TRUE(waitFor([&] { return fs::exists(report); }, 15.0)) << "the report was not written";

  const std::string page = readText(report);
  EXPECT_NE(page.find("<tr class=\"changed\"><td>Power(Hi)</td><td>byte 79</td><td class=\"n\">" +
                      std::to_string(found[79]) + "</td><td class=\"n\">" + std::to_string(found[79] + 1) +
                      "</td>"),
            std::string::npos)
      << page.substr(0, 3000);
  EXPECT_NE(page.find("<tr class=\"changed\"><td>Power(L2)</td><td>byte 78</td><td class=\"n\">" +
                      std::to_string(found[78]) + "</td><td class=\"n\">" + std::to_string(found[78] - 1) +
                      "</td>"),
            std::string::npos);
  EXPECT_NE(page.find("verified by a read at "), std::string::npos) << "read back before the report";
  // Both reads were backed up under the user's data folder (the second holds the changes).
  std::size_t backups = 0;
  for (const auto& e : fs::recursive_directory_iterator(scratch_.path())) {
    backups += e.path().extension() == ".bin" && e.path().parent_path().filename() == "backups";
  }
  EXPECT_EQ(backups, 2u);

  keys(x, window, {"alt+f", "x"});
  EXPECT_EQ(adj->waitExit(10.0), std::optional<int>(0)) << adj->takeErr();
}

// The technician puts the virtual bench on the bench in Option > Instruments..., tests it
// and saves it; with the transmitter keyed, Shift+Right on Power(Hi) is measured: the
// bench is asked for the power after the new value reached the radio, and reads what the
// radio sends at that value.
TEST_F(WindowTest, TheBenchEnteredInTheInstrumentsDialogMeasuresTheItemAfterItsKey) {
  const XServer x;
  if (!x.ready()) GTEST_SKIP() << x.why();
  copyConstFile(scratch_.path());
  fs::copy_file(fs::path(TARNSET_SOURCE_DIR) / "Limits.ini", scratch_ / "Limits.ini");
  Simulator sim(scratch_, kSimBinary, {"--bench", "0", "--bench-noise", "0"});
  ASSERT_TRUE(sim.ready()) << sim.errors();
  const auto benchLine = sim.process().readLine(10.0);
  ASSERT_TRUE(benchLine.has_value());
  static const std::regex kAddress("bench (TCPIP::127\\.0\\.0\\.1::([0-9]+)::SOCKET)");
  std::smatch m;
  ASSERT_TRUE(std::regex_match(*benchLine, m, kAddress)) << *benchLine;
  const std::string address = m[1].str();
  const int port = std::stoi(m[2].str());
  std::unique_ptr<Background> adj;
  std::string window;
  startConnected(x, sim, adj, window);
  if (HasFatalFailure()) return;

  // Option > Instruments..., Add, the address; every role (Tab from the address runs
  // through the profile to the four role boxes); Test.
  keys(x, window, {"alt+o", "i"});
  ASSERT_TRUE(waitFor([&] { return windowsOf(x, adj->pid()).size() >= 2; }, 10.0)) << "the dialog shows";
  ASSERT_EQ(x.xdotool({"key", "--delay", "50", "alt+a"}).exitCode, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the new instrument's fields are filled
  ASSERT_EQ(x.xdotool({"type", "--delay", "20", address}).exitCode, 0);
  ASSERT_EQ(x.xdotool({"key", "--delay", "50", "Tab", "Tab", "space", "Tab", "space", "Tab", "space", "Tab",
                       "space", "alt+t"})
                .exitCode,
            0);
  ASSERT_TRUE(sim.waitForLog("<- *IDN?", 1, 10.0))
      << "Test asks the bench: " << sim.logText().substr(0, 3000);
  EXPECT_FALSE(fs::exists(scratch_ / "Instruments.ini")) << "a test saves nothing";
  // Back into the last field, where Return is the dialog's OK.
  ASSERT_EQ(x.xdotool({"key", "--delay", "50", "shift+Tab", "Return"}).exitCode, 0);
  ASSERT_TRUE(waitFor([&] { return fs::exists(scratch_ / "Instruments.ini"); }, 10.0));
  const std::string saved = readText(scratch_ / "Instruments.ini");
  EXPECT_NE(saved.find("Address=" + address), std::string::npos) << saved;
  EXPECT_NE(saved.find("power"), std::string::npos) << saved;

  // Key the transmitter; Down to Power(Hi), then Right.
  ASSERT_TRUE(tellBench(port, "SIM:PTT ON"));
  const int item = kvsim::defaultImage()[79];
  keys(x, window, {"Down"});
  ASSERT_TRUE(sim.waitForLog("<- MEAS:POW?", 1, 10.0)) << "Power(Hi) is measured once selected";
  keys(x, window, {"shift+Right"});
  const std::string raised = "E8 code 05 value " + std::to_string(item + 5) + " -> EEPROM 79";
  ASSERT_TRUE(sim.waitForLog(raised, 1, 10.0)) << sim.logText().substr(0, 3000);
  const auto raisedAt = [&] { return sim.logText().find(raised); };
  // Measurements after the new value: the bench reads the power of item + 5.
  static const std::regex kAnswer("BENCH [0-9]+ <- MEAS:POW\\?\\n[ 0-9.]+ BENCH [0-9]+ -> ([-+0-9.E]+)");
  std::vector<double> after;
  ASSERT_TRUE(waitFor(
      [&] {
        const std::string log = sim.logText();
        const std::string tail = log.substr(raisedAt());
        after.clear();
        for (auto it = std::sregex_iterator(tail.begin(), tail.end(), kAnswer); it != std::sregex_iterator();
             ++it)
          after.push_back(std::stod((*it)[1].str()));
        return after.size() >= 2;
      },
      10.0))
      << sim.logText().substr(0, 6000);
  const auto dbm = [](double watts) { return 10.0 * std::log10(watts) + 30.0; };
  EXPECT_NEAR(after.back(), dbm(kvsim::VirtualBench::powerForItem(item + 5)), 0.01);
  EXPECT_GT(std::abs(dbm(kvsim::VirtualBench::powerForItem(item + 5)) -
                     dbm(kvsim::VirtualBench::powerForItem(item))),
            0.1)
      << "five steps are a difference the test can see";

  keys(x, window, {"alt+f", "x"});
  EXPECT_EQ(adj->waitExit(10.0), std::optional<int>(0)) << adj->takeErr();
}

}  // namespace tarnset::e2e
