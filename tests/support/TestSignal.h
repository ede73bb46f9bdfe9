#pragma once
// Something an event loop can wait on that a test raises and clears by hand: a pipe on
// POSIX systems, a manual-reset event on Windows.
#include "base/Types.h"

namespace tarnset::testing {

class TestSignal {
 public:
  TestSignal();
  ~TestSignal();
  TestSignal(const TestSignal&) = delete;
  TestSignal& operator=(const TestSignal&) = delete;

  // What to watch: ready once raised, until cleared.
  Waitable waitable() const;
  void raise();
  void clear();

 private:
  Waitable read_ = kNoWaitable;
  Waitable write_ = kNoWaitable;
};

}  // namespace tarnset::testing
