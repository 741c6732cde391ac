#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "util/atomic_file.h"
#include "util/atomic_file_platform.h"

namespace quorvane {

bool SyncFileToDisk(std::FILE* file) {
  return ::_commit(::_fileno(file)) == 0;
}

namespace atomic_detail {

std::string LastSystemError() {
  const DWORD code = ::GetLastError();
  char text[256] = {};
  const DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, text, sizeof text, nullptr);
  std::string result(text, length);
  while (!result.empty() &&
         (result.back() == '\n' || result.back() == '\r' || result.back() == ' '))
    result.pop_back();
  return result.empty() ? "error " + std::to_string(code) : result;
}

std::FILE* CreateNewFile(const std::string& path) {
  const HANDLE handle = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    ::CloseHandle(handle);
    return nullptr;
  }
  std::FILE* file = ::_fdopen(fd, "wb");
  if (file == nullptr) ::_close(fd);
  return file;
}

Status AddOwnerExecute(std::FILE*) {
  return Status::Ok();  // a program is known by its name here
}

Status KeepModeOf(const std::string&, std::FILE*) {
  return Status::Ok();  // attributes are not carried by the content's file here
}

Status SyncFolder(const std::string&) {
  return Status::Ok();  // NTFS journals the rename itself
}

Status SyncPath(const std::string& path) {
  const HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Status::Error("cannot open " + path, LastSystemError());
  const Status status = ::FlushFileBuffers(file) != 0
                            ? Status::Ok()
                            : Status::Error("cannot flush " + path, LastSystemError());
  ::CloseHandle(file);
  return status;
}

int OpenFileSystemHandle(const std::string&, unsigned long long*) {
  return -1;
}

Status SyncFileSystem(int) {
  return Status::Error("cannot flush the file system", "not on this platform");
}

void CloseFileSystemHandle(int) {}

}  // namespace atomic_detail
}  // namespace quorvane
