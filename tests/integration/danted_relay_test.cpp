// The danted fixture itself: it listens, relays a SOCKS 4 CONNECT to a loopback
// listener, answers 91 for a closed port, and is gone after Stop().
#include "support/danted_relay.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <thread>

namespace quorvane::testing {
namespace {

int ConnectTo(const char* ip, std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  ::inet_pton(AF_INET, ip, &address.sin_addr);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Reads exactly n bytes within 5 s; the count read.
size_t ReadExactly(int fd, unsigned char* out, size_t n) {
  size_t done = 0;
  while (done < n) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 5000) <= 0) break;
    const ssize_t got = ::recv(fd, out + done, n - done, 0);
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  return done;
}

std::array<unsigned char, 9> ConnectRequest(std::uint16_t port, unsigned char last_octet) {
  return {4,
          1,
          static_cast<unsigned char>(port >> 8),
          static_cast<unsigned char>(port & 0xFF),
          127,
          0,
          0,
          last_octet,
          0};
}

TEST(DantedRelay, RelaysConnectToLoopbackAndRefusesClosedPort) {
  DantedRelay relay;
  ASSERT_GT(relay.port(), 0);

  // A listener on 127.0.0.2 that greets whoever connects.
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  ::inet_pton(AF_INET, "127.0.0.2", &address.sin_addr);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  socklen_t length = sizeof address;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  ASSERT_EQ(::listen(listener, 4), 0);
  const std::uint16_t target_port = ntohs(address.sin_port);
  std::thread server([listener] {
    pollfd p{listener, POLLIN, 0};
    if (::poll(&p, 1, 10000) <= 0) return;
    const int peer = ::accept(listener, nullptr, nullptr);
    if (peer < 0) return;
    ::send(peer, "hello", 5, MSG_NOSIGNAL);
    ::close(peer);
  });

  const int fd = ConnectTo("127.0.0.1", relay.port());
  ASSERT_GE(fd, 0);
  const auto request = ConnectRequest(target_port, 2);
  ASSERT_EQ(::send(fd, request.data(), request.size(), MSG_NOSIGNAL), 9);
  unsigned char reply[13] = {};
  ASSERT_EQ(ReadExactly(fd, reply, 13), 13u) << relay.log();
  EXPECT_EQ(reply[0], 0);
  EXPECT_EQ(reply[1], 90) << relay.log();
  EXPECT_EQ(std::string(reinterpret_cast<char*>(reply + 8), 5), "hello");
  ::close(fd);
  server.join();

  // The listener is gone: the same target is now refused with code 91.
  ::close(listener);
  const int second = ConnectTo("127.0.0.1", relay.port());
  ASSERT_GE(second, 0);
  ASSERT_EQ(::send(second, request.data(), request.size(), MSG_NOSIGNAL), 9);
  unsigned char refused[8] = {};
  ASSERT_EQ(ReadExactly(second, refused, 8), 8u) << relay.log();
  EXPECT_EQ(refused[1], 91);
  ::close(second);

  const std::uint16_t port = relay.port();
  relay.Stop();
  EXPECT_EQ(ConnectTo("127.0.0.1", port), -1);
}

TEST(DantedRelay, TwoRelaysRunSideBySide) {
  DantedRelay first;
  DantedRelay second;
  EXPECT_NE(first.port(), second.port());
  const int a = ConnectTo("127.0.0.1", first.port());
  const int b = ConnectTo("127.0.0.1", second.port());
  EXPECT_GE(a, 0);
  EXPECT_GE(b, 0);
  ::close(a);
  ::close(b);
}

}  // namespace
}  // namespace quorvane::testing
