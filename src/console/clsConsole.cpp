#include "console/clsConsole.h"

#include <stdexcept>

#include "base/Checked16.h"
#include "base/NumFormat.h"
#include "clone/E8Sender.h"
#include "radio/clsCmcEeprom.h"
#include "base/Common.h"
#include "toolkit/Toolkit.h"

namespace tarnset {

namespace {
constexpr std::int16_t kBarWidth = 20;
}  // namespace

clsConsole::clsConsole() = default;

const clsConsole::ConsoleItem& clsConsole::itemOrDefault(std::int16_t Index) const {
  static const ConsoleItem kDefault{};
  return validIndex(Index) ? items_[static_cast<std::size_t>(Index)] : kDefault;
}

ConsoleEvents& clsConsole::events() const {
  if (myEventClass_ == nullptr) throw std::logic_error("Console has no event object");
  return *myEventClass_;
}

clsCmcEeprom& clsConsole::eeprom() const {
  if (myEeprom_ == nullptr) throw std::logic_error("Console has no EEPROM image");
  return *myEeprom_;
}

void clsConsole::Clear() {
  items_.clear();
  count_ = 0;
  myBarWidth_ = kBarWidth;
  if (myListBox_ != nullptr) myListBox_->clear();
}

void clsConsole::AddItem() {
  const std::int16_t newCount = add16(count_, 1);  // a 32768th item is a programming error
  items_.emplace_back();
  count_ = newCount;
  if (myListBox_ != nullptr) {
    while (myListBox_->listCount() < count_) myListBox_->addItem("");
  }
  Disp(static_cast<std::int16_t>(count_ - 1));
}

// ---- per-item properties ----

std::string clsConsole::Title(std::int16_t Index) const {
  return itemOrDefault(Index).Title;
}

void clsConsole::setTitle(std::int16_t Index, const std::string& v) {
  if (!validIndex(Index)) return;
  items_[Index].Title = v;
  // The line redrawn is the last one: the item being built is always the last.
  Disp(static_cast<std::int16_t>(count_ - 1));
}

std::int16_t clsConsole::Value(std::int16_t Index) const {
  return itemOrDefault(Index).Value;
}

void clsConsole::setValue(std::int16_t Index, std::int16_t v) {
  if (!validIndex(Index)) return;
  ConsoleItem& it = items_[Index];
  const std::int16_t old = it.Value;
  // Limited before it is stored, so that a step against a limit leaves the line as it
  // is (Max wins should the limits ever cross).
  if (v < it.Min) v = it.Min;
  if (it.Max < v) v = it.Max;
  it.Value = v;
  if (v != old) Disp(Index);
  // Every assignment asks for a send, also one that left the value as it was.
  if (validIndex(Index)) items_[Index].flgChanged = true;
}

std::int16_t clsConsole::Min(std::int16_t Index) const {
  return itemOrDefault(Index).Min;
}

void clsConsole::setMin(std::int16_t Index, std::int16_t v) {
  if (!validIndex(Index)) return;
  ConsoleItem& it = items_[Index];
  it.Min = v;
  if (it.Max < it.Min) it.Max = it.Min;
  LimitValue(Index);
  Disp(Index);
}

std::int16_t clsConsole::Max(std::int16_t Index) const {
  return itemOrDefault(Index).Max;
}

void clsConsole::setMax(std::int16_t Index, std::int16_t v) {
  if (!validIndex(Index)) return;
  ConsoleItem& it = items_[Index];
  it.Max = v;
  if (it.Max < it.Min) it.Min = it.Max;
  LimitValue(Index);
  Disp(Index);
}

bool clsConsole::BarExist(std::int16_t Index) const {
  return itemOrDefault(Index).BarExist;
}
void clsConsole::setBarExist(std::int16_t Index, bool v) {
  if (validIndex(Index)) items_[Index].BarExist = v;
}

bool clsConsole::LoopVal(std::int16_t Index) const {
  return itemOrDefault(Index).LoopVal;
}
void clsConsole::setLoopVal(std::int16_t Index, bool v) {
  if (validIndex(Index)) items_[Index].LoopVal = v;
}

std::int32_t clsConsole::WaitAfterE8(std::int16_t Index) const {
  return itemOrDefault(Index).WaitAfterE8;
}
void clsConsole::setWaitAfterE8(std::int16_t Index, std::int32_t v) {
  if (validIndex(Index)) items_[Index].WaitAfterE8 = v;
}

std::int32_t clsConsole::EeAdr(std::int16_t Index) const {
  return itemOrDefault(Index).EeAdr;
}
void clsConsole::setEeAdr(std::int16_t Index, std::int32_t v) {
  if (validIndex(Index)) items_[Index].EeAdr = v;
}

bool clsConsole::EeDataSigned(std::int16_t Index) const {
  return itemOrDefault(Index).EeDataSigned;
}
void clsConsole::setEeDataSigned(std::int16_t Index, bool v) {
  if (validIndex(Index)) items_[Index].EeDataSigned = v;
}

std::int16_t clsConsole::E8Command(std::int16_t Index) const {
  return itemOrDefault(Index).E8Command;
}
void clsConsole::setE8Command(std::int16_t Index, std::int16_t v) {
  if (validIndex(Index)) items_[Index].E8Command = v;
}

std::int16_t clsConsole::Event_Disp(std::int16_t Index) const {
  return itemOrDefault(Index).Event_Disp;
}
void clsConsole::setEvent_Disp(std::int16_t Index, std::int16_t v) {
  if (!validIndex(Index)) return;
  items_[Index].Event_Disp = v;
  Disp(Index);
}

std::int16_t clsConsole::Event_Changed(std::int16_t Index) const {
  return itemOrDefault(Index).Event_Changed;
}
void clsConsole::setEvent_Changed(std::int16_t Index, std::int16_t v) {
  if (validIndex(Index)) items_[Index].Event_Changed = v;
}

std::int16_t clsConsole::Event_SendE8(std::int16_t Index) const {
  return itemOrDefault(Index).Event_SendE8;
}
void clsConsole::setEvent_SendE8(std::int16_t Index, std::int16_t v) {
  if (validIndex(Index)) items_[Index].Event_SendE8 = v;
}

std::int16_t clsConsole::Event_Enter(std::int16_t Index) const {
  return itemOrDefault(Index).Event_Enter;
}
void clsConsole::setEvent_Enter(std::int16_t Index, std::int16_t v) {
  if (validIndex(Index)) items_[Index].Event_Enter = v;
}

bool clsConsole::flgChanged(std::int16_t Index) const {
  return itemOrDefault(Index).flgChanged;
}

void clsConsole::setFlgChanged(std::int16_t Index, bool v) {
  if (!validIndex(Index)) return;
  items_[Index].flgChanged = v;
  if (v) {
    LimitValue(Index);
    Disp(Index);
  }
}

bool clsConsole::flgEnterOn(std::int16_t Index) const {
  return itemOrDefault(Index).flgEnterOn;
}

void clsConsole::setFlgEnterOn(std::int16_t Index, bool v) {
  if (!validIndex(Index)) return;
  // At most one item has a pending Enter.
  if (v) {
    for (auto& it : items_) it.flgEnterOn = false;
  }
  items_[Index].flgEnterOn = v;
}

// ---- line texts ----

std::string clsConsole::DefaultString(std::int16_t Index) const {
  if (!validIndex(Index)) return {};
  const ConsoleItem& it = items_[Index];
  std::string line = it.Title + ":" + rightAlign(decimal(it.Value), 4);
  if (it.BarExist) line += BarString(Index);
  return line;
}

std::string clsConsole::BarString(std::int16_t Index) const {
  if (!validIndex(Index)) return {};
  const ConsoleItem& it = items_[Index];
  const std::int16_t scaled = mul16(sub16(it.Value, it.Min), myBarWidth_);
  const std::int16_t range = sub16(it.Max, it.Min);
  // Limits without a range leave no position to show: the bar stays empty.
  const std::int16_t filled =
      range == 0 ? std::int16_t{0}
                 : clampTo<std::int16_t>(roundTo16(static_cast<double>(scaled) / range), 0, myBarWidth_);
  return " [" + std::string(static_cast<std::size_t>(filled), '#') +
         std::string(static_cast<std::size_t>(myBarWidth_ - filled), '-') + "]";
}

// ---- operations ----

void clsConsole::LimitValue(std::int16_t Index) {
  if (!validIndex(Index)) return;
  ConsoleItem& it = items_[Index];
  const std::int16_t old = it.Value;
  if (it.Value < it.Min) it.Value = it.Min;
  if (it.Max < it.Value) it.Value = it.Max;
  if (it.Value != old) Disp(Index);
}

void clsConsole::UpDown(std::int16_t Index, std::int16_t stp) {
  if (!validIndex(Index)) return;
  const ConsoleItem& it = items_[Index];
  std::int16_t next;
  if (it.LoopVal && it.Value >= it.Max && stp > 0) {
    next = it.Min;
  } else if (it.LoopVal && it.Value <= it.Min && stp < 0) {
    next = it.Max;
  } else {
    next = add16(it.Value, stp);
  }
  setValue(Index, next);
}

void clsConsole::Disp(std::int16_t Index) {
  if (!validIndex(Index)) return;
  const std::int16_t evNo = items_[Index].Event_Disp;
  std::string text;
  if (evNo < 0) {
    text = DefaultString(Index);
  } else {
    text = events().ConsEv_Disp(*this, Index, evNo, items_[Index].Value);
  }
  if (myListBox_ != nullptr && Index < myListBox_->listCount()) myListBox_->setItemText(Index, text);
}

void clsConsole::ReadFromEe(std::int16_t Index) {
  if (!validIndex(Index) || items_[Index].EeAdr < 0) return;
  std::int16_t b = eeprom().ReadByte(items_[Index].EeAdr);
  if (items_[Index].EeDataSigned && b > 127) b = static_cast<std::int16_t>(b - 256);
  setValue(Index, b);
}

void clsConsole::WriteToEe(std::int16_t Index) {
  if (!validIndex(Index) || items_[Index].EeAdr < 0) return;
  // The low byte: a negative value is stored in two's complement. A refused write (an
  // address outside the image) is of no concern here.
  (void)eeprom().WriteByte(items_[Index].EeAdr, static_cast<std::uint8_t>(items_[Index].Value & 0xFF));
}

void clsConsole::SendE8(std::int16_t Index) {
  if (!validIndex(Index)) return;
  const ConsoleItem it = items_[Index];  // a copy: the event may change the store
  if (it.Event_SendE8 >= 0) {
    events().ConsEv_SendE8(*this, Index, it.Event_SendE8, it.Value);
  } else if (it.E8Command >= 0) {
    if (myDornSeq_ == nullptr) throw std::logic_error("Console has no sequencer");
    myDornSeq_->easySendE8NoAnswer(ByteToHex(it.E8Command) + ByteToAsciiHex(it.Value));
    if (myDornSeq_->sendRefused()) return;  // nothing went out: no pause, image unchanged
    events().setWaitE8Required(it.WaitAfterE8);
  }
  // The value sent also goes into the image; a value the port refused never reached the
  // radio, so the image keeps what the radio holds.
  if (myDornSeq_ != nullptr && myDornSeq_->sendRefused()) return;
  WriteToEe(Index);
}

void clsConsole::EnterPushed(std::int16_t Index) {
  setFlgEnterOn(Index, true);
}

void clsConsole::EnterExec(std::int16_t Index) {
  if (!validIndex(Index)) return;
  const std::int16_t evNo = items_[Index].Event_Enter;
  if (evNo < 0) return;
  events().ConsEv_Enter(*this, Index, evNo, items_[Index].Value);
  // The action usually changes what the line shows.
  Disp(Index);
}

}  // namespace tarnset
