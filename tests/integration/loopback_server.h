// An in-test server on a loopback address (127.0.0.1 to 127.0.0.3) that speaks the
// frame format: every accepted connection gets a TestPeer, which names itself as
// scripted ("Atfctn" with the server's identifier, another identifier, or nothing).
// Accepts on its own thread until destroyed. FreePortOnAllTargets finds one port free
// on all three addresses, since the relay targets share the installation port.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "net/net_fixture.h"
#include "net/socket.h"
#include "net/test_peer.h"

namespace quorvane::testing {

inline int BindLoopback(const std::string& address, std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in where{};
  where.sin_family = AF_INET;
  where.sin_port = htons(port);
  ::inet_pton(AF_INET, address.c_str(), &where.sin_addr);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

inline std::uint16_t PortOf(int fd) {
  sockaddr_in where{};
  socklen_t length = sizeof where;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&where), &length);
  return ntohs(where.sin_port);
}

// A port that none of 127.0.0.1, .2 and .3 has bound (checked, then released).
inline std::uint16_t FreePortOnAllTargets() {
  for (int attempt = 0; attempt < 50; ++attempt) {
    const int first = BindLoopback("127.0.0.1", 0);
    const std::uint16_t port = PortOf(first);
    const int second = BindLoopback("127.0.0.2", port);
    const int third = BindLoopback("127.0.0.3", port);
    for (int fd : {first, second, third})
      if (fd >= 0) ::close(fd);
    if (second >= 0 && third >= 0) return port;
  }
  throw std::runtime_error("no loopback port free on 127.0.0.1-3");
}

class LoopbackServer {
 public:
  LoopbackServer(const std::string& address, std::uint16_t port, PeerScript script)
      : script_(script) {
    fd_ = BindLoopback(address, port);
    if (fd_ < 0 || ::listen(fd_, 16) != 0)
      throw std::runtime_error("cannot listen on " + address + ":" + std::to_string(port));
    port_ = PortOf(fd_);
    thread_ = std::thread([this] { AcceptLoop(); });
  }
  ~LoopbackServer() {
    stop_.store(true);
    thread_.join();
    ::close(fd_);
    std::lock_guard lock(mutex_);
    peers_.clear();
  }

  std::uint16_t port() const { return port_; }
  std::size_t PeerCount() const {
    std::lock_guard lock(mutex_);
    return peers_.size();
  }
  TestPeer& Peer(std::size_t index) {
    std::lock_guard lock(mutex_);
    return *peers_.at(index);
  }

 private:
  void AcceptLoop() {
    while (!stop_.load()) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      const int peer = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (peer < 0) continue;
      auto test_peer = std::make_unique<TestPeer>(AdoptConnectedSocket(peer));
      TestPeer* added = test_peer.get();
      {
        // Listed before it speaks: a client that saw its "Atfctn" finds it here.
        std::lock_guard lock(mutex_);
        peers_.push_back(std::move(test_peer));
      }
      if (script_ == PeerScript::kServer)
        added->Authenticate(protocol::kServerUserId);
      else if (script_ == PeerScript::kWrongId)
        added->Authenticate(kOtherUserIdText);
    }
  }

  PeerScript script_;
  int fd_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<std::unique_ptr<TestPeer>> peers_;
  std::thread thread_;
};

}  // namespace quorvane::testing
