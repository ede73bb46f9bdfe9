#pragma once
// The single-instance guard, held for the life of the object: an exclusive advisory lock
// on a lock file (a named mutex on Windows). The system releases it when the program
// ends in any way, so a crash never leaves the program locked out.
#include <cstdint>
#include <string>

#include "platform/AppLocations.h"

namespace tarnset {

class InstanceLock {
 public:
  enum class Result {
    Acquired,        // this instance holds the lock
    AlreadyRunning,  // another process holds it
    CouldNotCheck,   // the lock file could not be made or locked: the program goes on
  };

  // Takes the lock on lockFilePath(env).
  explicit InstanceLock(const ConfigEnv& env);
  // Takes the lock on the given file (the mutex of that name on Windows).
  explicit InstanceLock(std::string path);
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  Result result() const { return result_; }
  // True only when another process holds the lock.
  bool alreadyRunning() const { return result_ == Result::AlreadyRunning; }
  const std::string& path() const { return path_; }

  // The lock file: in $XDG_RUNTIME_DIR when it is set, else /tmp/tarnset-adj-<uid>.lock;
  // on Windows the name of the mutex, one per user session.
  static std::string lockFilePath(const ConfigEnv& env);

 private:
  void acquire();

  std::string path_;
  std::intptr_t handle_ = -1;  // the lock file's descriptor, the mutex's handle
  Result result_ = Result::CouldNotCheck;
};

}  // namespace tarnset
