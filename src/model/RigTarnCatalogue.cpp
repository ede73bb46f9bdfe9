// The 17 console rows of the KV-Tarn alignment, in their fixed order.
#include "base/Wire.h"
#include "console/clsConsole.h"
#include "model/TarnItems.h"
#include "model/TarnMap.h"
#include "model/clsIndOp_RigTarn.h"

namespace tarnset {
namespace {

// One row; -1 (or kNone) keeps the console's default for that setting.
struct Row {
  const char* title;
  std::int32_t eeAdr;
  bool eeSigned;
  std::int16_t min, max;
  std::int16_t e8Command;
  bool bar, loop;
  std::int16_t evDisp, evSendE8, evEnter;
};

namespace e8 = wire::e8;

constexpr std::int16_t kKeep = -1;  // event or command: the console's default (none)
constexpr std::int16_t kNoMin = 0;  // default limits 0..255
constexpr std::int16_t kNoMax = 255;

// Display events: 0 CH No., 1 TXF, 2 BPF ALL, 3 BPF T1..T4, 4 RSSI, 5 CAL.
// Enter events: 0 TXF, 1 RSSI, 2 CAL, 3..6 BPF T1..T4, 7 BPF ALL.
constexpr Row kRows[] = {
    {"    CH No.", -1, false, 0, 0, e8::kChannel, false, true, 0, 0, kKeep},
    {" Power(Hi)", TarnMap::kPowerHi, false, kNoMin, kNoMax, e8::kPowerHi, true, false, kKeep, kKeep, kKeep},
    {" Power(L2)", TarnMap::kPowerL2, false, kNoMin, kNoMax, e8::kPowerL2, true, false, kKeep, kKeep, kKeep},
    {" Power(L1)", TarnMap::kPowerL1, false, kNoMin, kNoMax, e8::kPowerL1, true, false, kKeep, kKeep, kKeep},
    {"   Balance", TarnMap::kBalance, false, kNoMin, kNoMax, e8::kBalance, true, false, kKeep, kKeep, kKeep},
    {"     MOD W", TarnMap::kModW, false, kNoMin, kNoMax, e8::kModW, true, false, kKeep, kKeep, kKeep},
    {"     MOD N", TarnMap::kModN, false, kNoMin, kNoMax, e8::kModN, true, false, kKeep, kKeep, kKeep},
    {" CTCS/DTCS", TarnMap::kToneLevel, false, kNoMin, kNoMax, e8::kToneLevel, true, false, kKeep, kKeep,
     kKeep},
    {"       SQL", TarnMap::kSquelch, false, kNoMin, kNoMax, e8::kSquelch, true, false, kKeep, kKeep, kKeep},
    {"   BPF ALL", -1, false, kNoMin, kNoMax, kKeep, false, false, 2, kKeep, 7},
    {"    BPF T1", TarnMap::kBpfT1 + 0, true, -128, 127, e8::kBpfT1 + 0, true, false, 3, kKeep, 3},
    {"    BPF T2", TarnMap::kBpfT1 + 1, true, -128, 127, e8::kBpfT1 + 1, true, false, 3, kKeep, 4},
    {"    BPF T3", TarnMap::kBpfT1 + 2, true, -128, 127, e8::kBpfT1 + 2, true, false, 3, kKeep, 5},
    {"    BPF T4", TarnMap::kBpfT1 + 3, true, -128, 127, e8::kBpfT1 + 3, true, false, 3, kKeep, 6},
    {"       TXF", -1, false, kNoMin, kNoMax, kKeep, false, false, 1, kKeep, 0},
    {"      RSSI", -1, false, kNoMin, kNoMax, kKeep, false, false, 4, kKeep, 1},
    {"       CAL", -1, false, kNoMin, kNoMax, kKeep, false, false, 5, kKeep, 2},
};

constexpr std::int16_t kRowChNo = 0, kRowBpfAll = 9, kRowBpfT1 = 10, kRowTxf = 14, kRowRssi = 15,
                       kRowCal = 16;

}  // namespace

const std::vector<TarnItem>& tarnEepromItems() {
  static const std::vector<TarnItem> items = [] {
    std::vector<TarnItem> v;
    std::int16_t row = 0;
    for (const Row& r : kRows) {
      if (r.eeAdr >= 0) v.push_back({r.title, row, r.eeAdr, r.eeSigned, r.e8Command});
      ++row;
    }
    return v;
  }();
  return items;
}

void clsIndOp_RigTarn::buildCatalogue() {
  clsConsole& c = *console_;
  std::int16_t row = 0;
  for (const Row& r : kRows) {
    c.AddItem();
    const std::int16_t i = static_cast<std::int16_t>(c.ListCount() - 1);
    // The recorded indexes must exist before a display event of the row asks for them.
    if (row == kRowChNo) idxChNo_ = i;
    if (row == kRowBpfAll) idxBpfSweep_ = idxBpfAll_ = i;
    if (row == kRowBpfT1) idxBpfT1_ = i;
    if (row == kRowTxf) idxTxf_ = i;
    if (row == kRowRssi) idxRssi_ = i;
    if (row == kRowCal) idxCal_ = i;
    c.setTitle(i, r.title);
    if (r.eeAdr >= 0) c.setEeAdr(i, r.eeAdr);
    if (r.eeSigned) c.setEeDataSigned(i, true);
    if (r.min != kNoMin) c.setMin(i, r.min);
    if (r.max != kNoMax) c.setMax(i, r.max);
    if (r.e8Command != kKeep) c.setE8Command(i, r.e8Command);
    if (r.bar) c.setBarExist(i, true);
    if (r.loop) c.setLoopVal(i, true);
    if (r.evDisp != kKeep) c.setEvent_Disp(i, r.evDisp);
    if (r.evSendE8 != kKeep) c.setEvent_SendE8(i, r.evSendE8);
    if (r.evEnter != kKeep) c.setEvent_Enter(i, r.evEnter);
    ++row;
  }
}

void clsIndOp_RigTarn::resetEnterFlags() {
  for (std::int16_t k = 0; k < TarnMap::kBpfCount; ++k) {
    console_->setWaitAfterE8(static_cast<std::int16_t>(idxBpfT1_ + k), 200);
  }
  for (std::int16_t i = 0; i < console_->ListCount(); ++i) {
    console_->setFlgEnterOn(i, false);
    console_->Disp(i);
  }
}

}  // namespace tarnset
