#include <sys/sysinfo.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "util/system_info.h"

namespace quorvane {

int SystemLanguageId() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return LanguageIdFromLocale(value);
  }
  return LanguageIdFromLocale("");
}

std::string WindowsDirectory() {
  return "/";
}

std::string ComputerName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

std::uint32_t MemoryLoadPercent() {
  std::ifstream file("/proc/meminfo");
  if (file) {
    std::ostringstream text;
    text << file.rdbuf();
    const int load = MemoryLoadFromMeminfo(text.str());
    if (load >= 0) return static_cast<std::uint32_t>(load);
  }
  struct sysinfo info {};
  if (::sysinfo(&info) != 0 || info.totalram == 0) return 0;
  // Buffers are reclaimable, as the kernel's own MemAvailable estimate counts them.
  const unsigned long long total = info.totalram;
  const unsigned long long available =
      std::min<unsigned long long>(info.freeram + info.bufferram, total);
  return static_cast<std::uint32_t>(100 - available * 100 / total);
}

std::uint32_t OsVersionWord() {
  struct utsname names {};
  if (::uname(&names) != 0) return 0;
  return VersionWordFromRelease(names.release);
}

}  // namespace quorvane
