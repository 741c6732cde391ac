#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "util/atomic_file.h"
#include "util/atomic_file_platform.h"
#include "util/program_folder.h"

namespace quorvane {

bool SyncFileToDisk(std::FILE* file) {
  return ::fsync(::fileno(file)) == 0;
}

namespace atomic_detail {
namespace {

// `what` and the native path it is about, shown as text.
Status Fail(const std::string& what, const std::string& native_path = {}) {
  return Status::Error(what + NativePathText(native_path), LastSystemError());
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

Status AddOwnerExecute(std::FILE* file) {
  struct stat info {};
  if (::fstat(::fileno(file), &info) == 0 && ::fchmod(::fileno(file), info.st_mode | S_IXUSR) == 0)
    return Status::Ok();
  return Fail("cannot make the file executable");
}

Status KeepModeOf(const std::string& target, std::FILE* temporary) {
  struct stat info {};
  if (::lstat(target.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return Status::Ok();
  if (::fchmod(::fileno(temporary), info.st_mode & 07777) == 0) return Status::Ok();
  return Fail("cannot keep the mode of ", target);
}

Status SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return Fail("cannot open folder ", folder);
  const bool ok = ::fsync(fd) == 0;
  const int saved = errno;
  ::close(fd);
  errno = saved;
  return ok ? Status::Ok() : Fail("cannot flush folder ", folder);
}

Status SyncPath(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Fail("cannot open ", path);
  const bool ok = ::fdatasync(fd) == 0;
  const int saved = errno;
  ::close(fd);
  errno = saved;
  return ok ? Status::Ok() : Fail("cannot flush ", path);
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

Status SyncFileSystem(int handle) {
#ifdef __linux__
  // Since Linux 5.8 syncfs also reports write-back errors seen on the file
  // system since `handle` was opened, which is before the batch wrote anything.
  if (handle >= 0 && ::syncfs(handle) == 0) return Status::Ok();
  return Fail("cannot flush the file system");
#else
  (void)handle;
  return Status::Error("cannot flush the file system", "not on this platform");
#endif
}

void CloseFileSystemHandle(int handle) {
  if (handle >= 0) ::close(handle);
}

}  // namespace atomic_detail
}  // namespace quorvane
