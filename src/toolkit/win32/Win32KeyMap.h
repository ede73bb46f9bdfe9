#pragma once
// Translation of Windows virtual keys into the key codes and shift state that the logic
// uses. The table is explicit so that the codes never rest on the native values merely
// happening to agree.
#include <cstdint>
#include <optional>

namespace tarnset::w32 {

// The logic's key code for a virtual key; nothing for keys without a code (among them
// bare modifier presses), which then reach the controls untouched. The keypad's Enter
// is VK_RETURN like the main Enter key and gives the same code.
std::optional<std::int16_t> keyCodeFor(unsigned virtualKey);

// Shift state: bit 0 Shift, bit 1 Ctrl, bit 2 Alt.
std::int16_t shiftStateFor(bool shift, bool ctrl, bool alt);

}  // namespace tarnset::w32
