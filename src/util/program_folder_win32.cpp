#include <windows.h>

#include <vector>

#include "util/program_folder_backend.h"

namespace quorvane::platform {

std::string ExecutableFolder() {
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    const DWORD length =
        ::GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return ".\\";
    if (length < buffer.size()) {
      std::string path(buffer.data(), length);
      return path.substr(0, path.find_last_of("\\/") + 1);
    }
    buffer.resize(buffer.size() * 2);
  }
}

char PathSeparator() {
  return '\\';
}

bool IsAbsolutePath(std::string_view name) {
  const bool drive = name.size() >= 3 && name[1] == ':' && (name[2] == '\\' || name[2] == '/');
  const bool unc = name.size() >= 2 && name[0] == '\\' && name[1] == '\\';
  return drive || unc;
}

// The Windows file system ignores case, so names keep the case they were given.
std::string NativeRelativePath(std::string_view relative) {
  return NativeSeparators(relative);
}

// The -A file APIs take and give Windows-1252 bytes as they are.
std::string NameFromNative(std::string_view native_name) {
  return std::string(native_name);
}

std::string NativePathText(std::string_view native_path) {
  return std::string(native_path);
}

std::string NativeSeparators(std::string_view path) {
  std::string out(path);
  for (char& c : out)
    if (c == '/') c = '\\';
  return out;
}

}  // namespace quorvane::platform
