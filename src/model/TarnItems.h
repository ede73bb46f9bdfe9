#pragma once
// The alignment items that own a byte of the KV-Tarn image, as the console catalogue
// defines them: what a service record compares and what a restore sends back.
#include <cstdint>
#include <vector>

namespace tarnset {

struct TarnItem {
  const char* title;       // the console row's title (" Power(Hi)"), 10 characters
  std::int16_t row;        // the console row
  std::int32_t eeAdr;      // its byte of the image
  bool eeSigned;           // the byte is two's complement (the band-pass filters)
  std::int16_t e8Command;  // the E8 code that sets it live
};

// The twelve items with an image byte, in catalogue order.
const std::vector<TarnItem>& tarnEepromItems();

}  // namespace tarnset
