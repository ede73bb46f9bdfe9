#include "platform/WakeSignal.h"

#include <windows.h>

namespace tarnset {

WakeSignal::WakeSignal() {
  HANDLE h = CreateEventW(nullptr, TRUE, FALSE, nullptr);  // manual reset: stays ready until cleared
  if (h != nullptr) read_ = reinterpret_cast<std::intptr_t>(h);
}

WakeSignal::~WakeSignal() {
  if (read_ != -1) CloseHandle(reinterpret_cast<HANDLE>(read_));
}

void WakeSignal::raise() {
  if (read_ != -1) SetEvent(reinterpret_cast<HANDLE>(read_));
}

void WakeSignal::clear() {
  if (read_ != -1) ResetEvent(reinterpret_cast<HANDLE>(read_));
}

Waitable WakeSignal::waitable() const {
  return read_ != -1 ? static_cast<Waitable>(read_) : kNoWaitable;
}

}  // namespace tarnset
