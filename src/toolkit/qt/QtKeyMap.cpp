#include "toolkit/qt/QtKeyMap.h"

#include <array>
#include <utility>

#include "toolkit/Toolkit.h"
#include "toolkit/core/KeyCodes.h"

namespace tarnset::qtk {

namespace {

namespace K = tk::Key;

// Keys whose code does not depend on the keypad modifier.
constexpr std::array<std::pair<int, std::int16_t>, 19> kPlainKeys{{
    {Qt::Key_Backspace, K::Backspace},
    {Qt::Key_Tab, K::Tab},
    {Qt::Key_Backtab, K::Tab},  // Shift+Tab; the shift bit tells them apart
    {Qt::Key_Clear, 12},
    {Qt::Key_Return, K::Enter},
    {Qt::Key_Enter, K::Enter},  // the keypad's Enter
    {Qt::Key_Pause, 19},
    {Qt::Key_Escape, K::Escape},
    {Qt::Key_Space, K::Space},
    {Qt::Key_PageUp, K::PageUp},
    {Qt::Key_PageDown, K::PageDown},
    {Qt::Key_End, K::End},
    {Qt::Key_Home, K::Home},
    {Qt::Key_Left, K::Left},
    {Qt::Key_Up, K::Up},
    {Qt::Key_Right, K::Right},
    {Qt::Key_Down, K::Down},
    {Qt::Key_Insert, K::Insert},
    {Qt::Key_Delete, K::Delete},
}};

// Keypad keys that have codes of their own.
constexpr std::array<std::pair<int, std::int16_t>, 6> kKeypadKeys{{
    {Qt::Key_Asterisk, 106},
    {Qt::Key_Plus, 107},
    {Qt::Key_Comma, K::Separator},
    {Qt::Key_Minus, 109},
    {Qt::Key_Period, 110},
    {Qt::Key_Slash, 111},
}};

// Qt numbers digits, letters and F keys in runs; the keypad's digits are the digits with
// the keypad modifier.
constexpr tk::NativeRuns kRuns{Qt::Key_0, Qt::Key_A, -1, Qt::Key_F1};
constexpr tk::NativeRuns kKeypadRuns{-1, -1, Qt::Key_0, -1};

}  // namespace

std::optional<std::int16_t> keyCodeFor(int qtKey, Qt::KeyboardModifiers modifiers) {
  const bool keypad = modifiers.testFlag(Qt::KeypadModifier);
  if (keypad) {
    for (const auto& [key, code] : kKeypadKeys) {
      if (key == qtKey) return code;
    }
    if (const auto code = tk::codeInRuns(qtKey, kKeypadRuns)) return code;
  }
  for (const auto& [key, code] : kPlainKeys) {
    if (key == qtKey) return code;
  }
  return tk::codeInRuns(qtKey, kRuns);
}

std::int16_t shiftStateFor(Qt::KeyboardModifiers modifiers) {
  std::int16_t s = 0;
  if (modifiers.testFlag(Qt::ShiftModifier)) s |= tk::kShiftBit;
  if (modifiers.testFlag(Qt::ControlModifier)) s |= tk::kCtrlBit;
  if (modifiers.testFlag(Qt::AltModifier)) s |= tk::kAltBit;
  return s;
}

}  // namespace tarnset::qtk
