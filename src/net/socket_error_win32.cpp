// The system's texts for WinSock error numbers, from FormatMessage in the
// system's language and code page.
#include <winsock2.h>
// After winsock2.h, which must come first.
#include <windows.h>

#include "net/socket_error.h"

namespace quorvane {

std::string SystemErrorText(int code) {
  char text[512] = {};
  const DWORD length =
      ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
  std::string result(text, length);
  // The system's messages end with a line break, which the templates do not want.
  while (!result.empty() &&
         (result.back() == '\n' || result.back() == '\r' || result.back() == ' '))
    result.pop_back();
  return result;
}

int TimedOutErrorCode() {
  return WSAETIMEDOUT;
}

}  // namespace quorvane
