#include "sim/TarnImage.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "base/Wire.h"
#include "sim/TarnPhysics.h"

namespace kvsim {

namespace eep {

std::optional<int> addressOfE8Code(int code) {
  namespace e8 = tarnset::wire::e8;
  switch (code) {
    case e8::kSquelch:
      return kSquelch;
    case e8::kPowerHi:
      return kPowerHi;
    case e8::kPowerL2:
      return kPowerL2;
    case e8::kPowerL1:
      return kPowerL1;
    case e8::kModW:
      return kModW;
    case e8::kModN:
      return kModN;
    case e8::kBalance:
      return kBalance;
    case e8::kBpfT1:
    case e8::kBpfT1 + 1:
    case e8::kBpfT1 + 2:
    case e8::kBpfT1 + 3:
      return kBpfT1 + (code - e8::kBpfT1);
    case e8::kToneLevel:
      return kTone;
    case e8::kRssiL0:
      return kRssiL0;
    case e8::kRssiL2:
      return kRssiL2;
    default:
      break;
  }
  if (code >= e8::kTxfEntry0 && code < e8::kTxfEntry0 + kTxfEntries)
    return kTxfTable + (code - e8::kTxfEntry0);
  return std::nullopt;
}

bool isSignedAddress(int address) {
  if (address >= kBpfT1 && address < kBpfT1 + 4) return true;
  if (address >= kModSlantFreq && address <= kSqlSlantTemp) return true;
  if (address == kBalSlantTemp) return true;
  if (address >= kBalSlantFreq && address < kBalSlantFreq + 5) return true;
  // The slopes of the compensation table sit at the even entries.
  return address >= kTxfTable && address < kTxfTable + kTxfEntries && (address - kTxfTable) % 2 == 0;
}

}  // namespace eep

namespace {

bool inside(int address) {
  return address >= 0 && address < eep::kImageSize;
}

}  // namespace

std::uint8_t readByte(const Bytes& image, int address) {
  if (!inside(address) || static_cast<std::size_t>(address) >= image.size()) return 0;
  return image[static_cast<std::size_t>(address)];
}

std::uint16_t readWord(const Bytes& image, int address) {
  return static_cast<std::uint16_t>(readByte(image, address) << 8 | readByte(image, address + 1));
}

std::uint32_t readLong(const Bytes& image, int address) {
  return static_cast<std::uint32_t>(readWord(image, address)) << 16 | readWord(image, address + 2);
}

void writeByte(Bytes& image, int address, std::uint8_t value) {
  if (!inside(address) || static_cast<std::size_t>(address) >= image.size()) return;
  image[static_cast<std::size_t>(address)] = value;
}

void writeWord(Bytes& image, int address, std::uint16_t value) {
  writeByte(image, address, static_cast<std::uint8_t>(value >> 8));
  writeByte(image, address + 1, static_cast<std::uint8_t>(value & 0xFF));
}

void writeLong(Bytes& image, int address, std::uint32_t value) {
  writeWord(image, address, static_cast<std::uint16_t>(value >> 16));
  writeWord(image, address + 2, static_cast<std::uint16_t>(value & 0xFFFF));
}

int slotCount(const Bytes& image) {
  return std::min<int>(readByte(image, eep::kSlotCount), 40);
}

int recordAddress(const Bytes& image, int slot) {
  return readWord(image, eep::kRecordWordW2) + eep::kRecordOffset + eep::kRecordSize * slot;
}

ChannelInfo channel(const Bytes& image, int slot) {
  ChannelInfo info;
  if (slot < 0 || slot >= slotCount(image)) return info;
  const int entry = readWord(image, eep::kEntryWordW1) + eep::kEntryOffset + eep::kEntrySize * slot;
  const int record = recordAddress(image, slot);
  const std::uint32_t rx = readLong(image, record + eep::kRecordRx);
  const std::uint32_t tx = readLong(image, record + eep::kRecordTx);
  const auto field = [](std::uint32_t v) -> std::optional<std::uint32_t> {
    if ((v & eep::kInhibitMark) != 0 || v == 0) return std::nullopt;
    return v;
  };
  info.rxHz = field(rx);
  info.txHz = field(tx);
  const bool marked = readByte(image, entry + eep::kEntryMarkOffset) == eep::kEntrySize;
  info.inUse = marked && ((rx & eep::kInhibitMark) != 0 || rx != 0);
  const std::uint8_t flags = readByte(image, record + eep::kRecordFlags);
  info.narrow = (flags & eep::kFlagNarrow) != 0;
  info.lowPower = (flags & eep::kFlagLowPower) != 0;
  return info;
}

int tempSegment(int raw) {
  for (int i = 0; i < 19; ++i) {
    if (raw < kTempBorder[static_cast<std::size_t>(i) + 1]) return i;
  }
  return 19;
}

namespace {

// Where the factory puts the channel structures (the two words point at them).
constexpr std::uint16_t kDefaultW1 = 2176;  // entries from 2688
constexpr std::uint16_t kDefaultW2 = 850;   // records from 1362
constexpr std::uint8_t kDefaultSlots = 32;

struct FactoryChannel {
  int slot;
  std::uint32_t rx;  // hertz, or the inhibit mark
  std::uint32_t tx;
  bool narrow;
  bool lowPower;
  const char* name;
};

constexpr std::uint32_t kInh = eep::kInhibitMark;

// A dozen channels over the 440..470 MHz band: simplex and duplex pairs, both spacings,
// both power levels, a transmit-only channel (receive inhibited), a receive-only channel
// (transmit inhibited) and two empty slots before the last one.
constexpr FactoryChannel kFactoryChannels[] = {
    {0, 450000000, 450000000, false, false, "BASE"}, {1, 451250000, 451250000, true, false, "YARD"},
    {2, 452562500, 452562500, true, true, "DOCK"},   {3, 460100000, 465100000, false, false, "RPT A"},
    {4, 461012500, 456012500, true, false, "RPT B"}, {5, 446006250, 446006250, true, true, "SITE"},
    {6, 442000000, 447000000, false, true, "LINK"},  {7, 468775000, 468775000, false, false, "GATE"},
    {8, 463250000, 468250000, true, false, "RPT C"}, {9, kInh, 455500000, false, false, "TX ONLY"},
    {10, 440525000, kInh, false, false, "MONITOR"},  {13, 469987500, 464987500, true, true, "RPT D"},
};

// Compensation table of the factory alignment, from the oscillator's curve; the crystal
// has aged since, so the radio is now a few steps off.
void writeFactoryCompensation(Bytes& image) {
  constexpr int kAgingSteps = -3;
  std::array<int, 21> value{};
  for (std::size_t i = 0; i < value.size(); ++i) {
    const double celsius = TarnPhysics::thermistorCelsius(kTempBorder[i]);
    value[i] =
        std::clamp(static_cast<int>(std::lround(TarnPhysics::idealSetting(celsius))) + kAgingSteps, 0, 255);
  }
  for (std::size_t i = 0; i < 20; ++i) {
    const double slope =
        (value[i + 1] - value[i]) * 32.0 / static_cast<double>(kTempBorder[i + 1] - kTempBorder[i]);
    const int s = std::clamp(static_cast<int>(std::lround(slope)), -128, 127);
    writeByte(image, eep::kTxfTable + 2 * static_cast<int>(i), static_cast<std::uint8_t>(s & 0xFF));
    writeByte(image, eep::kTxfTable + 2 * static_cast<int>(i) + 1, static_cast<std::uint8_t>(value[i]));
  }
}

void writeSigned(Bytes& image, int address, int v) {
  writeByte(image, address, static_cast<std::uint8_t>(v & 0xFF));
}

}  // namespace

Bytes defaultImage() {
  // Erased cells read FF; the parameter block at the start is written in full.
  Bytes image(eep::kImageSize, 0xFF);
  std::fill(image.begin(), image.begin() + 1024, std::uint8_t{0x00});

  const std::string serial = "KVTARN  20417093";
  std::copy(serial.begin(), serial.end(), image.begin());
  writeWord(image, 16, 0x0302);  // production lot and firmware build of the identity block

  const int modSlant[5] = {-6, -3, 0, 2, 5};
  const int toneSlant[5] = {-2, -1, 0, 1, 3};
  const int powSlant[5] = {8, 4, 0, -3, -7};
  const int balSlant[5] = {-4, -2, 0, 2, 3};
  for (int b = 0; b < 5; ++b) {
    writeSigned(image, eep::kModSlantFreq + b, modSlant[b]);
    writeSigned(image, eep::kToneSlantFreq + b, toneSlant[b]);
    writeSigned(image, eep::kPowSlantFreq + b, powSlant[b]);
    writeSigned(image, eep::kBalSlantFreq + b, balSlant[b]);
  }
  writeSigned(image, eep::kModSlantTemp, -4);
  writeSigned(image, eep::kToneSlantTemp, 2);
  writeSigned(image, eep::kSqlSlantTemp, -3);
  writeSigned(image, eep::kBalSlantTemp, 1);

  // Filter settings near the factory optimum for channel 1, drifted by a few settings.
  writeSigned(image, eep::kBpfT1, -21);
  writeSigned(image, eep::kBpfT1 + 1, 3);
  writeSigned(image, eep::kBpfT1 + 2, 33);
  writeSigned(image, eep::kBpfT1 + 3, -16);

  writeByte(image, eep::kModW, 152);
  writeByte(image, eep::kModN, 84);
  writeByte(image, eep::kBalance, 126);
  writeByte(image, eep::kTone, 92);
  writeByte(image, eep::kPowerL1, 58);
  writeByte(image, eep::kPowerL2, 117);
  writeByte(image, eep::kPowerHi, 203);
  writeByte(image, eep::kCtcssCorrection, 128);
  writeByte(image, eep::kDtcsCorrection, 131);
  writeByte(image, eep::kLtrWCorrection, 125);
  writeByte(image, eep::kLtrNCorrection, 127);
  writeByte(image, eep::kModWCorrection, 130);
  writeByte(image, eep::kModNCorrection, 124);
  writeByte(image, eep::kRssiL0, 88);
  writeByte(image, eep::kRssiL2, 186);
  writeWord(image, eep::kBaseFrequency, 4500);
  writeByte(image, eep::kSquelch, 108);
  writeFactoryCompensation(image);

  writeWord(image, eep::kEntryWordW1, kDefaultW1);
  writeByte(image, eep::kEntryWordW1 + 2, 0x00);
  writeByte(image, eep::kSlotCount, kDefaultSlots);
  writeWord(image, eep::kRecordWordW2, kDefaultW2);

  for (const FactoryChannel& ch : kFactoryChannels) {
    const int entry = kDefaultW1 + eep::kEntryOffset + eep::kEntrySize * ch.slot;
    const int record = kDefaultW2 + eep::kRecordOffset + eep::kRecordSize * ch.slot;
    std::fill(image.begin() + entry, image.begin() + entry + eep::kEntrySize, std::uint8_t{0x00});
    std::fill(image.begin() + record, image.begin() + record + eep::kRecordSize, std::uint8_t{0x00});
    writeByte(image, entry, static_cast<std::uint8_t>(ch.slot));
    writeByte(image, entry + eep::kEntryMarkOffset, eep::kEntrySize);
    std::string name = ch.name;
    name.resize(10, ' ');
    std::copy(name.begin(), name.end(), image.begin() + entry + 2);
    writeLong(image, record + eep::kRecordRx, ch.rx);
    writeLong(image, record + eep::kRecordTx, ch.tx);
    std::uint8_t flags = 0;
    if (ch.narrow) flags |= eep::kFlagNarrow;
    if (ch.lowPower) flags |= eep::kFlagLowPower;
    writeByte(image, record + eep::kRecordFlags, flags);
  }
  return image;
}

}  // namespace kvsim
