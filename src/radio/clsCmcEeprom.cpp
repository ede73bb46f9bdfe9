#include "radio/clsCmcEeprom.h"

#include <algorithm>
#include <stdexcept>

#include "base/Checked16.h"

namespace tarnset {

clsCmcEeprom::clsCmcEeprom() : store_(kDefaultSize, 0) {}

void clsCmcEeprom::setEeSize(std::int32_t size) {
  if (size < 0) throw std::out_of_range("EEPROM size below 0");
  store_.assign(static_cast<std::size_t>(size), 0);
}

std::int32_t clsCmcEeprom::eeSize() const {
  return static_cast<std::int32_t>(store_.size());
}

bool clsCmcEeprom::validAdr(std::int64_t adr) const {
  return adr >= 0 && adr < static_cast<std::int64_t>(store_.size());
}

std::int16_t clsCmcEeprom::ReadByte(std::int32_t adr) const {
  if (!validAdr(adr)) return 0;
  return store_[static_cast<std::size_t>(adr)];
}

std::int16_t clsCmcEeprom::WriteByte(std::int32_t adr, std::uint8_t data) {
  if (!validAdr(adr)) return 1;
  store_[static_cast<std::size_t>(adr)] = data;
  return 0;
}

std::int16_t clsCmcEeprom::ReadBit(std::int32_t adr, std::int16_t bit) const {
  if (!validAdr(adr)) return 0;
  // Only the low 8 bits of the mask meet the byte, so bits outside 0..7 are never set.
  if (bit < 0 || bit > 7) return 0;
  const unsigned mask = 1u << bit;
  return (store_[static_cast<std::size_t>(adr)] & mask) != 0 ? 1 : 0;
}

std::int16_t clsCmcEeprom::FillBlock(std::int32_t adr, std::uint8_t data, std::int32_t siz) {
  const std::int64_t last = std::int64_t{adr} + siz - 1;
  // An empty block at address 0 is refused: its last address, -1, is not valid.
  if (!validAdr(adr) || !validAdr(last)) return 1;
  if (siz <= 0) return 0;
  // The block is counted with a 16-bit index: a longer block is a programming error.
  narrow16(std::int64_t{siz} - 1);
  std::fill_n(store_.begin() + adr, siz, data);
  return 0;
}

std::int16_t clsCmcEeprom::WriteBlock(std::int32_t adr, const Bytes& data) {
  const std::int64_t n = static_cast<std::int64_t>(data.size());
  if (!validAdr(adr) || !validAdr(adr + n - 1)) return 1;
  if (n == 0) return 0;
  narrow16(n - 1);
  std::copy(data.begin(), data.end(), store_.begin() + adr);
  return 0;
}

Bytes clsCmcEeprom::ReadBlock(std::int32_t adr, std::int32_t siz) const {
  if (siz <= 0) return {};
  if (adr < 0 || std::int64_t{adr} + siz > static_cast<std::int64_t>(store_.size())) {
    throw std::out_of_range("EEPROM block read outside the image");
  }
  return Bytes(store_.begin() + adr, store_.begin() + adr + siz);
}

}  // namespace tarnset
