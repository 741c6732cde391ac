#include <windows.h>

#include "app/instance_lock.h"

namespace quorvane {

namespace {

class Win32InstanceLock : public InstanceLock {
 public:
  explicit Win32InstanceLock(HANDLE file) : file_(file) {}
  ~Win32InstanceLock() override { ::CloseHandle(file_); }

 private:
  HANDLE file_;
};

}  // namespace

LockAttempt AcquireInstanceLock(const std::string& folder) {
  LockAttempt attempt;
  const std::string path = folder + "merx";
  // Share mode 0 is the lock; OPEN_ALWAYS leaves an existing file untouched.
  HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_SHARING_VIOLATION) {
      attempt.outcome = LockOutcome::kHeldByAnotherInstance;
    } else {
      attempt.error = path + ": error " + std::to_string(error);
    }
    return attempt;
  }
  attempt.outcome = LockOutcome::kAcquired;
  attempt.lock = std::make_unique<Win32InstanceLock>(file);
  return attempt;
}

}  // namespace quorvane
