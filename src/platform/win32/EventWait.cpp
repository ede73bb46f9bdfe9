#include "platform/EventWait.h"

#include <windows.h>

#include <algorithm>

namespace tarnset {

int waitForAny(const std::vector<Waitable>& what, int timeoutMs, std::vector<WaitState>& states) {
  states.assign(what.size(), WaitState::Quiet);
  const DWORD timeout = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
  if (what.empty()) {
    if (timeout != 0) Sleep(timeout);
    return 0;
  }
  std::vector<HANDLE> handles;
  handles.reserve(what.size());
  for (const Waitable w : what) handles.push_back(reinterpret_cast<HANDLE>(w));
  // The system waits on at most MAXIMUM_WAIT_OBJECTS handles at once; a program that
  // watches one port never comes near that.
  const DWORD count = static_cast<DWORD>(std::min<std::size_t>(handles.size(), MAXIMUM_WAIT_OBJECTS));
  const DWORD r = WaitForMultipleObjects(count, handles.data(), FALSE, timeout);
  if (r == WAIT_TIMEOUT) return 0;
  if (r == WAIT_FAILED) {
    // One of them is not a handle any more: find it, so that the caller drops it.
    int invalid = 0;
    for (std::size_t i = 0; i < count; ++i) {
      if (WaitForSingleObject(handles[i], 0) == WAIT_FAILED) {
        states[i] = WaitState::Invalid;
        ++invalid;
      }
    }
    return invalid;
  }
  if (r < WAIT_OBJECT_0 || r >= WAIT_OBJECT_0 + count) return 0;  // abandoned: not ours to say
  // The one the system named (an auto-reset event is reset by the wait itself), and every
  // other handle signalled now.
  const std::size_t first = r - WAIT_OBJECT_0;
  states[first] = WaitState::Ready;
  int ready = 1;
  for (std::size_t i = first + 1; i < count; ++i) {
    if (WaitForSingleObject(handles[i], 0) == WAIT_OBJECT_0) {
      states[i] = WaitState::Ready;
      ++ready;
    }
  }
  return ready;
}

}  // namespace tarnset
