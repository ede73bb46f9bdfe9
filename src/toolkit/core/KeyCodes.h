#pragma once
// What the adapters' key maps share: the runs of keys whose codes follow each other (the
// digits, the letters, the keypad's digits, F1..F12), found in a system's own run of keys.
#include <cstdint>
#include <optional>

#include "toolkit/Toolkit.h"

namespace tarnset::tk {

// A run of keys as a system numbers them: the native value of its first key.
struct NativeRuns {
  long long digit0;
  long long letterA;
  long long numpad0;  // -1: the system tells the keypad's digits otherwise
  long long f1;
};

// The logic's code of a native key that lies in one of the runs; nothing otherwise.
constexpr std::optional<std::int16_t> codeInRuns(long long native, const NativeRuns& runs) {
  struct Run {
    long long first;
    int count;
    std::int16_t firstCode;
  };
  const Run all[] = {{runs.digit0, 10, Key::Digit0},
                     {runs.letterA, 26, Key::LetterA},
                     {runs.numpad0, 10, Key::Numpad0},
                     {runs.f1, 12, Key::F1}};
  for (const Run& r : all) {
    if (r.first >= 0 && native >= r.first && native < r.first + r.count) {
      return static_cast<std::int16_t>(r.firstCode + (native - r.first));
    }
  }
  return std::nullopt;
}

}  // namespace tarnset::tk
