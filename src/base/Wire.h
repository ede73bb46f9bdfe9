#pragma once
// The vocabulary of the cloning link, in one place for the program and the virtual radio:
// the frame bytes, the command codes, the E8 command codes of the KV-Tarn, its monitor
// channels, and the ASCII hex digits that carry every data byte.
//
// A frame on the wire: FE FE <to> <from> <command> <data ...> FD. The program writes
// FE FE EE EF ... FD; the radio answers FE FE EF EE ... FD. Data bytes of records and
// E8 values travel as two ASCII hex digits each.
#include <cstdint>

namespace tarnset::wire {

// Frame bytes.
constexpr std::uint8_t kPreamble = 0xFE;
constexpr std::uint8_t kEnd = 0xFD;
constexpr std::uint8_t kRadio = 0xEE;    // the transceiver's address
constexpr std::uint8_t kProgram = 0xEF;  // this program's address

// Commands (byte 5 of a frame on the wire).
namespace cmd {
constexpr std::uint8_t kIdentify = 0xE0;        // to the radio: model code, 00 00
constexpr std::uint8_t kIdentification = 0xE1;  // from the radio: the identification record
constexpr std::uint8_t kCloneRead = 0xE2;       // to the radio: model and sub-model codes
constexpr std::uint8_t kCloneWrite = 0xE3;      // to the radio: model and sub-model codes
constexpr std::uint8_t kRecord = 0xE4;          // both ways: one clone data record
constexpr std::uint8_t kEnd = 0xE5;             // both ways: maker text (and the record count)
constexpr std::uint8_t kWriteResult = 0xE6;     // from the radio: 00 = write accepted
constexpr std::uint8_t kE8 = 0xE8;              // both ways: an E8 command and its answer
}  // namespace cmd

// The maker text of the end frame.
constexpr char kMakerText[] = "Vorel Co.";
constexpr int kMakerTextLength = 9;

// E8 command codes of the KV-Tarn (the first command byte after the two codes).
namespace e8 {
constexpr std::uint8_t kChannel = 0x00;    // value: channel number, slot + 1
constexpr std::uint8_t kLineSpeed = 0x01;  // value kHighSpeed: the radio goes to 38400 baud
constexpr std::uint8_t kMode = 0x02;       // kAdjustMode, kCalWide, kCalNarrow
constexpr std::uint8_t kMonitor = 0x03;    // value: monitor channel; the radio answers
constexpr std::uint8_t kSquelch = 0x04;
constexpr std::uint8_t kPowerHi = 0x05;
constexpr std::uint8_t kPowerL2 = 0x06;
constexpr std::uint8_t kPowerL1 = 0x07;
constexpr std::uint8_t kModW = 0x08;
constexpr std::uint8_t kModN = 0x09;
constexpr std::uint8_t kBalance = 0x0A;
constexpr std::uint8_t kBpfT1 = 0x0C;  // T1..T4 at 0C..0F
constexpr std::uint8_t kToneLevel = 0x11;
constexpr std::uint8_t kRssiL0 = 0x12;
constexpr std::uint8_t kRssiL2 = 0x13;
constexpr std::uint8_t kTxfEntry0 = 0x14;  // TXF table entry k at 14 + k, k = 0..39
constexpr int kTxfEntries = 40;

// Values of the line speed and mode commands.
constexpr std::uint8_t kHighSpeed = 9;
constexpr std::uint8_t kAdjustMode = 1;
constexpr std::uint8_t kCalWide = 64;
constexpr std::uint8_t kCalNarrow = 128;
}  // namespace e8

// Monitor channels of the E8 monitor request.
namespace mon {
constexpr std::uint8_t kVin = 0;
constexpr std::uint8_t kTemperature = 3;
constexpr std::uint8_t kSd = 4;
constexpr std::uint8_t kLvin = 5;
constexpr std::uint8_t kCtcss = 11;
constexpr std::uint8_t kRef = 12;
constexpr std::uint8_t kModBalance = 13;
constexpr std::uint8_t kDeviation = 14;
constexpr std::uint8_t kSquelch = 15;
constexpr std::uint8_t kBpfT1 = 16;  // T1..T3 at 16..18
constexpr std::uint8_t kBpfT4 = 19;  // T4 tuning, the power control while transmitting
}  // namespace mon

// The value of one ASCII hex digit (either case), -1 for any other byte.
constexpr int hexDigitValue(std::uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

constexpr bool isHexDigit(std::uint8_t c) {
  return hexDigitValue(c) >= 0;
}

// The upper-case ASCII hex digit of a value 0..15.
constexpr std::uint8_t hexDigitChar(int v) {
  return static_cast<std::uint8_t>("0123456789ABCDEF"[v & 0x0F]);
}

}  // namespace tarnset::wire
