// Start-up, options, menus, key routing, layout and shutdown of the whole program.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "ProgramHarness.h"
#include "clone/clsCmcDornSequence.h"
#include "console/clsConsole.h"
#include "link/frmCom.h"
#include "model/clsIndOp_RigTarn.h"
#include "shell/frmMain.h"

using namespace tarnset;
using namespace tarnset::testing;

namespace {

std::string readFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

struct FixedInstance final : SingleInstance {
  bool running;
  explicit FixedInstance(bool r) : running(r) {}
  bool alreadyRunning() const override { return running; }
};

HarnessOptions notStarted() {
  HarnessOptions o;
  o.startProgram = false;
  return o;
}

}  // namespace

TEST(StartUp, ASecondInstanceIsRefusedWithTheTwoLineMessage) {
  ProgramHarness h(notStarted());
  FixedInstance other(true);
  EXPECT_NE(h.startUp(&other), 0);
  ASSERT_EQ(h.toolkit().messages().size(), 1u);
  EXPECT_EQ(h.toolkit().messages()[0].text,
            "Cannot execute Tarnset ADJ Rev.1.2 repeatedly.\r\nTarnset ADJ Rev.1.2 is already executing.");
  EXPECT_EQ(h.toolkit().messages()[0].title, "Tarnset ADJ Rev.1.2");
  EXPECT_EQ(h.toolkit().window(), nullptr) << "no window is created";
}

TEST(StartUp, WithoutStoredOptionsTheWindowComesUpOnCom1WithReleaseOff) {
  HarnessOptions o;
  o.optionsFile = "[OTHER]\nkey=value\n";
  ProgramHarness h(o);
  ASSERT_EQ(h.startResult(), 0);
  frmMain& w = h.program().mainWindow();
  EXPECT_TRUE(w.window().isShown());
  EXPECT_EQ(w.window().caption(), "Tarnset ADJ Rev.1.2");
  EXPECT_EQ(w.ComPortNo(), 1);
  EXPECT_EQ(w.ComAutoRelease(), 0);
  h.advance(60);
  EXPECT_EQ(w.lblComBusy().caption(), "COM 1: CLOSE");
  EXPECT_EQ(w.lblComBusy().foreColor(), tk::SysColor::GrayText);
  EXPECT_TRUE(w.mnuOptSelCom(1).checked());
  EXPECT_FALSE(w.mnuOptSelCom(2).checked());
  EXPECT_TRUE(w.mnuOptionSelAutoRelease(0).checked());
  const std::string title = w.lblTitle().caption();
  EXPECT_EQ(title.substr(0, title.rfind("\r\n")), "Tarnset ADJ Rev.1.2\r\nAdjust Utility for KV-Tarn");
}

TEST(StartUp, StoredOptionsAreAppliedAndBadOnesLeaveTheStartValues) {
  struct Case {
    const char* file;
    std::int16_t port, release;
  } cases[] = {
      {"[OPTION]\nComPort=3\nComAutoRelease=4\n", 3, 4},
      {"[OPTION]\nComPort=abc\nComAutoRelease=2\n", 1, 2},    // not a number: start value
      {"[OPTION]\nComPort=70000\nComAutoRelease=1\n", 1, 1},  // does not fit 16 bits
      {"[OPTION]\nComPort=11\nComAutoRelease=40\n", 1, 0},    // no such port; release too long
      {"[OPTION]\nComPort=7\nComAutoRelease=-3\n", 7, -3},    // taken as they are
  };
  for (const Case& c : cases) {
    HarnessOptions o;
    o.optionsFile = c.file;
    ProgramHarness h(o);
    ASSERT_EQ(h.startResult(), 0) << c.file;
    EXPECT_EQ(h.program().mainWindow().ComPortNo(), c.port) << c.file;
    EXPECT_EQ(h.program().mainWindow().ComAutoRelease(), c.release) << c.file;
    EXPECT_EQ(h.program().sequencer().comHoldReload(), c.release * 1000) << c.file;
    EXPECT_EQ(h.program().controller().comPortNo(), c.port) << c.file;
  }
}

TEST(StartUp, AMissingOrForeignConstantsFileEndsTheProgramAndKeepsTheOptions) {
  const std::string options = "[OPTION]\nComPort=2\nComAutoRelease=1\n";
  for (const char* constFile : {"", "Some other program\n1\n2\n", "tarnset adj rev.1.2\n"}) {
    HarnessOptions o;
    o.constFile = constFile;
    o.optionsFile = options;
    ProgramHarness h(o);
    EXPECT_NE(h.startResult(), 0);
    ASSERT_EQ(h.toolkit().messages().size(), 1u);
    EXPECT_EQ(h.toolkit().messages()[0].text, "Cannot read 'Const.ini'.");
    EXPECT_EQ(h.toolkit().messages()[0].details,
              "Looked for: " + (h.folder() / "Const.ini").string() +
                  "\r\nNext step: start the program in the folder that holds its Const.ini.");
    EXPECT_FALSE(h.program().com().comOpen());
    EXPECT_EQ(readFile(h.optionsPath()), options);
  }
}

TEST(StartUp, AnInstalledProgramWithoutConstIniNamesWhereItsPackageKeepsIt) {
  HarnessOptions o;
  o.constFile = "";
  o.constFileCopyFolder = "/usr/share/tarnset-adj";
  ProgramHarness h(o);
  ASSERT_EQ(h.toolkit().messages().size(), 1u);
  EXPECT_EQ(
      h.toolkit().messages()[0].details,
      "Looked for: " + (h.folder() / "Const.ini").string() +
          "\r\nNext step: start the program from its menu entry, or in /usr/share/tarnset-adj, where the "
          "package keeps its Const.ini (cd /usr/share/tarnset-adj && tarnset-adj).");
}

TEST(Menus, ChoosingAPortMovesTheCheckMarkAndResetsTheControllerOnlyOnChange) {
  ProgramHarness h;
  frmMain& w = h.program().mainWindow();
  clsConsole& console = h.program().console();
  console.setValue(1, 42);  // a reset would rebuild the items
  h.toolkit().chooseMenu("&Option/&Port/COM &3 \u2014 no serial port");
  EXPECT_EQ(h.program().controller().comPortNo(), 3);
  EXPECT_EQ(console.Value(1), 0) << "a new port resets the controller";
  h.advance(60);
  EXPECT_TRUE(w.mnuOptSelCom(3).checked());
  EXPECT_FALSE(w.mnuOptSelCom(1).checked());
  EXPECT_EQ(w.lblComBusy().caption(), "COM 3: CLOSE");
  console.setValue(1, 42);
  h.toolkit().chooseMenu("&Option/&Port/COM &3 \u2014 no serial port");
  EXPECT_EQ(console.Value(1), 42) << "the same port changes nothing";
}

TEST(Menus, AutoReleaseSetsTheHoldTimeAndIsSavedAtExit) {
  ProgramHarness h;
  h.toolkit().chooseMenu("&Option/&Auto port release/&2 sec");
  EXPECT_EQ(h.program().sequencer().comHoldReload(), 2000);
  h.advance(60);
  EXPECT_TRUE(h.program().mainWindow().mnuOptionSelAutoRelease(2).checked());
  EXPECT_FALSE(h.program().mainWindow().mnuOptionSelAutoRelease(0).checked());
  h.toolkit().chooseMenu("&Option/&Auto port release/&OFF");
  EXPECT_EQ(h.program().sequencer().comHoldReload(), 0);
  h.toolkit().chooseMenu("&Option/&Auto port release/&5 sec");
  h.toolkit().chooseMenu("&File/E&xit");
  EXPECT_TRUE(h.toolkit().quitCalled());
  const std::string saved = readFile(h.optionsPath());
  EXPECT_NE(saved.find("[OPTION]"), std::string::npos);
  EXPECT_NE(saved.find("ComPort=1"), std::string::npos);
  EXPECT_NE(saved.find("ComAutoRelease=5"), std::string::npos);
}

TEST(Menus, SavingKeepsTheOtherSectionsOfTheOptionsFile) {
  HarnessOptions o;
  o.optionsFile = "[PORTS]\nCOM1=/dev/serial/by-id/usb-x\n\n[OPTION]\nComPort=2\nComAutoRelease=0\n";
  ProgramHarness h(o);
  h.toolkit().closeWindow();
  const std::string saved = readFile(h.optionsPath());
  EXPECT_NE(saved.find("[PORTS]\nCOM1=/dev/serial/by-id/usb-x\n"), std::string::npos);
  EXPECT_NE(saved.find("ComPort=2"), std::string::npos);
}

TEST(Shutdown, ExitWithThePortOpenClosesItAndWritesTheOptions) {
  ProgramHarness h;
  ASSERT_TRUE(h.connect());
  ASSERT_TRUE(h.program().com().comOpen());
  h.toolkit().chooseMenu("&File/E&xit");
  EXPECT_FALSE(h.program().com().comOpen());
  EXPECT_FALSE(h.port().isOpen());
  EXPECT_TRUE(h.toolkit().quitCalled());
  EXPECT_FALSE(h.program().com().timSolid().enabled());
  EXPECT_NE(readFile(h.optionsPath()).find("ComPort=1"), std::string::npos);
}

TEST(Keys, ArrowsStepTheSelectedItemAndNeverReachTheList) {
  ProgramHarness h;
  ASSERT_TRUE(h.connect());
  frmMain& w = h.program().mainWindow();
  clsConsole& console = h.program().console();
  tk::ListBox& list = w.lboConsole();
  EXPECT_TRUE(list.hasFocus()) << "the adjustment panel takes the focus";
  EXPECT_EQ(list.listIndex(), 0);
  h.toolkit().pressKey(list, tk::Key::Down);
  ASSERT_EQ(list.listIndex(), 1) << "Down still moves the selection";
  const std::int16_t v = console.Value(1);
  struct Step {
    std::int16_t key, shift, delta;
  } steps[] = {{tk::Key::Right, 0, 1},
               {tk::Key::Right, tk::kShiftBit, 5},
               {tk::Key::Left, 0, -1},
               {tk::Key::Left, tk::kShiftBit, -5},
               {tk::Key::Right, tk::kShiftBit | tk::kCtrlBit, 5}};
  std::int16_t expected = v;
  for (const Step& s : steps) {
    EXPECT_FALSE(h.toolkit().pressKey(list, s.key, s.shift)) << "consumed";
    expected = static_cast<std::int16_t>(expected + s.delta);
    EXPECT_EQ(console.Value(1), expected);
    EXPECT_EQ(list.listIndex(), 1);
  }
}

TEST(Keys, EnterAndTheSeparatorFlagTheSelectedLine) {
  ProgramHarness h;
  ASSERT_TRUE(h.connect());
  tk::ListBox& list = h.program().mainWindow().lboConsole();
  clsConsole& console = h.program().console();
  list.setListIndex(15);
  EXPECT_FALSE(h.toolkit().pressKey(list, tk::Key::Enter));
  EXPECT_TRUE(console.flgEnterOn(15));
  list.setListIndex(16);
  EXPECT_FALSE(h.toolkit().pressKey(list, tk::Key::Separator));
  EXPECT_TRUE(console.flgEnterOn(16));
  EXPECT_FALSE(console.flgEnterOn(15));
}

TEST(Keys, F5ActsAsReloadWhateverHasTheFocus) {
  ProgramHarness h;
  ASSERT_TRUE(h.connect());
  frmMain& w = h.program().mainWindow();
  h.takeE8Commands();
  w.cmd00(2).setFocus();
  h.toolkit().pressKey(w.cmd00(2), tk::Key::F5);
  // The next monitoring cycle reads all thirteen monitor lines.
  h.advance(3000);
  int monitorReads = 0;
  for (const std::string& c : h.takeE8Commands()) monitorReads += c.rfind("03", 0) == 0 ? 1 : 0;
  EXPECT_EQ(monitorReads, 13);
}

TEST(Layout, ResizePlacesTheSeparatorLinesThePortLabelAndThePanels) {
  ProgramHarness h;
  frmMain& w = h.program().mainWindow();
  // The first layout sized and centred the window on the 1280 x 1024 pixel screen.
  EXPECT_EQ(w.window().width(), 9525);
  EXPECT_EQ(w.window().height(), 8500);
  EXPECT_EQ(w.window().left(), (1280 * 15 - 9525) / 2);
  const std::int32_t left = w.window().left(), top = w.window().top();
  h.toolkit().resize(12000, 9000);
  EXPECT_EQ(w.linSepa(0).x2(), 12000);
  EXPECT_EQ(w.linSepa(0).y1(), 0);
  EXPECT_EQ(w.linSepa(1).y1(), 15);
  EXPECT_EQ(w.linSepa(1).x2(), 12000);
  EXPECT_EQ(w.lblComBusy().left(), 120);
  EXPECT_EQ(w.lblComBusy().top(), 120);
  // Buttons centred between the ends of the lower line.
  const std::int32_t left0 = w.cmd00(0).left();
  const std::int32_t right2 = w.cmd00(2).left() + w.cmd00(2).width();
  EXPECT_EQ(left0, 12000 - right2);
  EXPECT_EQ(w.fra01(0).width(), 12000 - 240);
  EXPECT_EQ(w.fra01(1).height(), w.fra01(0).height());
  EXPECT_EQ(w.fra01(0).top() + w.fra01(0).height(), 9000 - 120);
  EXPECT_EQ(w.lboConsole().width(), w.fra01(1).width() - 480);
  // Later layouts leave the window where the user put it.
  EXPECT_EQ(w.window().left(), left);
  EXPECT_EQ(w.window().top(), top);
}

TEST(Panels, AfterAResetOnlyConnectWorksAndTheMonitorListsShowPlaceholders) {
  ProgramHarness h;
  h.advance(60);
  frmMain& w = h.program().mainWindow();
  EXPECT_TRUE(w.fra01(0).visible());
  EXPECT_FALSE(w.fra01(1).visible());
  EXPECT_FALSE(w.fra01(3).visible());
  EXPECT_TRUE(w.cmd00(0).enabled());
  EXPECT_FALSE(w.cmd00(1).enabled());
  EXPECT_FALSE(w.cmd00(2).enabled());
  EXPECT_EQ(w.cmd00(0).caption(), "Connect");
  EXPECT_EQ(w.cmd00(1).caption(), "Reload(F5)");
  EXPECT_EQ(w.cmd00(2).caption(), "Disp para");
  ASSERT_EQ(w.lbo01(0).listCount(), 5);
  ASSERT_EQ(w.lbo01(1).listCount(), 10);
  EXPECT_EQ(w.lbo01(0).itemText(0), "[A/D]");
  EXPECT_EQ(w.lbo01(1).itemText(0), "[D/A]");
  for (int i = 1; i < 10; ++i) EXPECT_EQ(w.lbo01(1).itemText(static_cast<std::int16_t>(i)), "----");
  EXPECT_EQ(w.lboConsole().listCount(), 17);
  EXPECT_EQ(w.lboConsole().itemText(1), " Power(Hi):   0 [--------------------]");
}

TEST(Shutdown, AProgrammingErrorInANotificationClosesThePortShowsItAndEnds) {
  ProgramHarness h;
  ASSERT_TRUE(h.connect());
  h.program().installFatalHandler();
  // A release time whose milliseconds do not fit 16 bits: the menu never offers it.
  h.toolkit().guarded([&] { h.program().mainWindow().setComAutoRelease(40); });
  EXPECT_FALSE(h.program().com().comOpen());
  ASSERT_EQ(h.toolkit().messages().size(), 1u);
  EXPECT_EQ(h.toolkit().messages()[0].text.rfind("Internal error: ", 0), 0u);
  EXPECT_TRUE(h.toolkit().quitCalled());
  EXPECT_EQ(h.toolkit().exitCode(), 70);
}
