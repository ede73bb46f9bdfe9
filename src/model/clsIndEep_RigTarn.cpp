#include "model/clsIndEep_RigTarn.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <stdexcept>

#include "base/Checked16.h"
#include "base/NumFormat.h"
#include "base/Wire.h"
#include "model/TarnMap.h"
#include "radio/clsCmcRadio.h"

namespace tarnset {

namespace {

constexpr const char* kCrLf = "\r\n";

// Label widths of the listing: the REF block sits five columns further left.
constexpr std::size_t kLabelWidth = 30;
constexpr std::size_t kRefLabelWidth = 25;

enum class Fmt { U, S };

// One single-byte line of the listing.
struct ByteLine {
  const char* label;
  std::int32_t adr;
  Fmt fmt;
};

// Lines 1..8: console levels.
constexpr ByteLine kLevelLines[] = {
    {"                POW HI Level: ", TarnMap::kPowerHi, Fmt::U},
    {"                POW L2 Level: ", TarnMap::kPowerL2, Fmt::U},
    {"                POW L1 Level: ", TarnMap::kPowerL1, Fmt::U},
    {"               Balance Level: ", TarnMap::kBalance, Fmt::U},
    {"                 MOD W Level: ", TarnMap::kModW, Fmt::U},
    {"                 MOD N Level: ", TarnMap::kModN, Fmt::U},
    {"             CTCS/DTCS Level: ", TarnMap::kToneLevel, Fmt::U},
    {"                   SQL Level: ", TarnMap::kSquelch, Fmt::U},
};

// Lines 33..42: temperature slants and corrections.
constexpr ByteLine kSlantAndCorrectionLines[] = {
    {"        MOD Slant(Temp) Area: ", TarnMap::kModSlantTemp, Fmt::S},
    {"       Tone Slant(Temp) Area: ", TarnMap::kToneSlantTemp, Fmt::S},
    {"        SQL Slant(Temp) Area: ", TarnMap::kSqlSlantTemp, Fmt::S},
    {"        BAL Slant(Temp) Area: ", TarnMap::kBalSlantTemp, Fmt::S},
    {"       CTCSS Tone Correction: ", TarnMap::kCtcssToneCorrection, Fmt::U},
    {"        DTCS Tone Correction: ", TarnMap::kDtcsToneCorrection, Fmt::U},
    {"       LTR W Tone Correction: ", TarnMap::kLtrWToneCorrection, Fmt::U},
    {"       LTR N Tone Correction: ", TarnMap::kLtrNToneCorrection, Fmt::U},
    {"            MOD W Correction: ", TarnMap::kModWCorrection, Fmt::U},
    {"            MOD N Correction: ", TarnMap::kModNCorrection, Fmt::U},
};

// Lines 105..106: signal strength points.
constexpr ByteLine kRssiLines[] = {
    {"               RSSI L0 Level: ", TarnMap::kRssiL0, Fmt::U},
    {"               RSSI L2 Level: ", TarnMap::kRssiL2, Fmt::U},
};

// The frequency slant families of lines 13..32: label prefix (the band digit follows)
// and first byte.
struct SlantFamily {
  const char* prefix;
  std::int32_t first;
};
constexpr SlantFamily kFreqSlantFamilies[] = {
    {"MOD Slant(Freq) Band", TarnMap::kModSlantFreq},
    {"Tone Slant(Freq) Band", TarnMap::kToneSlantFreq},
    {"POW Slant(Freq) Band", TarnMap::kPowSlantFreq},
    {"BAL Slant(Freq) Band", TarnMap::kBalSlantFreq},
};

// The low 4 * width bits of v as upper-case hex digits with leading zeros.
std::string hexDigits(std::int32_t v, int width) {
  std::string s(static_cast<std::size_t>(width), '0');
  for (int i = width - 1; i >= 0; --i, v >>= 4)
    s[static_cast<std::size_t>(i)] = static_cast<char>(wire::hexDigitChar(v));
  return s;
}

// A value right-aligned in the listing's 4-character field.
std::string field4(std::int64_t v) {
  return rightAlign(decimal(v), 4);
}

// A label right-aligned to the width of its block.
std::string label(const std::string& text, std::size_t width) {
  return rightAlign(text + ": ", width);
}

}  // namespace

clsIndEep_RigTarn::clsIndEep_RigTarn(clsCmcRadio& radio, TempBorderTable tempBorder)
    : radio_(&radio), tempBorder_(std::move(tempBorder)) {
  if (!tempBorder_) throw std::invalid_argument("Memory map needs the temperature border table");
}

const clsCmcEeprom& clsIndEep_RigTarn::image() const {
  return radio_->eepImage();
}

std::int16_t clsIndEep_RigTarn::byteAt(std::int64_t adr) const {
  if (adr < std::numeric_limits<std::int32_t>::min() || adr > std::numeric_limits<std::int32_t>::max()) {
    return 0;
  }
  return image().ReadByte(static_cast<std::int32_t>(adr));
}

std::int32_t clsIndEep_RigTarn::recordAddress(std::int32_t start_address, std::int16_t chNo) {
  return add32(start_address, mul16(chNo, static_cast<std::int16_t>(TarnMap::kChRecordSize)));
}

// ---- channel memory ----

std::string clsIndEep_RigTarn::RigTarnEep_GetChName(std::int16_t chNo) const {
  if (chNo < 0 || chNo > TarnMap::kMaxChName) return {};
  return decimal(chNo + 1);
}

std::int32_t clsIndEep_RigTarn::RigTarnEep_GetChFreqTxReal(std::int32_t start_address,
                                                           std::int16_t chNo) const {
  return ReadFreqBlock(recordAddress(start_address, chNo));
}

std::int32_t clsIndEep_RigTarn::RigTarnEep_GetChFreqRxReal(std::int32_t start_address,
                                                           std::int16_t chNo) const {
  return ReadFreqBlock(recordAddress(start_address, chNo));
}

std::int16_t clsIndEep_RigTarn::RigTarnEep_GetChRFPower(std::int32_t start_address, std::int16_t chNo) const {
  const std::int64_t flags = std::int64_t{recordAddress(start_address, chNo)} + TarnMap::kRecFlags;
  return ((byteAt(flags) >> TarnMap::kFlagLowPowerBit) & 1) != 0 ? 2 : 0;
}

bool clsIndEep_RigTarn::RigTarnEep_GetChMode(std::int32_t start_address, std::int16_t chNo) const {
  const std::int64_t flags = std::int64_t{recordAddress(start_address, chNo)} + TarnMap::kRecFlags;
  return ((byteAt(flags) >> TarnMap::kFlagNarrowBit) & 1) != 0;
}

TarnChannelMap clsIndEep_RigTarn::RigTarnEep_Channels() const {
  TarnChannelMap m;
  const auto word = [this](std::int32_t adr) { return 256 * std::int32_t{byteAt(adr)} + byteAt(adr + 1); };
  m.nameBase = word(TarnMap::kChEntryPointer) + TarnMap::kChEntryMarkerOffset;
  m.chBase = word(TarnMap::kChRecordPointer) + TarnMap::kChRecordOffset;
  m.rxBase = m.chBase + TarnMap::kRecRxFreq;
  m.txBase = m.chBase + TarnMap::kRecTxFreq;
  const std::int16_t n = std::min<std::int16_t>(byteAt(TarnMap::kChSlotCount), TarnMap::kMaxChannels);
  for (std::int16_t k = 0; k < n; ++k) {
    if (byteAt(m.nameBase + std::int64_t{TarnMap::kChEntrySize} * k) == TarnMap::kChEntryInUse &&
        RigTarnEep_GetChAppear(m.rxBase, k)) {
      m.inUse.push_back(k);
    }
  }
  return m;
}

bool clsIndEep_RigTarn::RigTarnEep_GetChAppear(std::int32_t start_address, std::int16_t chNo) const {
  if (chNo < 0) return false;
  return Check_MRCH(recordAddress(start_address, chNo));
}

std::int32_t clsIndEep_RigTarn::ReadFreqBlock(std::int32_t start_address) const {
  // The inhibit mark sits in the top bit: such a field holds no frequency, and reading
  // it as a number would not fit 31 bits.
  if (Check_Inh(start_address) != 0) return 0;
  std::int32_t v = 0;
  for (std::int64_t i = 0; i < 4; ++i) v = v * 256 + byteAt(start_address + i);
  return v;
}

bool clsIndEep_RigTarn::Check_MRCH(std::int32_t adr) const {
  // An inhibited receive frequency still counts as a programmed channel.
  if (Check_Inh(adr) != 0) return true;
  return ReadFreqBlock(adr) != 0;
}

std::int16_t clsIndEep_RigTarn::Check_Inh(std::int32_t adr) const {
  return image().ReadBit(adr, TarnMap::kInhibitBit);
}

std::int64_t clsIndEep_RigTarn::ReadBaseFreqBlock() const {
  const std::int64_t w = byteAt(TarnMap::kBaseFreq) * 256 + byteAt(TarnMap::kBaseFreq + 1);
  return w * TarnMap::kBaseFreqUnitHz;
}

// ---- parameter listing ----

std::string ParameterLine::name() const {
  std::string n = label;
  const std::size_t colon = n.rfind(':');
  if (colon != std::string::npos) n.erase(colon);
  n.erase(0, n.find_first_not_of(' '));
  n.erase(n.find_last_not_of(' ') + 1);
  return n;
}

std::string ParameterLine::valueText() const {
  const std::size_t first = value.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return value.substr(first, value.find_last_not_of(' ') - first + 1);
}

std::vector<ParameterLine> clsIndEep_RigTarn::RigTarnEep_DispPara() const {
  std::vector<ParameterLine> out;
  const auto unsignedByte = [this](std::int32_t adr) { return field4(byteAt(adr)); };
  const auto signedByte = [this](std::int32_t adr) {
    const std::int16_t b = byteAt(adr);
    return field4(b > 127 ? b - 256 : b);
  };
  const auto line = [&out](const std::string& lab, const std::string& value) { out.push_back({lab, value}); };
  const auto byteLine = [&](const ByteLine& l) {
    line(l.label, l.fmt == Fmt::U ? unsignedByte(l.adr) : signedByte(l.adr));
  };

  for (const auto& l : kLevelLines) byteLine(l);
  for (std::int32_t n = 0; n < TarnMap::kBpfCount; ++n) {
    line(label("BPF T" + decimal(n + 1) + " Level", kLabelWidth), signedByte(TarnMap::kBpfT1 + n));
  }
  for (const auto& fam : kFreqSlantFamilies) {
    for (std::int32_t n = 0; n < TarnMap::kSlantBands; ++n) {
      line(label(fam.prefix + decimal(n), kLabelWidth), signedByte(fam.first + n));
    }
  }
  for (const auto& l : kSlantAndCorrectionLines) byteLine(l);

  // The base frequency in MHz in an 8-character field.
  const double mhz = static_cast<double>(ReadBaseFreqBlock()) / 1000000.0;
  line(label("Base Frequency", kLabelWidth), rightAlign(formatNumber(mhz, "###0.##0"), 8) + "MHz");

  for (std::int16_t n = 0; n <= TarnMap::kTxfSegments; ++n) {
    line(label("REF Area " + decimal(n), kRefLabelWidth), field4(tempBorder_(n)));
  }
  for (std::int32_t n = 0; n < TarnMap::kTxfSegments; ++n) {
    line(label("REF Initial " + decimal(n), kRefLabelWidth), unsignedByte(TarnMap::kTxfInitial + 2 * n));
  }
  for (std::int32_t n = 0; n < TarnMap::kTxfSegments; ++n) {
    line(label("REF Slant " + decimal(n), kRefLabelWidth), signedByte(TarnMap::kTxfSlant + 2 * n));
  }
  for (const auto& l : kRssiLines) byteLine(l);
  // A radio whose memory ends early: the listing says which part is the radio's.
  if (const std::string range = RigTarnEep_ReadRange(); !range.empty()) out.push_back({range, ""});
  return out;
}

std::string clsIndEep_RigTarn::RigTarnEep_ReadRange() const {
  const std::int32_t end = radio_->readEnd();
  if (end >= image().eeSize()) return {};
  char text[160];
  std::snprintf(
      text, sizeof text,
      "Read from the radio: %04Xh..%04Xh (its memory ends there; the image above is 0, not the radio's)", 0u,
      static_cast<unsigned>(std::max<std::int32_t>(end, 1) - 1));
  return text;
}

std::string clsIndEep_RigTarn::RigTarnEep_ParaText() const {
  std::string out;
  for (const ParameterLine& l : RigTarnEep_DispPara()) {
    out += l.text();
    out += kCrLf;
  }
  return out;
}

// ---- dump ----

void clsIndEep_RigTarn::RigTarnEep_DispDebug(std::string& strT) const {
  std::string out;
  out.reserve(static_cast<std::size_t>(TarnMap::kImageSize / 16) * 73 + 256);
  out += kCrLf;
  out += "         EEPROM Data";
  out += kCrLf;
  out += "         ";
  for (std::int16_t c = 0; c < 16; ++c) {
    out += hexDigits(c, 2);
    if (c < 15) out += "  ";
  }
  out += kCrLf;
  out += "        -----";
  for (int i = 0; i < 14; ++i) out += "----";
  out += "---";
  out += kCrLf;
  for (std::int32_t a = 0; a < TarnMap::kImageSize; ++a) {
    const std::int32_t c = a % 16;
    if (c == 0) {
      // The row number in three hex digits and a 0: the row's start address.
      out += hexDigits(a / 16, 3);
      out += "0h |  ";
    }
    out += hexDigits(byteAt(a), 2);
    out += c == 15 ? kCrLf : "  ";
  }
  strT += out;
}

}  // namespace tarnset
