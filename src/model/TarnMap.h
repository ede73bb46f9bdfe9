#pragma once
// Every EEPROM address of the KV-Tarn image that the program uses, in one place.
#include <cstdint>

namespace tarnset {

// The KV-Tarn EEPROM image as this program reads and writes it: byte addresses (decimal),
// big-endian words. The layout table with the meaning of every block is in
// docs/eeprom-layout.md; keep the two in step.
struct TarnMap {
  // Size of the image (addresses 0..15967).
  static constexpr std::int32_t kImageSize = 15968;

  // ---- alignment bytes (adjusted through the console and shown by the listing) ----
  // Frequency slants, five bands each (signed).
  static constexpr std::int32_t kModSlantFreq = 49;   // 49..53
  static constexpr std::int32_t kToneSlantFreq = 54;  // 54..58
  static constexpr std::int32_t kPowSlantFreq = 59;   // 59..63
  static constexpr std::int32_t kBalSlantFreq = 96;   // 96..100
  static constexpr std::int32_t kSlantBands = 5;
  // Temperature slants (signed).
  static constexpr std::int32_t kModSlantTemp = 64;
  static constexpr std::int32_t kToneSlantTemp = 65;
  static constexpr std::int32_t kSqlSlantTemp = 66;
  static constexpr std::int32_t kBalSlantTemp = 75;
  // Band-pass filter tuning T1..T4 (signed), four consecutive bytes.
  static constexpr std::int32_t kBpfT1 = 68;  // 68..71
  static constexpr std::int32_t kBpfCount = 4;
  // Modulation deviation, wide and narrow.
  static constexpr std::int32_t kModW = 72;
  static constexpr std::int32_t kModN = 73;
  // Modulation balance.
  static constexpr std::int32_t kBalance = 74;
  // CTCSS/DTCS tone level.
  static constexpr std::int32_t kToneLevel = 76;
  // Transmit power levels.
  static constexpr std::int32_t kPowerL1 = 77;
  static constexpr std::int32_t kPowerL2 = 78;
  static constexpr std::int32_t kPowerHi = 79;
  // Tone and modulation corrections.
  static constexpr std::int32_t kCtcssToneCorrection = 80;
  static constexpr std::int32_t kDtcsToneCorrection = 81;
  static constexpr std::int32_t kLtrWToneCorrection = 82;
  static constexpr std::int32_t kLtrNToneCorrection = 83;
  static constexpr std::int32_t kModWCorrection = 84;
  static constexpr std::int32_t kModNCorrection = 85;
  // Signal strength calibration points.
  static constexpr std::int32_t kRssiL0 = 86;
  static constexpr std::int32_t kRssiL2 = 87;
  // Squelch level (outside the block of the other console bytes).
  static constexpr std::int32_t kSquelch = 274;

  // ---- transmit frequency compensation table ----
  // 40 bytes: entry k at kTxfTable + k. Entry 2i (even address) is the signed slope of
  // temperature segment i, entry 2i + 1 (odd address) the value at temperature border i.
  static constexpr std::int32_t kTxfTable = 216;  // 216..255
  static constexpr std::int32_t kTxfTableEntries = 40;
  static constexpr std::int32_t kTxfSlant = 216;    // slope of segment i at 216 + 2i
  static constexpr std::int32_t kTxfInitial = 217;  // value at border i at 217 + 2i
  static constexpr std::int32_t kTxfSegments = 20;

  // ---- base frequency ----
  // Big-endian word in units of 100 kHz (4000 = 400 MHz).
  static constexpr std::int32_t kBaseFreq = 92;  // 92..93
  static constexpr std::int32_t kBaseFreqUnitHz = 100000;

  // ---- channel memory header ----
  // Word W1: the in-use marker of 26-byte channel entry n is at W1 + 513 + 26 n.
  static constexpr std::int32_t kChEntryPointer = 1024;  // 1024..1025
  // Number of channel slots (the program uses at most kMaxChannels).
  static constexpr std::int32_t kChSlotCount = 1027;
  // Word W2: 32-byte channel record n starts at W2 + 512 + 32 n.
  static constexpr std::int32_t kChRecordPointer = 1028;  // 1028..1029

  // ---- channel entries and records ----
  static constexpr std::int32_t kChEntryMarkerOffset = 513;
  static constexpr std::int32_t kChEntrySize = 26;
  static constexpr std::int32_t kChEntryInUse = 26;  // marker value of an entry in use
  static constexpr std::int32_t kChRecordOffset = 512;
  static constexpr std::int32_t kChRecordSize = 32;
  static constexpr std::int32_t kMaxChannels = 40;
  // Offsets inside a channel record.
  static constexpr std::int32_t kRecRxFreq = 4;  // 4..7, frequency field
  static constexpr std::int32_t kRecTxFreq = 8;  // 8..11, frequency field
  static constexpr std::int32_t kRecFlags = 12;
  // Bits of the flag byte and of the first byte of a frequency field.
  static constexpr std::int16_t kFlagLowPowerBit = 4;  // set = low transmit power
  static constexpr std::int16_t kFlagNarrowBit = 2;    // set = narrow channel spacing
  static constexpr std::int16_t kInhibitBit = 7;       // set = the field holds no frequency
  // Bases the controller uses before the first clone read.
  static constexpr std::int32_t kDefaultNameBase = 1362;
  static constexpr std::int32_t kDefaultChBase = 1362;
  static constexpr std::int32_t kDefaultRxBase = 1366;
  static constexpr std::int32_t kDefaultTxBase = 1370;

  // Channel names are the slot numbers 1..42 (slots 0..41).
  static constexpr std::int16_t kMaxChName = 41;
};

}  // namespace tarnset
