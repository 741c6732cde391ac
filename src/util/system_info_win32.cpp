#include <windows.h>

#include "util/system_info.h"

namespace quorvane {

int SystemLanguageId() {
  return PRIMARYLANGID(::GetUserDefaultLangID());
}

std::string WindowsDirectory() {
  char buffer[MAX_PATH + 1] = {};
  const UINT length = ::GetWindowsDirectoryA(buffer, sizeof buffer);
  return length > 0 && length < sizeof buffer ? std::string(buffer, length) : std::string();
}

std::string ComputerName() {
  char buffer[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD length = sizeof buffer;
  return ::GetComputerNameA(buffer, &length) ? std::string(buffer, length) : std::string();
}

std::uint32_t MemoryLoadPercent() {
  MEMORYSTATUS status{};
  status.dwLength = sizeof status;
  ::GlobalMemoryStatus(&status);
  return status.dwMemoryLoad;
}

std::uint32_t OsVersionWord() {
  return ::GetVersion();
}

}  // namespace quorvane
