#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0501  // getaddrinfo
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
// After winsock2.h, which must come first.
#include <windows.h>

#include <cstdio>

#include "util/system_info.h"

namespace quorvane {
namespace {

bool SocketsStarted() {
  static const bool started = [] {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

}  // namespace

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

std::string HostIpv4Address(const std::string& host_name) {
  if (host_name.empty() || !SocketsStarted()) return {};
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* results = nullptr;
  if (::getaddrinfo(host_name.c_str(), nullptr, &hints, &results) != 0 || results == nullptr)
    return {};
  std::string text;
  for (const addrinfo* entry = results; entry != nullptr && text.empty(); entry = entry->ai_next) {
    if (entry->ai_family != AF_INET || entry->ai_addrlen < sizeof(sockaddr_in)) continue;
    const auto* bytes = reinterpret_cast<const unsigned char*>(
        &reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr);
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
    text = buffer;
  }
  ::freeaddrinfo(results);
  return text;
}

}  // namespace quorvane
