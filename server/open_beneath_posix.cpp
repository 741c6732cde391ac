#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#include "open_beneath.h"

namespace quorvane::server {

int OpenFolderForBeneath(const std::filesystem::path& folder) {
  return ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

int OpenBeneath(int root, const std::filesystem::path& relative) {
  if (relative.empty() || relative.is_absolute()) {
    errno = EINVAL;
    return -1;
  }
  open_how how{};
  how.flags = O_RDONLY | O_NOFOLLOW | O_CLOEXEC;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  const long fd = ::syscall(SYS_openat2, root, relative.c_str(), &how, sizeof how);
  if (fd >= 0 || errno != ENOSYS) return static_cast<int>(fd);

  // Kernels before 5.6: each folder opened beneath the previous one, refusing links.
  int folder = ::fcntl(root, F_DUPFD_CLOEXEC, 0);
  std::filesystem::path name;
  for (auto part = relative.begin(); folder >= 0 && part != relative.end(); ++part) {
    if (*part == ".." || *part == "." || part->empty()) {
      ::close(folder);
      errno = EINVAL;
      return -1;
    }
    if (std::next(part) == relative.end()) {
      name = *part;
      break;
    }
    const int next = ::openat(folder, part->c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    ::close(folder);
    folder = next;
  }
  if (folder < 0) return -1;
  const int file = ::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  const int saved = errno;
  ::close(folder);
  errno = saved;
  return file;
}

}  // namespace quorvane::server
