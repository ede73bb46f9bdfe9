#include "radio/clsCmcRadio.h"

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

void clsCmcRadio::cloneWriteAdrList_Clear() {
  cloneWriteAdrList_.clear();
}

void clsCmcRadio::cloneWriteAdrList_Add(std::int32_t adr0, std::int32_t adr1) {
  cloneWriteAdrList_ += lowHex4(adr0) + "-" + lowHex4(adr1) + ",";
}

}  // namespace tarnset
