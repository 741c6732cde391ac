// WinSock sockets (version 1.1 asked), non-blocking, with select for every wait,
// as the POSIX backend uses poll: the connect within its time-out, reads and
// writes within theirs. Overlapped ReadFile/WriteFile on the socket handle were
// tried first: under Wine a write never completed while the peer had a read
// pending. Every stream holds one WSAStartup of its own.
#include <winsock2.h>
// After winsock2.h, which must come first.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <utility>

#include "net/socket.h"

namespace quorvane {
namespace {

using Clock = std::chrono::steady_clock;

DWORD MsLeft(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left <= 0 ? 0 : static_cast<DWORD>(left);
}

timeval TimeValOf(DWORD ms) {
  timeval value{};
  value.tv_sec = static_cast<long>(ms / 1000);
  value.tv_usec = static_cast<long>((ms % 1000) * 1000);
  return value;
}

// One WSAStartup (1.1) and its WSACleanup.
class WinSockUse {
 public:
  WinSockUse() {
    WSADATA data;
    const int error = ::WSAStartup(MAKEWORD(1, 1), &data);
    if (error != 0) throw ESocketError(WinSockErrorText(error, "WSAStartup"));
  }
  ~WinSockUse() { ::WSACleanup(); }
  WinSockUse(const WinSockUse&) = delete;
  WinSockUse& operator=(const WinSockUse&) = delete;
};

std::string DottedAddress(const sockaddr_in& address) {
  return ::inet_ntoa(address.sin_addr);
}

SocketFailure FailureOf(int error) {
  switch (error) {
    case WSAECONNREFUSED:
      return SocketFailure::kRefused;
    case WSAENETUNREACH:
    case WSAEHOSTUNREACH:
    case WSAENETDOWN:
    case WSAEHOSTDOWN:
    case WSAEADDRNOTAVAIL:
      return SocketFailure::kUnreachable;
    case WSAETIMEDOUT:
      return SocketFailure::kTimedOut;
    default:
      return SocketFailure::kOther;
  }
}

// Waits until the socket can be read (or written), the deadline passes or the
// stream is shut down; select is asked in slices so that a Shutdown from
// another thread is seen within one slice whatever the system does with a
// select already waiting. 1 ready (or shut down), 0 timed out, -1 error.
int WaitFor(SOCKET socket, bool write, Clock::time_point deadline, const std::atomic<bool>& shut) {
  constexpr DWORD kSliceMs = 100;
  for (;;) {
    if (shut.load()) return 1;
    const DWORD left = MsLeft(deadline);
    fd_set set;
    FD_ZERO(&set);
    FD_SET(socket, &set);
    timeval wait = TimeValOf(std::min(left, kSliceMs));
    const int ready = ::select(0, write ? nullptr : &set, write ? &set : nullptr, nullptr, &wait);
    if (ready != 0 || left <= kSliceMs) return ready;
  }
}

class WinSockStream : public ByteStream {
 public:
  explicit WinSockStream(SOCKET socket) : socket_(socket) {}
  ~WinSockStream() override { ::closesocket(socket_); }

  bool WaitReadable(int timeout_ms) override {
    return WaitFor(socket_, false, Deadline(timeout_ms), shut_) != 0;
  }

  IoResult ReadSome(void* buffer, std::size_t maximum, int timeout_ms) override {
    const auto deadline = Deadline(timeout_ms);
    const int wanted = static_cast<int>(std::min<std::size_t>(maximum, 1u << 30));
    for (;;) {
      if (shut_.load()) return {IoStatus::kClosed, 0, 0};
      const int got = ::recv(socket_, static_cast<char*>(buffer), wanted, 0);
      if (got > 0) return {IoStatus::kOk, static_cast<std::size_t>(got), 0};
      if (got == 0) return {IoStatus::kClosed, 0, 0};
      const int error = ::WSAGetLastError();
      if (error != WSAEWOULDBLOCK) return ErrorResult(error, 0);
      const int ready = WaitFor(socket_, false, deadline, shut_);
      if (ready == 0) return {IoStatus::kTimeout, 0, 0};
      if (ready < 0) return ErrorResult(::WSAGetLastError(), 0);
    }
  }

  IoResult WriteAll(const void* buffer, std::size_t n, int timeout_ms) override {
    const auto deadline = Deadline(timeout_ms);
    const auto* bytes = static_cast<const char*>(buffer);
    std::size_t done = 0;
    while (done < n) {
      if (shut_.load()) return {IoStatus::kClosed, done, 0};
      // Pieces of at most 64 KiB: under Wine a larger non-blocking send to a slow
      // reader was refused again and again while select reported room.
      const int piece = static_cast<int>(std::min<std::size_t>(n - done, 64 * 1024));
      const int sent = ::send(socket_, bytes + done, piece, 0);
      if (sent > 0) {
        done += static_cast<std::size_t>(sent);
        continue;
      }
      const int error = ::WSAGetLastError();
      if (error != WSAEWOULDBLOCK) return ErrorResult(error, done);
      const int ready = WaitFor(socket_, true, deadline, shut_);
      if (ready == 0) return {IoStatus::kTimeout, done, 0};
      if (ready < 0) return ErrorResult(::WSAGetLastError(), done);
    }
    return {IoStatus::kOk, done, 0};
  }

  void Shutdown() override {
    shut_.store(true);
    ::shutdown(socket_, SD_BOTH);
  }

  std::string LocalAddress() const override {
    sockaddr_in address{};
    int length = sizeof address;
    if (::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) != 0) return {};
    return DottedAddress(address);
  }

  std::string RemoteAddress() const override {
    sockaddr_in address{};
    int length = sizeof address;
    if (::getpeername(socket_, reinterpret_cast<sockaddr*>(&address), &length) != 0) return {};
    return DottedAddress(address);
  }

 private:
  static Clock::time_point Deadline(int timeout_ms) {
    return Clock::now() + std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
  }

  // A peer that resets or a shut-down socket is a close, not an error.
  static IoResult ErrorResult(int error, std::size_t done) {
    if (error == WSAECONNRESET || error == WSAESHUTDOWN || error == WSAECONNABORTED)
      return {IoStatus::kClosed, done, error};
    return {IoStatus::kError, done, error};
  }

  WinSockUse winsock_;
  SOCKET socket_;
  std::atomic<bool> shut_{false};
};

// Closes the socket unless released: every failure after socket() closes it.
struct SocketGuard {
  SOCKET socket;
  ~SocketGuard() {
    if (socket != INVALID_SOCKET) ::closesocket(socket);
  }
  SOCKET Release() { return std::exchange(socket, INVALID_SOCKET); }
};

void SetNonBlocking(SOCKET socket) {
  u_long non_blocking = 1;
  ::ioctlsocket(socket, FIONBIO, &non_blocking);
}

}  // namespace

std::unique_ptr<ByteStream> AdoptConnectedSocket(NativeSocket native_handle) {
  const SOCKET socket = static_cast<SOCKET>(native_handle);
  SetNonBlocking(socket);
  return std::make_unique<WinSockStream>(socket);
}

std::unique_ptr<ByteStream> OpenSocketStream(const SocketTarget& target) {
  const ConnectPoint point = ConnectPointOf(target);
  if (point.port < 0 || point.port > 0xFFFF)
    throw std::out_of_range("port " + std::to_string(point.port) + " out of range");

  const WinSockUse winsock;
  const int type = target.transport == kTransportUdp ? SOCK_DGRAM : SOCK_STREAM;
  SocketGuard socket{::socket(AF_INET, type, 0)};
  if (socket.socket == INVALID_SOCKET) throw ESocketError(CannotCreateSocketText());

  if (point.address.empty()) throw ESocketError(NoAddressText());
  sockaddr_in address{};
  address.sin_family = AF_INET;
  // Dotted IPv4 only: a host name is not looked up and fails as a connect would.
  address.sin_addr.s_addr = ::inet_addr(point.address.c_str());
  if (address.sin_addr.s_addr == INADDR_NONE && point.address != "255.255.255.255")
    throw ESocketOpenError(WinSockErrorText(WSAEINVAL, "connect"), SocketFailure::kUnreachable);
  int port = point.port;
  if (!target.service.empty() && !point.through_relay) {
    const servent* service = ::getservbyname(target.service.c_str(), "tcp");
    port = service != nullptr ? ntohs(static_cast<u_short>(service->s_port)) : 0;
  }
  address.sin_port = htons(static_cast<u_short>(port));

  if (type == SOCK_STREAM) {
    const BOOL one = TRUE;
    ::setsockopt(socket.socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one),
                 sizeof one);
  }
  SetNonBlocking(socket.socket);
  if (::connect(socket.socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    const int error = ::WSAGetLastError();
    if (error != WSAEWOULDBLOCK)
      throw ESocketOpenError(WinSockErrorText(error, "connect"), FailureOf(error));
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(socket.socket, &writable);
    FD_SET(socket.socket, &failed);
    timeval wait = TimeValOf(static_cast<DWORD>(std::max(target.connect_timeout_ms, 0)));
    const int ready = ::select(0, nullptr, &writable, &failed, &wait);
    if (ready == 0)
      throw ESocketOpenError(WinSockErrorText(WSAETIMEDOUT, "connect"), SocketFailure::kTimedOut);
    int connect_error = 0;
    int length = sizeof connect_error;
    if (ready < 0)
      connect_error = ::WSAGetLastError();
    else if (FD_ISSET(socket.socket, &failed) &&
             ::getsockopt(socket.socket, SOL_SOCKET, SO_ERROR,
                          reinterpret_cast<char*>(&connect_error), &length) != 0)
      connect_error = ::WSAGetLastError();
    if (connect_error != 0)
      throw ESocketOpenError(WinSockErrorText(connect_error, "connect"), FailureOf(connect_error));
  }
  auto stream = std::make_unique<WinSockStream>(socket.Release());
  if (point.through_relay && target.socks.Version == toprx_Sockets4) {
    NegotiateSocks4(*stream, target.address, target.port, target.socks.UserID,
                    target.socks_reply_timeout_ms);
  }
  return stream;
}

std::string HostIpv4Address(const std::string& host_name) {
  if (host_name.empty()) return {};
  try {
    const WinSockUse winsock;
    const hostent* host = ::gethostbyname(host_name.c_str());
    if (host == nullptr || host->h_addrtype != AF_INET || host->h_addr_list[0] == nullptr)
      return {};
    in_addr address{};
    std::memcpy(&address, host->h_addr_list[0], sizeof address);
    return ::inet_ntoa(address);
  } catch (const ESocketError&) {
    return {};  // no socket library: no address, as for a failed lookup
  }
}

}  // namespace quorvane
