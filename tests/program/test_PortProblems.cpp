// A port that cannot be used: the message keeps its text and adds, below it, which device
// it was, why, and what to do next; an adapter plugged in after the port was chosen is
// found at Connect; the port tips follow the menu.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>

#include "ProgramHarness.h"
#include "link/frmCom.h"
#include "model/clsIndOp_RigTarn.h"
#include "platform/IniFile.h"
#include "platform/PortAdvice.h"
#include "shell/frmMain.h"

using namespace tarnset;
using namespace tarnset::testing;

namespace {

const std::string kCannotAccess =
    "Cannot access COM 1.\r\n\r\nCheck the following:\r\n- The COM port settings.\r\n"
    "- Cloning cable connections.\r\n- Transceiver power is ON.";

PortFailure denied() {
  PortFailure f(PortFailure::Kind::PermissionDenied,
                "permission denied (the device belongs to group dialout)");
  f.group = "dialout";
  return f;
}

PortFailure heldByModemProber() {
  PortFailure f(PortFailure::Kind::Busy, "in use by ModemManager (PID 612)");
  f.holder = "ModemManager (PID 612)";
  f.holderIsModemProber = true;
  return f;
}

// COM 1 has no device until the adapter is plugged in; COM 2 is another adapter.
class LateAdapter final : public PortResolver {
 public:
  std::string deviceFor(std::int16_t n) const override {
    if (n == 2) return "other-adapter";
    return n == 1 ? device_ : std::string();
  }
  void resolveAnew(std::int16_t n) override {
    ++asked;
    if (n == 1 && plugged && device_.empty()) device_ = "loopback";
  }
  bool plugged = false;
  int asked = 0;

 private:
  std::string device_;
};

// COM numbers as the options file maps them ([PORTS]), nothing else; the cable's adapter
// ("loopback") is present but no number opens it until it is mapped.
class MappedPorts final : public PortResolver {
 public:
  std::string deviceFor(std::int16_t n) const override { return mapped_.count(n) != 0 ? mapped_.at(n) : ""; }
  std::string caption(std::int16_t n) const override {
    return mapped_.count(n) != 0 ? mapped_.at(n) + ", USB Serial Port" : "no serial port";
  }
  std::vector<SerialAdapter> adapters() const override {
    SerialAdapter cable{"USB Serial Port", "FTDI", "ttyUSB0", "loopback", false, 0};
    for (const auto& [n, device] : mapped_)
      if (device == cable.device && cable.comNumber == 0) cable.comNumber = n;
    SerialAdapter headset{"Headset", "", "rfcomm0", "rfcomm0", true, 0};
    return {cable, headset};
  }
  void refresh() override {
    ++refreshed;
    mapped_.clear();
    for (std::int16_t n = 1; n <= 4; ++n) {
      const std::string device = iniReadString("PORTS", "COM" + std::to_string(n), "", 256, options.string());
      if (!device.empty()) mapped_[n] = device;
    }
  }
  std::filesystem::path options;  // the program's options file
  int refreshed = 0;

 private:
  std::map<std::int16_t, std::string> mapped_;
};

}  // namespace

TEST(PortProblems, EachReasonIsShownBelowTheMessageWithItsNextStep) {
  // What each reason advises is the port advice's own matter (and this system's); here:
  // the window shows it, for the device and the COM number that failed, below the
  // message that keeps its text.
  const PortFailure cases[] = {denied(), heldByModemProber(),
                               PortFailure(PortFailure::Kind::NoDevice, "no such device")};
  for (const PortFailure& failure : cases) {
    SCOPED_TRACE(failure.reason);
    ProgramHarness h;
    h.port().refuse("loopback", failure);
    h.toolkit().click(h.program().mainWindow().cmd00(0));
    h.advance(200);
    ASSERT_EQ(h.toolkit().messages().size(), 1u);
    EXPECT_EQ(h.toolkit().messages()[0].text, kCannotAccess) << "the message keeps its text";
    const std::string details = h.toolkit().messages()[0].details;
    EXPECT_EQ(details, portFailureDetails(failure, "loopback", "COM 1"));
    EXPECT_EQ(details.rfind("Port: loopback (COM 1)\r\nReason: " + failure.reason + "\r\nNext step: ", 0), 0u)
        << details;
  }
}

TEST(PortProblems, ANumberWithoutAPortAndAVanishedAdapterSaySoToo) {
  ProgramHarness h;
  h.toolkit().chooseMenu("&Option/&Port/COM &3 \u2014 no serial port");
  h.toolkit().click(h.program().mainWindow().cmd00(0));
  h.advance(200);
  ASSERT_EQ(h.toolkit().messages().size(), 1u);
  EXPECT_EQ(h.toolkit().messages()[0].details,
            portFailureDetails(PortFailure(PortFailure::Kind::NoDevice, "no serial port is known for COM 3"),
                               "", "COM 3"));
  EXPECT_EQ(h.toolkit().messages()[0].details.rfind("Port: no serial port found for COM 3\r\n", 0), 0u);

  ProgramHarness g;
  ASSERT_TRUE(g.connect());
  g.port().vanish();
  g.advance(200);
  ASSERT_EQ(g.toolkit().messages().size(), 1u);
  EXPECT_EQ(
      g.toolkit().messages()[0].details,
      portFailureDetails(PortFailure(PortFailure::Kind::Gone, "the device went away"), "loopback", "COM 1"));
  EXPECT_EQ(g.toolkit().messages()[0].details.rfind(
                "Port: loopback (COM 1)\r\nReason: the device went away\r\n", 0),
            0u);
}

TEST(PortProblems, ALinkFailureOnAWorkingPortHasNoDetails) {
  HarnessOptions o;
  o.radio.faults.push_back(*kvsim::parseFault("silent"));
  ProgramHarness h(o);
  h.toolkit().click(h.program().mainWindow().cmd00(0));
  h.advance(8000);
  ASSERT_EQ(h.toolkit().messages().size(), 1u);
  EXPECT_EQ(h.toolkit().messages()[0].text.substr(0, 27), "No answer from transceiver.");
  EXPECT_EQ(h.toolkit().messages()[0].details, "");
}

TEST(PortProblems, ConnectFindsAnAdapterPluggedInAfterThePortWasChosen) {
  LateAdapter resolver;
  HarnessOptions o;
  o.resolver = &resolver;
  ProgramHarness h(o);
  frmMain& w = h.program().mainWindow();
  h.toolkit().click(w.cmd00(0));
  h.advance(200);
  ASSERT_EQ(h.toolkit().messages().size(), 1u) << "nothing plugged in yet";
  h.toolkit().clearMessages();

  resolver.plugged = true;
  ASSERT_TRUE(h.connect());
  EXPECT_TRUE(h.toolkit().messages().empty());
  EXPECT_EQ(h.port().device(), "loopback");
  EXPECT_EQ(w.mnuOptSelCom(1).tip(), "loopback");
}

TEST(PortProblems, OpeningTheOptionMenuBringsThePortTipsUpToDate) {
  LateAdapter resolver;
  HarnessOptions o;
  o.resolver = &resolver;
  ProgramHarness h(o);
  frmMain& w = h.program().mainWindow();
  EXPECT_EQ(w.mnuOptSelCom(1).tip(), "No serial port for COM 1");
  EXPECT_EQ(w.mnuOptSelCom(2).tip(), "other-adapter");
  resolver.plugged = true;
  const int asked = resolver.asked;
  h.toolkit().openMenu("&Option");
  EXPECT_GT(resolver.asked, asked);
  EXPECT_EQ(w.mnuOptSelCom(1).tip(), "loopback");
}

TEST(PortProblems, ANumberThatOpensNothingOffersThePresentAdaptersAndMapsTheChosenOne) {
  // Cancel: the box said what failed and listed the adapters; nothing is written and
  // nothing is opened. OK on the cable's adapter: COM 1 is mapped to it in the options
  // file, the Port menu says so, and the program connects through it.
  for (const bool ok : {false, true}) {
    SCOPED_TRACE(ok ? "OK" : "Cancel");
    HarnessOptions o;
    MappedPorts resolver;
    o.resolver = &resolver;
    ProgramHarness h(o);
    resolver.options = h.optionsPath();
    frmMain& w = h.program().mainWindow();
    h.toolkit().setChoiceHook([&](const HeadlessToolkit::ChoiceRequest&) { return ok ? 0 : -1; });
    h.toolkit().click(w.cmd00(0));
    h.advance(200);

    ASSERT_EQ(h.toolkit().choiceRequests().size(), 1u);
    const HeadlessToolkit::ChoiceRequest& box = h.toolkit().choiceRequests()[0];
    EXPECT_EQ(box.text, kCannotAccess + "\r\nThese serial ports are present: use one as COM 1?");
    EXPECT_EQ(box.details.rfind("Port: no serial port found for COM 1\r\n", 0), 0u) << box.details;
    EXPECT_EQ(box.choices,
              (std::vector<std::string>{"ttyUSB0, USB Serial Port (FTDI)", "rfcomm0, Headset, Bluetooth"}));
    EXPECT_TRUE(h.toolkit().messages().empty()) << "the choice box is the failure's only box";

    std::ifstream in(h.optionsPath(), std::ios::binary);
    const std::string options((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!ok) {
      EXPECT_EQ(options.find("[PORTS]"), std::string::npos) << options;
      h.advance(500);
      EXPECT_FALSE(h.port().isOpen());
      EXPECT_EQ(w.mnuOptSelCom(1).caption(), "COM &1 \u2014 no serial port");
      continue;
    }
    const std::size_t section = options.find("[PORTS]");
    ASSERT_NE(section, std::string::npos) << options;
    EXPECT_NE(options.find("COM1=loopback", section), std::string::npos) << options;
    EXPECT_EQ(w.mnuOptSelCom(1).caption(), "COM &1 \u2014 loopback, USB Serial Port");
    clsIndOp_RigTarn& c = h.program().controller();
    ASSERT_TRUE(h.runUntil([&] { return c.opState() == TarnState::CycleEnd; }, 30000));
    EXPECT_EQ(h.port().device(), "loopback");
    EXPECT_EQ(h.toolkit().choiceRequests().size(), 1u);
  }
}

TEST(PortProblems, ARefusedDeviceKeepsItsPlainBoxEvenWithAdaptersPresent) {
  // The number opens a device that is there but refused: the next step says how to get
  // at it; other adapters are not what the technician needs.
  HarnessOptions o;
  o.optionsFile = "[PORTS]\r\nCOM1=loopback\r\n";
  MappedPorts resolver;
  o.resolver = &resolver;
  ProgramHarness h(o);
  resolver.options = h.optionsPath();
  resolver.refresh();
  h.port().refuse("loopback", denied());
  h.toolkit().click(h.program().mainWindow().cmd00(0));
  h.advance(200);
  EXPECT_TRUE(h.toolkit().choiceRequests().empty());
  ASSERT_EQ(h.toolkit().messages().size(), 1u);
  EXPECT_EQ(h.toolkit().messages()[0].text, kCannotAccess);
}

TEST(PortProblems, ADeviceNoticeRenamesThePortsButNeverMovesAnOpenOne) {
  HarnessOptions o;
  o.optionsFile = "[PORTS]\r\nCOM1=loopback\r\n";
  MappedPorts resolver;
  o.resolver = &resolver;
  ProgramHarness h(o);
  resolver.options = h.optionsPath();
  frmMain& w = h.program().mainWindow();
  h.toolkit().devicesChanged();
  h.advance(1);
  EXPECT_EQ(w.mnuOptSelCom(1).caption(), "COM &1 \u2014 loopback, USB Serial Port");

  ASSERT_TRUE(h.connect());
  const int refreshed = resolver.refreshed;
  h.toolkit().devicesChanged();
  h.advance(1);
  EXPECT_EQ(resolver.refreshed, refreshed) << "the open port's number keeps its device";
}

TEST(PortProblems, TheOptionsChosenAreSavedWhenTheSessionEnds) {
  ProgramHarness h;
  h.toolkit().chooseMenu("&Option/&Auto port release/&3 sec");
  h.toolkit().endSession();
  std::ifstream in(h.optionsPath(), std::ios::binary);
  const std::string options((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(options.find("ComAutoRelease=3"), std::string::npos) << options;
}
