#include <unistd.h>

#include <cerrno>
#include <vector>

#include "util/codec.h"
#include "util/program_folder_backend.h"
#include "util/text.h"

namespace quorvane::platform {

std::string ExecutableFolder() {
  std::vector<char> buffer(4096);
  for (;;) {
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return "./";  // no /proc: the current folder is the best guess left
    if (static_cast<std::size_t>(length) < buffer.size()) {
      std::string path(buffer.data(), static_cast<std::size_t>(length));
      return path.substr(0, path.rfind('/') + 1);
    }
    buffer.resize(buffer.size() * 2);
  }
}

char PathSeparator() {
  return '/';
}

bool IsAbsolutePath(std::string_view name) {
  return !name.empty() && name.front() == '/';
}

// POSIX file names are UTF-8; names in memory are Windows-1252.
std::string NativeRelativePath(std::string_view relative) {
  return Cp1252ToUtf8(LowerCase(NativeSeparators(relative)));
}

std::string NameFromNative(std::string_view native_name) {
  std::string name = Utf8ToCp1252(native_name);
  // A name written by something else in another encoding keeps its bytes.
  if (Cp1252ToUtf8(name) != native_name) return std::string(native_name);
  return name;
}

std::string NativePathText(std::string_view native_path) {
  return Utf8ToCp1252(native_path);
}

std::string NativeSeparators(std::string_view path) {
  std::string out(path);
  for (char& c : out)
    if (c == '\\') c = '/';
  return out;
}

}  // namespace quorvane::platform
