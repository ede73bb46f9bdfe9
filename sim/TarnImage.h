#pragma once
// The virtual KV-Tarn's EEPROM: its memory map and the image a fresh radio carries.
//
// Memory map (byte addresses, multi-byte values big-endian):
//
//   0000..002F  identity block: serial number text, production data
//   0031..0035  MOD slant by frequency band 0..4 (signed)
//   0036..003A  tone slant by frequency band 0..4 (signed)
//   003B..003F  power slant by frequency band 0..4 (signed)
//   0040..0042  MOD / tone / SQL slant by temperature (signed)
//   0044..0047  band-pass filter T1..T4 settings (signed)
//   0048 0049   MOD W, MOD N deviation
//   004A        modulation balance          004B  balance slant by temperature (signed)
//   004C        CTCSS/DTCS tone level       004D..004F  power L1, L2, Hi
//   0050..0055  tone corrections (CTCSS, DTCS, LTR W, LTR N), MOD W / MOD N corrections
//   0056 0057   RSSI L0 / L2 points
//   005C..005D  base frequency in 100 kHz units
//   0060..0064  balance slant by frequency band 0..4 (signed)
//   00D8..00FF  transmit frequency compensation table: entry k at 00D8 + k; odd entries
//               2i+1 the value at temperature border i, even entries 2i the slope of
//               segment i in 1/32 steps per A/D count (signed)
//   0112        squelch level
//   0400..0401  W1: the 26-byte channel entries start at W1 + 512; byte 1 of an entry in use is 26
//   0403        number of channel slots
//   0404..0405  W2: the 32-byte channel records start at W2 + 512
//   record +4..+7 receive frequency, +8..+11 transmit frequency (hertz, bit 31 = inhibit),
//   record +12 flags: bit 4 low power, bit 2 narrow spacing
//   3E5F        last byte of the image
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace kvsim {

using Bytes = std::vector<std::uint8_t>;

namespace eep {

constexpr int kImageSize = 15968;  // 0000..3E5F
constexpr int kLastAddress = kImageSize - 1;

constexpr int kModSlantFreq = 49;   // 5 signed bytes
constexpr int kToneSlantFreq = 54;  // 5 signed bytes
constexpr int kPowSlantFreq = 59;   // 5 signed bytes
constexpr int kModSlantTemp = 64;
constexpr int kToneSlantTemp = 65;
constexpr int kSqlSlantTemp = 66;
constexpr int kBpfT1 = 68;  // T1..T4 at 68..71, signed
constexpr int kModW = 72;
constexpr int kModN = 73;
constexpr int kBalance = 74;
constexpr int kBalSlantTemp = 75;
constexpr int kTone = 76;
constexpr int kPowerL1 = 77;
constexpr int kPowerL2 = 78;
constexpr int kPowerHi = 79;
constexpr int kCtcssCorrection = 80;
constexpr int kDtcsCorrection = 81;
constexpr int kLtrWCorrection = 82;
constexpr int kLtrNCorrection = 83;
constexpr int kModWCorrection = 84;
constexpr int kModNCorrection = 85;
constexpr int kRssiL0 = 86;
constexpr int kRssiL2 = 87;
constexpr int kBaseFrequency = 92;  // word, 100 kHz units
constexpr int kBalSlantFreq = 96;   // 5 signed bytes
constexpr int kTxfTable = 216;      // 40 entries, 216..255
constexpr int kTxfEntries = 40;
constexpr int kSquelch = 274;

constexpr int kEntryWordW1 = 1024;  // word
constexpr int kSlotCount = 1027;
constexpr int kRecordWordW2 = 1028;  // word
constexpr int kEntryOffset = 512;    // entries at W1 + 512 + 26 n
constexpr int kEntrySize = 26;
constexpr int kEntryMarkOffset = 1;  // this byte of an entry in use holds 26
constexpr int kRecordOffset = 512;   // records at W2 + 512 + 32 n
constexpr int kRecordSize = 32;
constexpr int kRecordRx = 4;
constexpr int kRecordTx = 8;
constexpr int kRecordFlags = 12;
constexpr std::uint8_t kFlagLowPower = 0x10;
constexpr std::uint8_t kFlagNarrow = 0x04;
constexpr std::uint32_t kInhibitMark = 0x80000000u;

// The address the E8 command code writes its value to (adjustment items, RSSI points and
// compensation entries), or nullopt for codes that store nothing.
std::optional<int> addressOfE8Code(int code);
// Whether the byte at the address holds a signed value.
bool isSignedAddress(int address);

}  // namespace eep

// One channel slot as the radio decodes it.
struct ChannelInfo {
  bool inUse = false;                 // entry mark set and the receive field programmed or inhibited
  std::optional<std::uint32_t> rxHz;  // nullopt: inhibited or empty
  std::optional<std::uint32_t> txHz;  // nullopt: inhibited or empty
  bool narrow = false;
  bool lowPower = false;
};

// Reads and writes of the image's fields; addresses outside the image read as 0 and are
// not written.
std::uint8_t readByte(const Bytes& image, int address);
std::uint16_t readWord(const Bytes& image, int address);
std::uint32_t readLong(const Bytes& image, int address);
void writeByte(Bytes& image, int address, std::uint8_t value);
void writeWord(Bytes& image, int address, std::uint16_t value);
void writeLong(Bytes& image, int address, std::uint32_t value);

// Number of channel slots the image declares (at most 40 are decoded).
int slotCount(const Bytes& image);
// Decodes channel slot n (0-based).
ChannelInfo channel(const Bytes& image, int slot);
// Address of the 32-byte record of slot n.
int recordAddress(const Bytes& image, int slot);

// The temperature borders (raw counts of the thermistor reading) that split the
// compensation table into 20 segments.
constexpr std::array<int, 21> kTempBorder = {0,   16,  24,  32,  40,  48,  64,  80,  96,  112, 128,
                                             144, 160, 176, 192, 208, 216, 224, 232, 240, 255};
// Segment of a raw temperature reading: the first i with raw < border(i + 1), else 19.
int tempSegment(int raw);

// The image of a radio as it leaves the factory, with a dozen channels programmed.
Bytes defaultImage();

}  // namespace kvsim
