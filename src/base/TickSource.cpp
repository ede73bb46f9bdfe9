#include "base/TickSource.h"

#include <chrono>

namespace tarnset {

std::int32_t MonotonicTickSource::nowMs() const {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now().time_since_epoch())
                      .count();
  // Keep the low 32 bits, as a tick count of the system does.
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(ms));
}

}  // namespace tarnset
