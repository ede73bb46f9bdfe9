#pragma once
// Sets the process's time zone from a TZ text ("XXX-2": two hours ahead of UTC, no summer
// time) while the object lives, and puts the old one back afterwards.
#include <optional>
#include <string>

namespace tarnset::testing {

class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const std::string& tz);
  ~ScopedTimeZone();
  ScopedTimeZone(const ScopedTimeZone&) = delete;
  ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

 private:
  std::optional<std::string> old_;
};

}  // namespace tarnset::testing
