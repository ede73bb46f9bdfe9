#include "platform/InstanceLock.h"

#include <windows.h>

#include "platform/win32/Text.h"

namespace tarnset {

InstanceLock::InstanceLock(const ConfigEnv& env) : InstanceLock(lockFilePath(env)) {}

InstanceLock::InstanceLock(std::string path) : path_(std::move(path)) {
  acquire();
}

InstanceLock::~InstanceLock() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

std::string InstanceLock::lockFilePath(const ConfigEnv& /*env*/) {
  // "Local\": one per user session, as the lock file in the user's runtime folder is.
  return "Local\\TarnsetADJ-single-instance";
}

void InstanceLock::acquire() {
  const HANDLE h = CreateMutexW(nullptr, FALSE, win32::widen(path_).c_str());
  if (h == nullptr) {
    // Another kind of object of that name, or no right to it: the program goes on.
    result_ = Result::CouldNotCheck;
    return;
  }
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(h);
    result_ = Result::AlreadyRunning;
    return;
  }
  // The mutex lives as long as a handle to it: the system closes ours when the program
  // ends in any way.
  handle_ = reinterpret_cast<std::intptr_t>(h);
  result_ = Result::Acquired;
}

}  // namespace tarnset
