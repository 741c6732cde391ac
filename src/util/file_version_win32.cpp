#include <windows.h>

#include <cstring>
#include <vector>

#include "util/file_version.h"
#include "util/file_version_backend.h"

namespace quorvane {
namespace {

// A version resource's block length is a 16-bit field; the copy that
// GetFileVersionInfoA makes is at most a few times that.
constexpr DWORD kLargestVersionInfo = 1024 * 1024;

// The value at `path` inside the resource, as the bytes VerQueryValueA gives.
std::optional<std::string> Query(const std::vector<char>& data, const std::string& path) {
  void* value = nullptr;
  UINT length = 0;
  if (!::VerQueryValueA(data.data(), path.c_str(), &value, &length) || value == nullptr)
    return std::nullopt;
  const auto* text = static_cast<const char*>(value);
  return std::string(text, ::strnlen(text, length));
}

}  // namespace

bool ReadVersion(TFileVersion& version, std::string_view path) {
  version = TFileVersion{};
  const std::string name(path.substr(0, MAX_PATH));
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeA(name.c_str(), &ignored);
  if (size == 0 || size > kLargestVersionInfo) return false;
  std::vector<char> data(size);
  if (!::GetFileVersionInfoA(name.c_str(), 0, size, data.data())) return false;
  version.Valid = true;

  void* value = nullptr;
  UINT length = 0;
  if (::VerQueryValueA(data.data(), "\\VarFileInfo\\Translation", &value, &length) &&
      length >= sizeof(DWORD)) {
    DWORD first;
    std::memcpy(&first, value, sizeof first);
    // Stored as language then code page: swapped, the language comes first.
    const std::string table = TranslationTable(first << 16 | first >> 16);
    FillVersionStrings(version, [&](const char* field) {
      return Query(data, "\\StringFileInfo\\" + table + "\\" + field);
    });
  }
  if (::VerQueryValueA(data.data(), "\\", &value, &length) && length >= sizeof(VS_FIXEDFILEINFO)) {
    VS_FIXEDFILEINFO fixed;
    std::memcpy(&fixed, value, sizeof fixed);
    FillVersionNumbers(version, fixed.dwFileVersionMS, fixed.dwFileVersionLS);
  }
  return true;
}

}  // namespace quorvane
