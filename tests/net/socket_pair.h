// Two connected stream sockets for the socket tests, with small buffers so that
// a writer meets a full socket soon: a socketpair on POSIX; on Windows, which has
// none, a loopback connection accepted from a listener on 127.0.0.1.
#pragma once

#include <gtest/gtest.h>

#include <utility>

#include "net/socket.h"

#ifdef _WIN32
#include <winsock2.h>
#else
#include <sys/socket.h>
#endif

namespace quorvane::testing {

using NativeSocketPair = std::pair<NativeSocket, NativeSocket>;

#ifdef _WIN32
// small_writer: the first socket's send buffer is made small too, so that a writer
// meets a full socket whatever the system's send buffer would grow to.
inline NativeSocketPair MakeSocketPair(int buffer_bytes, bool small_writer = false) {
  WSADATA data;
  EXPECT_EQ(::WSAStartup(MAKEWORD(1, 1), &data), 0);  // held until the process ends
  const SOCKET listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof address;
  EXPECT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  EXPECT_EQ(::listen(listener, 1), 0);
  EXPECT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  const SOCKET first = ::socket(AF_INET, SOCK_STREAM, 0);
  EXPECT_EQ(::connect(first, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const SOCKET second = ::accept(listener, nullptr, nullptr);
  ::closesocket(listener);
  // Only the reader's buffer is made small: Wine tells a writer with a small send
  // buffer that it has room only about every 100 ms.
  ::setsockopt(second, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&buffer_bytes),
               sizeof buffer_bytes);
  if (small_writer)
    ::setsockopt(first, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&buffer_bytes),
                 sizeof buffer_bytes);
  return {first, second};
}
#else
inline NativeSocketPair MakeSocketPair(int buffer_bytes, bool = true) {
  int fds[2];
  EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  ::setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &buffer_bytes, sizeof buffer_bytes);
  ::setsockopt(fds[1], SOL_SOCKET, SO_RCVBUF, &buffer_bytes, sizeof buffer_bytes);
  return {fds[0], fds[1]};
}
#endif

}  // namespace quorvane::testing
