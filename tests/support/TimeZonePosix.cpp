#include <cstdlib>
#include <ctime>

#include "support/TimeZone.h"

namespace tarnset::testing {

ScopedTimeZone::ScopedTimeZone(const std::string& tz) {
  if (const char* old = std::getenv("TZ")) old_ = old;
  ::setenv("TZ", tz.c_str(), 1);
  ::tzset();
}

ScopedTimeZone::~ScopedTimeZone() {
  if (old_) {
    ::setenv("TZ", old_->c_str(), 1);
  } else {
    ::unsetenv("TZ");
  }
  ::tzset();
}

}  // namespace tarnset::testing
