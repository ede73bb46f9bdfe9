#pragma once
// The local time of the machine, safely from any thread.
#include <ctime>

namespace tarnset {

// Breaks t down into the local time (the time zone as it is set now); false when the
// system cannot (a time outside its calendar).
bool localTime(std::time_t t, std::tm& out);

}  // namespace tarnset
