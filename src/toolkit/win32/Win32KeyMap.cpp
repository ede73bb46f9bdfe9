#include "toolkit/win32/Win32KeyMap.h"

#include <array>
#include <utility>

#include "toolkit/Toolkit.h"
#include "toolkit/core/KeyCodes.h"

namespace tarnset::w32 {

namespace {

namespace K = tk::Key;

// Virtual key values (winuser.h), spelled out so that this file needs no system header.
namespace Vk {
constexpr unsigned Back = 0x08, Tab = 0x09, Clear = 0x0C, Return = 0x0D, Pause = 0x13, Escape = 0x1B;
constexpr unsigned Space = 0x20, Prior = 0x21, Next = 0x22, End = 0x23, Home = 0x24;
constexpr unsigned Left = 0x25, Up = 0x26, Right = 0x27, Down = 0x28, Insert = 0x2D, Delete = 0x2E;
constexpr unsigned Digit0 = 0x30, LetterA = 0x41, Numpad0 = 0x60;
constexpr unsigned Multiply = 0x6A, Add = 0x6B, Separator = 0x6C, Subtract = 0x6D, Decimal = 0x6E,
                   Divide = 0x6F;
constexpr unsigned F1 = 0x70;
}  // namespace Vk

constexpr std::array<std::pair<unsigned, std::int16_t>, 23> kKeys{{
    {Vk::Back, K::Backspace}, {Vk::Tab, K::Tab},       // Shift+Tab too; the shift bit tells them apart
    {Vk::Clear, 12},          {Vk::Return, K::Enter},  // also the keypad's Enter
    {Vk::Pause, 19},          {Vk::Escape, K::Escape}, {Vk::Space, K::Space}, {Vk::Prior, K::PageUp},
    {Vk::Next, K::PageDown},  {Vk::End, K::End},       {Vk::Home, K::Home},   {Vk::Left, K::Left},
    {Vk::Up, K::Up},          {Vk::Right, K::Right},   {Vk::Down, K::Down},   {Vk::Insert, K::Insert},
    {Vk::Delete, K::Delete},  {Vk::Multiply, 106},     {Vk::Add, 107},        {Vk::Separator, K::Separator},
    {Vk::Subtract, 109},      {Vk::Decimal, 110},      {Vk::Divide, 111},
}};

constexpr tk::NativeRuns kRuns{Vk::Digit0, Vk::LetterA, Vk::Numpad0, Vk::F1};

}  // namespace

std::optional<std::int16_t> keyCodeFor(unsigned virtualKey) {
  for (const auto& [key, code] : kKeys) {
    if (key == virtualKey) return code;
  }
  return tk::codeInRuns(virtualKey, kRuns);
}

std::int16_t shiftStateFor(bool shift, bool ctrl, bool alt) {
  std::int16_t s = 0;
  if (shift) s |= tk::kShiftBit;
  if (ctrl) s |= tk::kCtrlBit;
  if (alt) s |= tk::kAltBit;
  return s;
}

}  // namespace tarnset::w32
