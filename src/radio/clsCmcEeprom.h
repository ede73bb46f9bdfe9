#pragma once
// The program's copy of the transceiver's EEPROM: a flat byte array addressed from 0.
// Single-byte and block writes check their range and answer a status (0 = done,
// 1 = refused, nothing written); single-byte and bit reads give 0 outside the range.
#include <cstdint>

#include "base/Types.h"

namespace tarnset {

class clsCmcEeprom {
 public:
  static constexpr std::int32_t kDefaultSize = 15968;

  clsCmcEeprom();

  // Re-creates the store with that many bytes, all 0.
  void setEeSize(std::int32_t size);
  std::int32_t eeSize() const;

  // The byte 0..255, or 0 when adr is outside the image.
  std::int16_t ReadByte(std::int32_t adr) const;
  std::int16_t WriteByte(std::int32_t adr, std::uint8_t data);
  // 1 when bit 'bit' (0 = least significant) of the byte is set; 0 otherwise,
  // also outside the image and for bits outside 0..7.
  std::int16_t ReadBit(std::int32_t adr, std::int16_t bit) const;
  std::int16_t FillBlock(std::int32_t adr, std::uint8_t data, std::int32_t siz);
  std::int16_t WriteBlock(std::int32_t adr, const Bytes& data);
  // The siz bytes from adr on; a range leaving the image throws std::out_of_range.
  Bytes ReadBlock(std::int32_t adr, std::int32_t siz) const;

 private:
  bool validAdr(std::int64_t adr) const;
  Bytes store_;
};

}  // namespace tarnset
