// The system's texts for socket error numbers on POSIX.
#include <cerrno>
#include <cstring>

#include "net/socket_error.h"
#include "util/codec.h"

namespace quorvane {
namespace {

// glibc declares the GNU strerror_r (returns the text, which may not be in the
// buffer) unless the XSI one (returns 0 and fills the buffer) is asked for; the
// overload taken tells which one this C library has.
[[maybe_unused]] const char* TextOf(const char* returned, const char*) {
  return returned;
}
[[maybe_unused]] const char* TextOf(int returned, const char* buffer) {
  return returned == 0 ? buffer : "";
}

}  // namespace

std::string SystemErrorText(int code) {
  char buffer[256] = {};
  return Utf8ToCp1252(TextOf(::strerror_r(code, buffer, sizeof buffer), buffer));
}

int TimedOutErrorCode() {
  return ETIMEDOUT;
}

}  // namespace quorvane
