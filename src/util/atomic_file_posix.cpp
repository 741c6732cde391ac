#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "util/atomic_file.h"
#include "util/atomic_file_platform.h"

namespace quorvane {

bool SyncFileToDisk(std::FILE* file) {
  return ::fsync(::fileno(file)) == 0;
}

namespace atomic_detail {
namespace {

bool Fail(std::string* reason, const std::string& what) {
  if (reason != nullptr) *reason = what + ": " + LastSystemError();
  return false;
}

}  // namespace

std::string LastSystemError() {
  return std::strerror(errno);
}

std::FILE* CreateNewFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  std::FILE* file = ::fdopen(fd, "wb");
  if (file == nullptr) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
  }
  return file;
}

bool AddOwnerExecute(std::FILE* file, std::string* reason) {
  struct stat info {};
  if (::fstat(::fileno(file), &info) == 0 && ::fchmod(::fileno(file), info.st_mode | S_IXUSR) == 0)
    return true;
  return Fail(reason, "cannot make the file executable");
}

bool KeepModeOf(const std::string& target, std::FILE* temporary, std::string* reason) {
  struct stat info {};
  if (::lstat(target.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return true;
  if (::fchmod(::fileno(temporary), info.st_mode & 07777) == 0) return true;
  return Fail(reason, "cannot keep the mode of " + target);
}

bool SyncFolder(const std::string& folder, std::string* reason) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return Fail(reason, "cannot open folder " + folder);
  const bool ok = ::fsync(fd) == 0;
  const int saved = errno;
  ::close(fd);
  errno = saved;
  return ok || Fail(reason, "cannot flush folder " + folder);
}

bool SyncPath(const std::string& path, std::string* reason) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Fail(reason, "cannot open " + path);
  const bool ok = ::fdatasync(fd) == 0;
  const int saved = errno;
  ::close(fd);
  errno = saved;
  return ok || Fail(reason, "cannot flush " + path);
}

int OpenFileSystemHandle(const std::string& folder, unsigned long long* device) {
#ifdef __linux__
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    ::close(fd);
    return -1;
  }
  *device = static_cast<unsigned long long>(info.st_dev);
  return fd;
#else
  (void)folder;
  (void)device;
  return -1;
#endif
}

bool SyncFileSystem(int handle, std::string* reason) {
#ifdef __linux__
  // Since Linux 5.8 syncfs also reports write-back errors seen on the file
  // system since `handle` was opened, which is before the batch wrote anything.
  if (handle >= 0 && ::syncfs(handle) == 0) return true;
  return Fail(reason, "cannot flush the file system");
#else
  (void)handle;
  if (reason != nullptr) *reason = "no file system flush on this platform";
  return false;
#endif
}

void CloseFileSystemHandle(int handle) {
  if (handle >= 0) ::close(handle);
}

}  // namespace atomic_detail
}  // namespace quorvane
