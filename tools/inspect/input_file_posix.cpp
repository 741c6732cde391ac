#include <errno.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "inspect/input_file.h"
#include "inspect/inspect.h"

namespace quorvane::inspect {

namespace {

[[noreturn]] void FailRead(const std::string& path, const std::string& reason) {
  throw InspectError("Cannot read " + path + ": " + reason);
}

}  // namespace

InputFile::InputFile(const std::string& path) : path_(path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) FailRead(path, std::strerror(errno));
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    const int error = errno;
    ::close(fd);
    FailRead(path, std::strerror(error));
  }
  if (S_ISDIR(info.st_mode)) {
    ::close(fd);
    FailRead(path, "it is a folder");
  }
  if (!S_ISREG(info.st_mode)) {
    ::close(fd);
    FailRead(path, "not a regular file");
  }
  size_ = static_cast<std::size_t>(info.st_size);
  if (size_ > 0) {
    data_ = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
    if (data_ == MAP_FAILED) {
      const int error = errno;
      data_ = nullptr;
      size_ = 0;
      ::close(fd);
      FailRead(path, std::strerror(error));
    }
    // Valid files are read front to back, once.
    ::madvise(data_, size_, MADV_SEQUENTIAL);
  }
  ::close(fd);  // the mapping keeps the file open
}

InputFile::~InputFile() {
  Release();
}

void InputFile::Release() {
  if (data_ != nullptr) ::munmap(data_, size_);
  data_ = nullptr;
  size_ = 0;
}

}  // namespace quorvane::inspect
