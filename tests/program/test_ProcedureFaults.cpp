// The assisted procedures under faults: the radio falls silent while a procedure waits for
// a reading, or answers the reading a step acts on unreadably. Nothing of the procedure
// may follow the fault onto the wire or into the image, the message says which procedure
// must be run again, and after a new connection nothing of it goes out until Enter.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <set>

#include "ProgramHarness.h"
#include "console/clsConsole.h"
#include "model/clsIndOp_RigTarn.h"
#include "radio/clsCmcRadio.h"
#include "shell/frmMain.h"
#include "sim/TarnPhysics.h"

using namespace tarnset;
using namespace tarnset::testing;

namespace {

constexpr std::int16_t kRowBpfAll = 9, kRowBpfT1 = 10, kRowBpfT2 = 11, kRowTxf = 14, kRowRssi = 15,
                       kRowCal = 16;
// Monitor channels as the last digit of their request frames (channel 3 travels as "03").
constexpr std::uint8_t kChannelTemperature = '3', kChannelSd = '4';

const std::string kNoAnswer =
    "No answer from transceiver.\r\n\r\nCheck the following:\r\n- The COM port settings.\r\n"
    "- Cloning cable connections.\r\n- Transceiver power is ON.";
const std::string kCommunicationFailed =
    "Communication failed.\r\n\r\nCheck the following:\r\n- Cloning cable connections.\r\n"
    "- Transceiver power is ON.";

bool isMonitorRequest(const kvsim::FrameRecord& f, std::uint8_t channel) {
  return !f.fromRadio && f.bytes.size() == 13 && f.bytes[4] == 0xE8 && f.bytes[9] == 0x03 &&
         f.bytes[10] == '0' && f.bytes[11] == channel;
}

// A technician at the bench with the program connected to the in-process radio.
class ProcedureFault : public ::testing::Test {
 protected:
  ProcedureFault() : h(options()) {}

  static HarnessOptions options() {
    HarnessOptions o;
    o.radio.temperatureC = 31.0;
    return o;
  }

  void SetUp() override { ASSERT_TRUE(h.connect()); }

  tk::ListBox& list() { return h.program().mainWindow().lboConsole(); }
  clsConsole& console() { return h.program().console(); }
  clsIndOp_RigTarn& ctl() { return h.program().controller(); }

  // Enter on a row; settleMs < 0 leaves the time alone (the key's tick runs later).
  void enter(std::int16_t row, std::int32_t settleMs) {
    list().setListIndex(row);
    h.toolkit().pressKey(list(), tk::Key::Enter);
    if (settleMs >= 0) h.advance(settleMs);
  }
  void stepTo(std::int16_t row, std::int16_t target) {
    list().setListIndex(row);
    while (console().Value(row) != target) {
      h.toolkit().pressKey(list(), console().Value(row) < target ? tk::Key::Right : tk::Key::Left);
      h.advance(150);
    }
    h.advance(800);
  }
  // The TXF run to its second frequency, waiting there.
  void txfToSecondPhase() {
    enter(kRowTxf, 1500);
    stepTo(kRowTxf, static_cast<std::int16_t>(
                        std::lround(kvsim::TarnPhysics::idealSetting(h.radio().temperatureC()))));
    enter(kRowTxf, 3000);
    ASSERT_NE(list().itemText(kRowTxf).find("2nd TX Freq"), std::string::npos);
  }

  // Lets time pass until a monitor request of the channel has reached the radio and its
  // answer has not started yet: the moment a cable fault can take the answer away.
  void untilRequestInFlight(std::uint8_t channel) {
    ASSERT_TRUE(h.runUntil(
        [&] {
          const auto& frames = h.radio().frames();
          return !frames.empty() && isMonitorRequest(frames.back(), channel);
        },
        20000))
        << "no request for monitor channel " << channel;
  }

  // A BPF ALL sweep past its first filter, some way into the second.
  void intoTheSecondFilter() {
    const auto sweeping = [&](std::int16_t row) {
      return list().itemText(row).find("Sweeping") != std::string::npos;
    };
    ASSERT_TRUE(h.runUntil([&] { return !sweeping(kRowBpfT1) && sweeping(kRowBpfT2); }, 90000))
        << "T1 done and T2 being swept";
    h.advance(2000);
    ASSERT_TRUE(sweeping(kRowBpfT2));
    ASSERT_GE(ctl().enterStep(), 12);
  }

  // The fault starts now: remembers the wire and the bytes the procedure owns.
  void markFault(std::vector<std::int32_t> owned) {
    owned_ = std::move(owned);
    mark_ = h.radio().frames().size();
    before_ = ownedBytes();
  }

  // The program's and the radio's copies of the bytes the procedure owns.
  std::vector<int> ownedBytes() {
    std::vector<int> v;
    for (std::int32_t a : owned_) {
      v.push_back(h.program().radio().eepImage().ReadByte(a));
      v.push_back(h.radio().image()[static_cast<std::size_t>(a)]);
    }
    return v;
  }

  // What the program sent since the fault.
  std::vector<kvsim::Bytes> sentSinceFault() {
    std::vector<kvsim::Bytes> out;
    const auto& frames = h.radio().frames();
    for (std::size_t i = mark_; i < frames.size(); ++i) {
      if (!frames[i].fromRadio) out.push_back(frames[i].bytes);
    }
    return out;
  }

  // Waits for the message and checks what it says, what went out since the fault and
  // that the procedure's bytes are as they were.
  void expectOneMessage(const std::string& headlineAndChecks, const std::string& procedure,
                        std::int32_t maxMs) {
    ASSERT_TRUE(h.runUntil([&] { return !h.toolkit().messages().empty(); }, maxMs)) << "no message";
    h.advance(500);
    ASSERT_EQ(h.toolkit().messages().size(), 1u);
    EXPECT_EQ(h.toolkit().messages()[0].text,
              headlineAndChecks + "\r\n" + procedure + " was interrupted and must be run again.");
    EXPECT_EQ(ownedBytes(), before_) << "the bytes the procedure owns are untouched since the fault";
    EXPECT_EQ(ctl().enterStep(), 0);
    EXPECT_EQ(ctl().opState(), TarnState::Idle);
  }

  // A new connection, as after OK and Connect: nothing of the interrupted procedure goes
  // out, every row offers its procedure again, and each item goes out once as read.
  void expectNothingOfItAfterReconnect() {
    h.radio().setSilent(false, h.nowUs());
    h.toolkit().clearMessages();
    // What the radio holds before the new connection: the filters must go out as that.
    std::array<int, 4> held{};
    for (std::size_t k = 0; k < 4; ++k) held[k] = h.radio().image()[0x44 + k];
    const std::size_t from = h.radio().frames().size();
    ASSERT_TRUE(h.connect());
    h.advance(4000);
    EXPECT_TRUE(h.toolkit().messages().empty());
    std::multiset<int> itemCodes;
    const auto& frames = h.radio().frames();
    for (std::size_t i = from; i < frames.size(); ++i) {
      const auto e8 = frames[i].e8();
      if (!e8) continue;
      EXPECT_FALSE(e8->code >= 0x12 && e8->code <= 0x3B) << "RSSI point or TXF entry " << e8->code;
      EXPECT_FALSE(e8->code == 0x02 && (e8->value == 64 || e8->value == 128)) << "CAL point";
      if (e8->code >= 0x0C && e8->code <= 0x0F) {
        itemCodes.insert(e8->code);
        EXPECT_EQ(e8->value, held[static_cast<std::size_t>(e8->code - 0x0C)])
            << "a filter goes out as the radio held it before the connection";
      }
    }
    EXPECT_EQ(itemCodes, (std::multiset<int>{0x0C, 0x0D, 0x0E, 0x0F})) << "each filter once, as an item";
    EXPECT_EQ(ctl().enterStep(), 0);
    EXPECT_EQ(list().itemText(kRowTxf), "       TXF: [Enter] to Start");
    EXPECT_EQ(list().itemText(kRowRssi), "      RSSI: [Enter] to Start");
    EXPECT_EQ(list().itemText(kRowCal), "       CAL: [Enter] to Start");
    EXPECT_EQ(list().itemText(kRowBpfAll), "   BPF ALL: [Enter] to Sweep");
  }

  // The radio falls silent while a request of the channel waits for its answer: the
  // request is sent again twice, then the message; nothing else goes out.
  void silenceDuringRequest(std::uint8_t channel, std::vector<std::int32_t> owned,
                            const std::string& procedure) {
    untilRequestInFlight(channel);
    const kvsim::Bytes request = h.radio().frames().back().bytes;
    h.radio().setSilent(true, h.nowUs());
    markFault(std::move(owned));
    expectOneMessage(kNoAnswer, procedure, 6000);
    EXPECT_EQ(sentSinceFault(), (std::vector<kvsim::Bytes>{request, request})) << "only the two resends";
    expectNothingOfItAfterReconnect();
  }

  // The answer to a request of the channel comes back unreadable. With a row to confirm
  // on, the technician presses Enter there first, and the answer spoiled is the one the
  // confirming step acts on: that of the first request after the Enter was taken.
  void spoilRequest(std::uint8_t channel, std::vector<std::int32_t> owned, const std::string& procedure,
                    std::int16_t confirmRow = -1) {
    if (confirmRow >= 0) {
      enter(confirmRow, -1);
      ASSERT_TRUE(h.runUntil([&] { return !console().flgEnterOn(confirmRow); }, 2000)) << "Enter taken";
      const std::size_t after = h.radio().frames().size();
      ASSERT_TRUE(h.runUntil([&] { return h.radio().frames().size() > after; }, 2000));
    }
    untilRequestInFlight(channel);
    h.radio().spoilNextMonitorAnswer();
    markFault(std::move(owned));
    expectOneMessage(kCommunicationFailed, procedure, 1000);
    EXPECT_TRUE(sentSinceFault().empty()) << "not one frame after the unreadable answer";
    expectNothingOfItAfterReconnect();
  }

  ProgramHarness h;
  std::size_t mark_ = 0;
  std::vector<std::int32_t> owned_;
  std::vector<int> before_;
};

std::vector<std::int32_t> txfTable() {
  std::vector<std::int32_t> v;
  for (std::int32_t a = 216; a < 256; ++a) v.push_back(a);
  return v;
}
const std::vector<std::int32_t> kRssiPoints = {86, 87};
const std::vector<std::int32_t> kFilters = {68, 69, 70, 71};

}  // namespace

// ---- TXF ----

TEST_F(ProcedureFault, TxfFirstPhaseSilent) {
  enter(kRowTxf, 1500);
  silenceDuringRequest(kChannelTemperature, txfTable(), "The TXF procedure");
  // Started again, the procedure begins at its first frequency.
  enter(kRowTxf, 1500);
  EXPECT_NE(list().itemText(kRowTxf).find("1st TX Freq"), std::string::npos);
}

TEST_F(ProcedureFault, TxfFirstPhaseUnreadableWhenTheSettingIsConfirmed) {
  enter(kRowTxf, 1500);
  spoilRequest(kChannelTemperature, txfTable(), "The TXF procedure", kRowTxf);
}

TEST_F(ProcedureFault, TxfSecondPhaseSilent) {
  txfToSecondPhase();
  silenceDuringRequest(kChannelTemperature, txfTable(), "The TXF procedure");
}

TEST_F(ProcedureFault, TxfSecondPhaseUnreadableWhenTheTableWouldBeComputed) {
  txfToSecondPhase();
  stepTo(kRowTxf, static_cast<std::int16_t>(console().Value(kRowTxf) - 10));
  spoilRequest(kChannelTemperature, txfTable(), "The TXF procedure", kRowTxf);
}

// ---- RSSI ----

TEST_F(ProcedureFault, RssiSilentAtEitherPoint) {
  enter(kRowRssi, 400);
  ASSERT_EQ(list().itemText(kRowRssi), "      RSSI: L2 Level (+23dBu) ");
  silenceDuringRequest(kChannelSd, kRssiPoints, "The RSSI procedure");

  enter(kRowRssi, 400);
  enter(kRowRssi, 1000);
  ASSERT_EQ(list().itemText(kRowRssi), "      RSSI: L0 Level (-7dBu) ");
  h.toolkit().clearMessages();
  silenceDuringRequest(kChannelSd, kRssiPoints, "The RSSI procedure");
}

TEST_F(ProcedureFault, RssiUnreadableWhenEitherPointIsConfirmed) {
  enter(kRowRssi, 400);
  spoilRequest(kChannelSd, kRssiPoints, "The RSSI procedure", kRowRssi);

  enter(kRowRssi, 400);
  enter(kRowRssi, 1000);
  ASSERT_EQ(list().itemText(kRowRssi), "      RSSI: L0 Level (-7dBu) ");
  h.toolkit().clearMessages();
  spoilRequest(kChannelSd, kRssiPoints, "The RSSI procedure", kRowRssi);
}

// ---- CAL: no reading of its own; a silent radio shows at the next monitor read ----

TEST_F(ProcedureFault, CalSilentBetweenItsPoints) {
  enter(kRowCal, 400);
  enter(kRowCal, 400);
  ASSERT_EQ(list().itemText(kRowCal), "       CAL: Narrow ");
  h.radio().setSilent(true, h.nowUs());
  markFault({});
  h.toolkit().pressKey(tk::Key::F5);
  expectOneMessage(kNoAnswer, "The CAL procedure", 6000);
  const auto sent = sentSinceFault();
  ASSERT_EQ(sent.size(), 3u) << "the first monitor request and its two resends";
  for (const auto& f : sent) EXPECT_EQ(f, sent.front());
  expectNothingOfItAfterReconnect();
}

TEST_F(ProcedureFault, CalUnreadableMonitorAnswer) {
  enter(kRowCal, 400);
  h.toolkit().pressKey(tk::Key::F5);
  spoilRequest('0', {}, "The CAL procedure");
}

// ---- BPF sweeps ----

TEST_F(ProcedureFault, BpfSingleFilterSilentMidSweep) {
  enter(kRowBpfT2, 3000);
  ASSERT_GE(ctl().enterStep(), 12);
  silenceDuringRequest(kChannelSd, kFilters, "The BPF sweep");
}

TEST_F(ProcedureFault, BpfSingleFilterUnreadableReading) {
  enter(kRowBpfT2, 3000);
  spoilRequest(kChannelSd, kFilters, "The BPF sweep");
}

TEST_F(ProcedureFault, BpfAllSilentMidSweep) {
  enter(kRowBpfAll, 0);
  intoTheSecondFilter();
  silenceDuringRequest(kChannelSd, kFilters, "The BPF sweep");
}

TEST_F(ProcedureFault, BpfAllUnreadableReading) {
  enter(kRowBpfAll, 0);
  intoTheSecondFilter();
  spoilRequest(kChannelSd, kFilters, "The BPF sweep");
}
