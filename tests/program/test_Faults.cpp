// Nothing wrong reaches the radio: the program under faults of the cable and the radio.
// A write the port refuses, a start-up that fails, and what the window shows behind the
// error message.
#include <gtest/gtest.h>

#include <stdexcept>

#include "ProgramHarness.h"
#include "console/clsConsole.h"
#include "link/frmCom.h"
#include "model/clsIndOp_RigTarn.h"
#include "radio/clsCmcRadio.h"
#include "shell/frmMain.h"

using namespace tarnset;
using namespace tarnset::testing;

namespace {

constexpr std::int16_t kRowPowerHi = 1;
constexpr std::int32_t kPowerHiAddress = 79;

const std::string kCannotClone =
    "Cannot Clone.\r\n\r\nCheck the following:\r\n- The COM port settings.\r\n- Cloning cable "
    "connections.\r\n"
    "- Transceiver power is ON.";

// Frames the radio received from index 'from' on.
std::vector<kvsim::Bytes> framesToRadio(ProgramHarness& h, std::size_t from) {
  std::vector<kvsim::Bytes> out;
  const auto& frames = h.radio().frames();
  for (std::size_t i = from; i < frames.size(); ++i) {
    if (!frames[i].fromRadio) out.push_back(frames[i].bytes);
  }
  return out;
}

struct ThrowingInstanceCheck final : SingleInstance {
  bool alreadyRunning() const override { throw std::logic_error("lock table corrupt"); }
};

}  // namespace

// A failing adapter refuses the write of an adjustment: nothing reaches the radio, the
// value is not taken into the image, and the failure is shown at once.
TEST(RefusedWrite, AnAdjustmentThePortRefusesFailsAtOnceAndIsNotStored) {
  ProgramHarness h;
  ASSERT_TRUE(h.connect());
  h.advance(500);
  const std::size_t mark = h.radio().frames().size();
  const std::int16_t before = h.program().radio().eepImage().ReadByte(kPowerHiAddress);
  tk::ListBox& list = h.program().mainWindow().lboConsole();
  list.setListIndex(kRowPowerHi);
  h.port().refuseWrites(true);
  h.toolkit().pressKey(list, tk::Key::Right);
  h.advance(60);  // the next tick tries to send the item
  ASSERT_EQ(h.toolkit().messages().size(), 1u);
  EXPECT_EQ(h.toolkit().messages()[0].text, kCannotClone);
  EXPECT_EQ(h.program().radio().eepImage().ReadByte(kPowerHiAddress), before);
  EXPECT_EQ(h.radio().image()[kPowerHiAddress], before);
  EXPECT_TRUE(framesToRadio(h, mark).empty());
  EXPECT_FALSE(h.program().com().comOpen());
  EXPECT_EQ(h.program().com().failureReason(), "the device refused the data (Input/output error)");
  EXPECT_EQ(h.program().controller().opState(), TarnState::Idle);
}

// A monitor request the port refuses is reported as what it is, at once, instead of after
// three answer waits as "No answer from transceiver.".
TEST(RefusedWrite, AMonitorRequestThePortRefusesIsNotWaitedFor) {
  ProgramHarness h;
  ASSERT_TRUE(h.connect());
  h.advance(500);
  h.port().refuseWrites(true);
  h.toolkit().pressKey(tk::Key::F5);
  h.advance(110);
  ASSERT_EQ(h.toolkit().messages().size(), 1u);
  EXPECT_EQ(h.toolkit().messages()[0].text, kCannotClone);
}

// While the message box is open the ticks are held; the window behind it already shows
// the state the reset left, not a console of zeros beside an open port.
TEST(ErrorBox, TheWindowBehindTheBoxShowsTheResetState) {
  ProgramHarness h;
  ASSERT_TRUE(h.connect());
  frmMain& w = h.program().mainWindow();
  ASSERT_TRUE(w.fra01(1).visible());
  bool looked = false;
  h.toolkit().setMessageBoxHook([&](const HeadlessToolkit::Message&) {
    looked = true;
    EXPECT_TRUE(w.fra01(0).visible()) << "the start panel";
    EXPECT_FALSE(w.fra01(1).visible()) << "not the adjustment panel";
    EXPECT_EQ(w.lblComBusy().caption(), "COM 1: CLOSE");
    EXPECT_EQ(w.lblComBusy().foreColor(), tk::SysColor::GrayText);
    EXPECT_FALSE(w.cmd00(1).enabled());
    EXPECT_EQ(w.lbo01(0).itemText(1), "----");
  });
  h.port().vanish();
  h.advance(100);
  EXPECT_TRUE(looked);
  ASSERT_EQ(h.toolkit().messages().size(), 1u);
}

// A programming error while the program starts ends it as one while it runs: the port is
// closed, the error is shown in the program's box, and the exit status says so.
TEST(StartUp, AProgrammingErrorDuringStartUpIsShownAndEndsWithStatus70) {
  HarnessOptions o;
  o.startProgram = false;
  ProgramHarness h(o);
  ThrowingInstanceCheck check;
  EXPECT_EQ(h.startUp(&check), 70);
  ASSERT_EQ(h.toolkit().messages().size(), 1u);
  EXPECT_EQ(h.toolkit().messages()[0].text, "Internal error: lock table corrupt\r\nThe program ends.");
  EXPECT_EQ(h.toolkit().messages()[0].title, "Tarnset ADJ Rev.1.2");
}

// A radio that sends one record twice in place of the next (the count still matches) has
// not sent the whole image: the read fails, the window stays on the start panel, and no
// item is sent from an image with a hole in it.
TEST(CloneReadHole, ARecordRepeatedInPlaceOfTheNextFailsTheRead) {
  HarnessOptions o;
  o.radio.faults.push_back(*kvsim::parseFault("repeat-record=4"));  // record 5 holds 0050h..005Fh
  ProgramHarness h(o);
  h.toolkit().click(h.program().mainWindow().cmd00(0));
  h.advance(20000);
  ASSERT_EQ(h.toolkit().messages().size(), 1u);
  EXPECT_EQ(h.toolkit().messages()[0].text,
            "Data counter error.\r\n\r\nCheck the following:\r\n- The COM port settings.\r\n"
            "- Cloning cable connections.\r\n- Transceiver power is ON.");
  EXPECT_EQ(h.program().controller().opState(), TarnState::Idle);
  EXPECT_TRUE(h.program().mainWindow().fra01(0).visible());
  for (const std::string& c : h.takeE8Commands()) {
    EXPECT_EQ(c, "013039") << "only the speed switch: no item, no monitor request";
  }
}
