#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
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

std::string HostIpv4Address(const std::string& host_name) {
  if (host_name.empty()) return {};
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* results = nullptr;
  if (::getaddrinfo(host_name.c_str(), nullptr, &hints, &results) != 0 || results == nullptr)
    return {};
  std::string text;
  for (const addrinfo* entry = results; entry != nullptr && text.empty(); entry = entry->ai_next) {
    if (entry->ai_family != AF_INET || entry->ai_addrlen < sizeof(sockaddr_in)) continue;
    const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr);
    char buffer[INET_ADDRSTRLEN] = {};
    if (::inet_ntop(AF_INET, &address->sin_addr, buffer, sizeof buffer) != nullptr) text = buffer;
  }
  ::freeaddrinfo(results);
  return text;
}

}  // namespace quorvane
