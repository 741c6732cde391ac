// The single-instance lock: the file "merx" in the program folder, opened
// without truncation and locked exclusively without waiting. The lock lasts
// as long as the InstanceLock object; the file is never deleted. Main thread.
#pragma once

#include <memory>
#include <string>

namespace quorvane {

class InstanceLock {
 public:
  virtual ~InstanceLock() = default;  // closing the file releases the lock
};

enum class LockOutcome {
  kAcquired,
  kHeldByAnotherInstance,  // the only case that ends the program silently
  kFailed,                 // the file could not be opened or locked
};

struct LockAttempt {
  LockOutcome outcome = LockOutcome::kFailed;
  std::unique_ptr<InstanceLock> lock;  // set when acquired
  std::string error;                   // path and the system's reason when kFailed
};

// folder ends with its separator; the lock file is folder + "merx".
LockAttempt AcquireInstanceLock(const std::string& folder);

inline void ReleaseInstanceLock(std::unique_ptr<InstanceLock>& lock) {
  lock.reset();
}

}  // namespace quorvane
