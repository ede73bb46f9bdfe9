#pragma once
// Translation of Qt keys into the key codes and shift state that the logic uses. The
// table is explicit so that the codes never depend on the platform's native key codes.
#include <QKeyEvent>
#include <cstdint>
#include <optional>

namespace tarnset::qtk {

// The logic's key code for a Qt key; nothing for keys without a code (among them bare
// modifier presses), which then reach the widgets untouched.
std::optional<std::int16_t> keyCodeFor(int qtKey, Qt::KeyboardModifiers modifiers);

// Shift state: bit 0 Shift, bit 1 Ctrl, bit 2 Alt.
std::int16_t shiftStateFor(Qt::KeyboardModifiers modifiers);

}  // namespace tarnset::qtk
