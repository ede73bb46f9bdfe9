#include <cstdlib>
#include <ctime>

#include "support/TimeZone.h"

namespace tarnset::testing {

ScopedTimeZone::ScopedTimeZone(const std::string& tz) {
  if (const char* old = std::getenv("TZ")) old_ = old;
  _putenv_s("TZ", tz.c_str());
  _tzset();
}

ScopedTimeZone::~ScopedTimeZone() {
  _putenv_s("TZ", old_ ? old_->c_str() : "");
  _tzset();
}

}  // namespace tarnset::testing
