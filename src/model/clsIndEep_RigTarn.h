#pragma once
// The KV-Tarn memory map: decodes channels (frequencies, inhibit marks, power, spacing),
// the base frequency, the 106-line parameter listing and a hexadecimal dump from the
// radio's current EEPROM image. It only reads; the image is fetched from the radio
// identity at every call, never copied. Addresses: model/TarnMap.h.
//
// The image comes from the radio and may hold anything; no content of it makes these
// operations throw or overflow:
// - bytes outside the image (also addresses beyond the 32-bit range) read as 0;
// - a frequency field with the inhibit mark holds no frequency: ReadFreqBlock refuses to
//   read it and gives 0 (callers test Check_Inh first);
// - the base frequency word is computed in 64 bits, so every word up to 65535 shows its
//   true value (6553.5 MHz).
// Programming errors throw std::overflow_error: a chNo whose 32-fold leaves 16 bits, or a
// record address that leaves 32 bits (addresses made from image words stay far below).
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "model/TarnView.h"

namespace tarnset {

class clsCmcRadio;
class clsCmcEeprom;

// Where the channel memory of an image lies and which of its slots hold a channel.
struct TarnChannelMap {
  std::int32_t nameBase = 0;        // marker byte of entry n at nameBase + 26 n
  std::int32_t chBase = 0;          // record n at chBase + 32 n (power, mode)
  std::int32_t rxBase = 0;          // receive field of record n at rxBase + 32 n
  std::int32_t txBase = 0;          // transmit field of record n at txBase + 32 n
  std::vector<std::int16_t> inUse;  // the slots in use, in slot order (at most 40)
};

class clsIndEep_RigTarn {
 public:
  // The controller's temperature border table (index 0..21 -> raw A/D count).
  using TempBorderTable = std::function<std::int16_t(std::int16_t)>;

  // radio: whose image is decoded; tempBorder: the controller's border table, which the
  // listing shows (it must be callable; an empty function is a programming error).
  clsIndEep_RigTarn(clsCmcRadio& radio, TempBorderTable tempBorder);

  // The channel's name: slot number + 1 as decimal text ("1" for slot 0). A slot outside
  // 0..41 has no name and gives an empty text.
  std::string RigTarnEep_GetChName(std::int16_t chNo) const;
  // Transmit frequency in Hz of channel chNo; start_address is the transmit base.
  std::int32_t RigTarnEep_GetChFreqTxReal(std::int32_t start_address, std::int16_t chNo) const;
  // Receive frequency in Hz of channel chNo; start_address is the receive base.
  std::int32_t RigTarnEep_GetChFreqRxReal(std::int32_t start_address, std::int16_t chNo) const;
  // 2 when the channel transmits with low power, otherwise 0 (start_address: record base).
  std::int16_t RigTarnEep_GetChRFPower(std::int32_t start_address, std::int16_t chNo) const;
  // True when the channel uses narrow spacing (start_address: record base).
  bool RigTarnEep_GetChMode(std::int32_t start_address, std::int16_t chNo) const;
  // True when slot chNo holds a channel (start_address: receive base); false for chNo < 0.
  bool RigTarnEep_GetChAppear(std::int32_t start_address, std::int16_t chNo) const;
  // The parameter listing to display: 106 lines, each its label and value (and a 107th,
  // the read range, for a radio whose memory ends early).
  std::vector<ParameterLine> RigTarnEep_DispPara() const;
  // A line that says which addresses the last read took from the radio when its memory
  // ended before the image's end; empty when the whole image came from the radio.
  std::string RigTarnEep_ReadRange() const;
  // The parameter listing as text: the 106 lines, each ending with CR LF.
  std::string RigTarnEep_ParaText() const;
  // The channel memory of the image: the bases from its header words, and the slots
  // below the slot count (at most 40) whose entry is marked in use and whose receive
  // field holds a channel. The list may be empty.
  TarnChannelMap RigTarnEep_Channels() const;

  // The frequency field at start_address, in Hz; 0 for an inhibited field.
  std::int32_t ReadFreqBlock(std::int32_t start_address) const;
  // True when the frequency field at adr marks a programmed channel (inhibited or non-zero).
  bool Check_MRCH(std::int32_t adr) const;
  // 1 when the field at adr carries the inhibit mark, otherwise 0.
  std::int16_t Check_Inh(std::int32_t adr) const;
  // The base frequency in Hz (64 bits: the stored word may exceed the 32-bit range).
  std::int64_t ReadBaseFreqBlock() const;
  // Appends a hexadecimal dump of the whole image to strT.
  void RigTarnEep_DispDebug(std::string& strT) const;

 private:
  const clsCmcEeprom& image() const;
  // The byte at adr; 0 outside the image, also for addresses beyond 32 bits.
  std::int16_t byteAt(std::int64_t adr) const;
  // start_address + 32 * chNo, checked.
  static std::int32_t recordAddress(std::int32_t start_address, std::int16_t chNo);

  clsCmcRadio* radio_;
  TempBorderTable tempBorder_;
};

}  // namespace tarnset
