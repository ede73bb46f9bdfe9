// The serial host over a scripted port and the headless toolkit: opening and closing,
// the poll tick and its order, port events, and ticks held while a message box is open.
#include <gtest/gtest.h>

#include <algorithm>

#include "clone/clsCmcDornDrv.h"
#include "link/frmCom.h"
#include "radio/clsCmcProfileIO.h"
#include "support/TestSignal.h"
#include "toolkit/headless/HeadlessToolkit.h"
#include "unit/link/LinkFakes.h"

namespace tarnset {
namespace {

using test::FakeSerialPort;
using test::FixedResolver;
using test::RecordingOwner;
using Calls = std::vector<std::string>;

// An E8 command (code 05) and the radio's answer to it.
const Bytes kE8Payload = {0xE8, 0x26, 0x51, 0x01, 0x00, 0x05, 0x35, 0x41};
const Bytes kE8Answer = {0xFE, 0xFE, 0xEF, 0xEE, 0xE8, 0x26, 0x51, 0x01, 0x00, 0x05, 0x12, 0xFD};

class FrmComTest : public ::testing::Test {
 protected:
  FrmComTest() {
    resolver.devices = {{1, "/dev/ttyUSB0"}, {2, "/dev/ttyUSB1"}};
    com.setOwner(&owner);
  }

  // One poll tick: the timer comes due 50 ms on.
  void tick() {
    com.timSolid().setEnabled(true);
    clock.advance(50);
    ASSERT_EQ(toolkit.runDueTimers(), 1);
  }
  // The timer comes due while a message box is open: the toolkit holds it, and the serial
  // host holds a tick that reaches it all the same.
  void tickInBox() {
    com.timSolid().setEnabled(true);
    clock.advance(50);
    EXPECT_EQ(toolkit.runDueTimers(), 0);
    com.timSolid().onTick();
  }
  long count(const std::string& call) const {
    return std::count(owner.calls.begin(), owner.calls.end(), call);
  }
  // The port reports a test signal as its waitable; raising it makes the port ready.
  void useSignalAsWaitable() { port.fd = signal_.waitable(); }
  void makeReadable() { signal_.raise(); }

  // Opens the port and leaves the driver waiting for the answer to an E8 command.
  void sendE8WithAnswer(std::int16_t retries) {
    com.setComOpen(true);
    com.dornD().setWorkMode(WorkMode::E8);
    com.dornD().setWaitAnswer(true);
    com.dornD().setRetryCount(retries);
    ASSERT_EQ(com.dornD().Send(kE8Payload), 0);
  }

  ManualTickSource clock{1000};
  HeadlessToolkit toolkit{clock};
  FakeSerialPort port;
  FixedResolver resolver;
  frmCom com{toolkit, port, resolver, clock};
  RecordingOwner owner;
  testing::TestSignal signal_;
};

TEST_F(FrmComTest, CreationAndPortNumbers) {
  EXPECT_EQ(com.timSolid().interval(), 50);
  EXPECT_FALSE(com.timSolid().enabled());
  EXPECT_EQ(com.profMain().Name(), "TarnsetADJ.rs");
  EXPECT_EQ(com.profMain().Section(), "Tarnset ADJ Rev.1.2");
  EXPECT_EQ(com.dornD().myObjCom, &com);
  EXPECT_FALSE(com.comOpen());

  com.setComPortNum(5);
  com.setComPortNum(0);
  com.setComPortNum(11);
  EXPECT_EQ(com.comPortNum(), 5);
  com.setComPortNum(10);
  EXPECT_EQ(com.comPortNum(), 10);
}

TEST_F(FrmComTest, OpeningAnOpenPortOnlyResetsAndClosingAClosedOneDiscardsAndResets) {
  com.setComPortNum(2);
  com.setComOpen(true);
  ASSERT_EQ(port.opens.size(), 1u);
  EXPECT_EQ(port.opens[0].device, "/dev/ttyUSB1");
  EXPECT_EQ(port.opens[0].baud, 9600);
  EXPECT_EQ(com.Settings(), "9600,N,8,1");

  com.setComPortNum(1);
  com.setComBaud(38400);
  com.dornD().setNowError(CloneError::IllegalData);
  const int discards = port.discards;
  com.setComOpen(true);
  EXPECT_EQ(port.opens.size(), 1u);
  EXPECT_EQ(com.Settings(), "9600,N,8,1");
  EXPECT_EQ(port.discards, discards) << "the last frame still on its way goes out whole";
  EXPECT_EQ(com.dornD().nowError(), CloneError::None);
  EXPECT_EQ(com.dornD().lastError(), CloneError::IllegalData);

  com.setComOpen(false);
  com.dornD().setNowError(CloneError::NoAnswer);
  com.setComOpen(false);  // closing a closed port: the same, and no flag
  EXPECT_EQ(port.discards, discards + 2);
  EXPECT_EQ(com.dornD().nowError(), CloneError::None);
  EXPECT_FALSE(com.totalError());
}

TEST_F(FrmComTest, AFailedOpenLeavesThePortClosedAndKeepsTheReason) {
  port.refuseOpen = true;
  com.setComOpen(true);
  EXPECT_FALSE(com.comOpen());
  EXPECT_TRUE(com.errCannotOpen());
  EXPECT_EQ(com.deviceName(), "/dev/ttyUSB0");
  EXPECT_EQ(com.failureReason(), "in use by another program");

  com.Reset();
  port.refuseOpen = false;
  com.setComPortNum(3);  // no device is known for COM 3
  com.setComOpen(true);
  EXPECT_TRUE(com.errCannotOpen());
  EXPECT_EQ(com.failureReason(), "no serial port is known for COM 3");

  com.Reset();
  port.refuseDiscard = true;  // the port opens, then fails: never left half-open
  com.setComOpen(true);
  EXPECT_EQ(port.opens.size(), 2u);
  EXPECT_FALSE(com.comOpen());
  EXPECT_TRUE(com.errCannotOpen());
}

TEST_F(FrmComTest, AnOpenFailureIsReportedOnceAndClearedByTheResetThatFollows) {
  port.refuseOpen = true;
  owner.onTask = [this] {
    if (count("task") == 1) com.setComOpen(true);  // the sequencer opens the port
  };
  owner.onShowLinkError = [this] { com.Reset(); };  // the message resets the program
  tick();
  EXPECT_EQ(owner.calls, (Calls{"task", "showLinkError"}));
  tick();
  EXPECT_EQ(count("showLinkError"), 1);
}

TEST_F(FrmComTest, TickReadsBytesThenStepsTheOwnerThenReportsThenCloses) {
  com.setComOpen(true);
  port.rx = {0x01, 0x02, 0x03};
  bool openAtMessage = false;
  owner.onTask = [this] {
    EXPECT_EQ(port.inBufferCount(), 0);
    com.dornD().setNowError(CloneError::NoAnswer);
  };
  owner.onShowLinkError = [&] { openAtMessage = com.comOpen(); };
  tick();
  EXPECT_EQ(owner.calls, (Calls{"task", "showLinkError"}));
  EXPECT_TRUE(openAtMessage);
  EXPECT_FALSE(com.comOpen());
  EXPECT_EQ(com.dornD().lastError(), CloneError::NoAnswer);
}

TEST_F(FrmComTest, TheDriverReadsBeforeItJudgesItsTimeOutAndIsSteppedWithoutBytes) {
  sendE8WithAnswer(0);
  clock.advance(1300);
  port.rx = kE8Answer;  // arrives just as the answer time runs out
  tick();
  EXPECT_FALSE(com.dornD().Running());
  EXPECT_EQ(com.dornD().varLastE8Answer(), (Bytes{0x26, 0x51, 0x01, 0x00, 0x05, 0x12}));
  EXPECT_EQ(count("showLinkError"), 0);

  sendE8WithAnswer(1);
  port.written.clear();
  clock.advance(1300);
  tick();
  EXPECT_EQ(port.written.size(), kE8Payload.size() + 5);  // the time-out resent the frame
}

TEST_F(FrmComTest, PortEventsOverflowAndLineError) {
  sendE8WithAnswer(0);
  port.rx = {0xFE, 0xFE, 0xEF, 0xEE, 0xE8};
  tick();
  ASSERT_FALSE(com.dornD().rxBuf().empty());
  port.raise(PortEvent::LineError);  // only the partly received frame is dropped
  EXPECT_TRUE(com.dornD().rxBuf().empty());
  EXPECT_TRUE(com.dornD().Running());
  EXPECT_FALSE(com.totalError());

  port.raise(PortEvent::ReceiveOverflow);
  EXPECT_TRUE(com.errOverflow());
  EXPECT_FALSE(com.comOpen());
  tick();
  EXPECT_EQ(count("showLinkError"), 1);
}

TEST_F(FrmComTest, AVanishedDeviceFailsTheRunningExchangeAndIsReportedOnce) {
  useSignalAsWaitable();
  owner.onShowLinkError = [this] { com.Reset(); };
  sendE8WithAnswer(2);
  port.onService = [this] { port.vanish(); };  // found when the event loop services the port
  makeReadable();
  EXPECT_EQ(toolkit.waitWatches(0), 1);
  EXPECT_EQ(toolkit.waitWatches(0), 0);  // the descriptor is not watched any more
  EXPECT_TRUE(com.errCannotOpen());
  EXPECT_EQ(com.failureReason(), "the device went away");
  EXPECT_FALSE(com.dornD().Running());
  EXPECT_NE(com.dornD().lastError(), CloneError::None);  // a cut-off exchange never passes for a finished one

  for (int i = 0; i < 5; ++i) tick();
  EXPECT_EQ(count("showLinkError"), 1);
  EXPECT_EQ(port.opens.size(), 1u);
}

TEST_F(FrmComTest, TicksAndPortEventsAreHeldWhileAMessageBoxIsOpen) {
  // A box opened outside any tick (by a button's handler, say).
  com.setComOpen(true);
  toolkit.setMessageBoxHook([this](const HeadlessToolkit::Message&) {
    tickInBox();
    port.receive({0x01, 0x02});
  });
  toolkit.messageBox("Cannot read 'Const.ini'.", kAppTitle, "");
  EXPECT_TRUE(owner.calls.empty());
  EXPECT_EQ(port.inBufferCount(), 2);

  // A box opened by a tick, while the timer comes due and the device goes away.
  useSignalAsWaitable();
  com.Reset();
  owner.onTask = [this] {
    if (count("task") == 1) com.setErrOverflow(true);
  };
  owner.onShowLinkError = [this] {
    com.Reset();
    com.setComOpen(true);  // the next command opens the port again
    toolkit.messageBox("COM buffer overflow.", kAppTitle, "");
  };
  toolkit.setMessageBoxHook([this](const HeadlessToolkit::Message&) {
    tickInBox();
    makeReadable();
    port.vanish();
    EXPECT_EQ(toolkit.waitWatches(0), 0);  // the closed port's descriptor is not watched
    EXPECT_FALSE(com.errCannotOpen());
  });
  tick();
  EXPECT_EQ(owner.calls, (Calls{"task", "showLinkError"}));

  toolkit.setMessageBoxHook(nullptr);
  owner.onShowLinkError = [this] { com.Reset(); };
  tick();  // the vanished device is reported now, once
  tick();
  EXPECT_EQ(owner.calls, (Calls{"task", "showLinkError", "task", "showLinkError", "task"}));
}

TEST_F(FrmComTest, EventsDuringATickWaitForTheNextTick) {
  com.setComOpen(true);
  owner.onTask = [this] {
    if (count("task") == 1) port.receive({0x01, 0x02, 0x03});
  };
  tick();
  EXPECT_EQ(port.inBufferCount(), 3);
  tick();
  EXPECT_EQ(count("task"), 2);
  EXPECT_EQ(port.inBufferCount(), 0);

  // A failure seen during a tick whose operation then closes the port is not reported again.
  owner.onTask = [this] {
    port.vanish();
    com.setComOpen(false);
  };
  tick();
  owner.onTask = nullptr;
  tick();
  EXPECT_EQ(count("showLinkError"), 0);
}

TEST_F(FrmComTest, HighSpeedAndResetChooseBaudAndReceiveThreshold) {
  com.setComOpen(true);
  com.setErrOverflow(true);
  com.HighSpeedBRatioSet();
  EXPECT_FALSE(com.comOpen());
  EXPECT_FALSE(com.errOverflow());
  EXPECT_EQ(port.rThreshold, 1024);
  com.setComOpen(true);
  EXPECT_EQ(port.opens.back().baud, 38400);

  com.Reset();
  EXPECT_EQ(com.comBaud(), 9600);
  EXPECT_EQ(port.rThreshold, 1);
}

TEST_F(FrmComTest, ShutdownClosesThePortBeforeSavingAndStopsTheTimer) {
  bool openWhenSaving = true;
  owner.onSaveOptions = [&] { openWhenSaving = com.comOpen(); };
  com.setComOpen(true);
  com.AllOver();
  EXPECT_FALSE(openWhenSaving);
  com.loadData(com.profMain());
  EXPECT_EQ(owner.lastProfile, &com.profMain());

  com.timSolid().setEnabled(true);
  com.setComOpen(true);
  com.Form_Unload();
  EXPECT_FALSE(com.comOpen());
  EXPECT_FALSE(com.timSolid().enabled());
}

}  // namespace
}  // namespace tarnset
