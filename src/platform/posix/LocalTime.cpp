#include "platform/LocalTime.h"

namespace tarnset {

bool localTime(std::time_t t, std::tm& out) {
  // localtime_r need not read a time zone that changed since the program started.
  ::tzset();
  return ::localtime_r(&t, &out) != nullptr;
}

}  // namespace tarnset
