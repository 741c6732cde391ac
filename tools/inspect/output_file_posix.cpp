#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "inspect/inspect.h"
#include "inspect/output_file.h"

namespace quorvane::inspect {

namespace {

[[noreturn]] void FailWrite(const std::string& path, const std::string& reason) {
  throw InspectError("Cannot write " + path + ": " + reason);
}

std::string FolderOf(const std::string& path) {
  const std::string folder = std::filesystem::path(path).parent_path().string();
  return folder.empty() ? "." : folder;
}

mode_t NewFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

// Writeback of what is written is started every this many bytes, so the disk
// works while the rest is copied and the closing fsync waits only for the tail.
constexpr std::size_t kWritebackStep = std::size_t{16} << 20;

bool WriteAll(int fd, std::string_view bytes, off_t& offset) {
  while (!bytes.empty()) {
    const std::size_t now = std::min(bytes.size(), kWritebackStep);
    const ssize_t n = ::write(fd, bytes.data(), now);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
#if defined(__linux__)
    ::sync_file_range(fd, offset, n, SYNC_FILE_RANGE_WRITE);
#endif
    offset += n;
  }
  return true;
}

// The file a path names once symbolic links are followed, as cp follows them: a
// link is written through, not replaced by a regular file. A loop of links
// stops after 40 hops, as the system's own lookups do.
std::string FollowLinks(const std::string& path) {
  std::filesystem::path current = path;
  for (int hop = 0; hop < 40; ++hop) {
    std::error_code error;
    if (!std::filesystem::is_symlink(std::filesystem::symlink_status(current, error))) break;
    const std::filesystem::path target = std::filesystem::read_symlink(current, error);
    if (error) break;
    current = target.is_absolute() ? target : current.parent_path() / target;
  }
  return current.string();
}

}  // namespace

const std::string& CheckOutputPath(const std::string& path) {
  if (path.empty()) FailWrite("''", "no file name");
  if (path.back() == '/') FailWrite(path, "it names a folder");
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) FailWrite(path, "it is a folder");
  const std::string folder = FolderOf(path);
  if (::stat(folder.c_str(), &info) != 0) {
    if (errno == ENOENT) FailWrite(path, "the folder " + folder + " does not exist");
    FailWrite(path, folder + ": " + std::strerror(errno));
  }
  if (!S_ISDIR(info.st_mode)) FailWrite(path, folder + " is not a folder");
  return path;
}

void WriteOutputFile(const std::string& named, std::initializer_list<std::string_view> pieces) {
  const std::string path = FollowLinks(named);
  CheckOutputPath(path);
  mode_t mode = NewFileMode();
  struct stat old {};
  if (::stat(path.c_str(), &old) == 0) mode = old.st_mode & 07777;

  std::string temporary = path + ".XXXXXX";
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) FailWrite(path, std::strerror(errno));
  int error = 0;
  if (::fchmod(fd, mode) != 0) error = errno;
  off_t offset = 0;
  for (std::string_view piece : pieces) {
    if (error == 0 && !WriteAll(fd, piece, offset)) error = errno;
  }
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) error = errno;
  if (error != 0) {
    ::unlink(temporary.c_str());
    FailWrite(path, std::strerror(error));
  }
}

}  // namespace quorvane::inspect
