#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstring>

#include "app/instance_lock.h"
#include "util/codec.h"

namespace quorvane {

namespace {

class PosixInstanceLock : public InstanceLock {
 public:
  explicit PosixInstanceLock(int fd) : fd_(fd) {}
  ~PosixInstanceLock() override { ::close(fd_); }

 private:
  int fd_;
};

}  // namespace

LockAttempt AcquireInstanceLock(const std::string& folder) {
  LockAttempt attempt;
  const std::string path = folder + "merx";
  // No O_TRUNC: a file that is there stays as it is. O_NOFOLLOW: a link planted
  // in its place would have the lock create or open a file elsewhere. O_CLOEXEC:
  // an updater started while the lock is held must not inherit it.
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) {
    attempt.error = Utf8ToCp1252(path + ": " + std::strerror(errno));
    return attempt;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    ::close(fd);
    if (error == EWOULDBLOCK) {
      attempt.outcome = LockOutcome::kHeldByAnotherInstance;
    } else {
      attempt.error = Utf8ToCp1252(path + ": " + std::strerror(error));
    }
    return attempt;
  }
  attempt.outcome = LockOutcome::kAcquired;
  attempt.lock = std::make_unique<PosixInstanceLock>(fd);
  return attempt;
}

}  // namespace quorvane
