#include "radio/clsCmcRadio.h"

#include <algorithm>
#include <cstdio>

namespace tarnset {
namespace {

// The last 4 upper-case hex digits of the address's 32-bit two's-complement form.
std::string lowHex4(std::int32_t adr) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04X", static_cast<unsigned>(static_cast<std::uint32_t>(adr) & 0xFFFFu));
  return buf;
}

}  // namespace

void clsCmcRadio::commitRead(const clsCmcEeprom& read, std::int32_t end, const std::string& subModel) {
  const std::int32_t size = eepImage_.eeSize();
  readEnd_ = std::clamp<std::int32_t>(end, 0, std::min(size, read.eeSize()));
  eepImage_.FillBlock(0, 0, size);
  if (readEnd_ > 0) eepImage_.WriteBlock(0, read.ReadBlock(0, readEnd_));
  radionameS_ = subModel;
}

void clsCmcRadio::cloneWriteAdrList_Clear() {
  cloneWriteAdrList_.clear();
}

void clsCmcRadio::cloneWriteAdrList_Add(std::int32_t adr0, std::int32_t adr1) {
  cloneWriteAdrList_ += lowHex4(adr0) + "-" + lowHex4(adr1) + ",";
}

}  // namespace tarnset
