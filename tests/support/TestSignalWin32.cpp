#include <windows.h>

#include <stdexcept>

#include "support/TestSignal.h"

namespace tarnset::testing {

TestSignal::TestSignal() {
  const HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (event == nullptr) throw std::runtime_error("no event for a test signal");
  read_ = reinterpret_cast<Waitable>(event);
}

TestSignal::~TestSignal() {
  CloseHandle(reinterpret_cast<HANDLE>(read_));
}

Waitable TestSignal::waitable() const {
  return read_;
}

void TestSignal::raise() {
  SetEvent(reinterpret_cast<HANDLE>(read_));
}

void TestSignal::clear() {
  ResetEvent(reinterpret_cast<HANDLE>(read_));
}

}  // namespace tarnset::testing
