// POSIX sockets: non-blocking descriptors driven by poll, so that every wait has a
// deadline and Shutdown (shutdown(SHUT_RDWR)) wakes a thread blocked in poll. The
// descriptor is closed only by the stream's destructor, after its threads ended.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>

#include "net/socket.h"

namespace quorvane {
namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left <= 0 ? 0 : static_cast<int>(left);
}

// poll for one event until the deadline; EINTR restarts with the time left.
// 1 ready, 0 timed out, -1 error (errno set).
int PollUntil(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    pollfd p{fd, events, 0};
    const int r = ::poll(&p, 1, MsLeft(deadline));
    if (r < 0 && errno == EINTR) continue;
    return r;
  }
}

std::string DottedAddress(const sockaddr_in& address) {
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
  return text;
}

class PosixSocketStream : public ByteStream {
 public:
  explicit PosixSocketStream(int fd) : fd_(fd) {}
  ~PosixSocketStream() override { ::close(fd_); }

  bool WaitReadable(int timeout_ms) override {
    if (shut_.load()) return true;
    return PollUntil(fd_, POLLIN, Clock::now() + std::chrono::milliseconds(timeout_ms)) != 0;
  }

  IoResult ReadSome(void* buffer, std::size_t maximum, int timeout_ms) override {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
      if (shut_.load()) return {IoStatus::kClosed, 0, 0};
      const ssize_t got = ::recv(fd_, buffer, maximum, MSG_DONTWAIT);
      if (got > 0) return {IoStatus::kOk, static_cast<std::size_t>(got), 0};
      if (got == 0) return {IoStatus::kClosed, 0, 0};
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) return ErrorResult(errno, 0);
      const int ready = PollUntil(fd_, POLLIN, deadline);
      if (ready == 0) return {IoStatus::kTimeout, 0, 0};
      if (ready < 0) return ErrorResult(errno, 0);
    }
  }

  IoResult WriteAll(const void* buffer, std::size_t n, int timeout_ms) override {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    const auto* bytes = static_cast<const char*>(buffer);
    std::size_t done = 0;
    while (done < n) {
      if (shut_.load()) return {IoStatus::kClosed, done, 0};
      const ssize_t sent = ::send(fd_, bytes + done, n - done, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (sent > 0) {
        done += static_cast<std::size_t>(sent);
        continue;
      }
      if (sent < 0 && errno == EINTR) continue;
      if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return ErrorResult(errno, done);
      const int ready = PollUntil(fd_, POLLOUT, deadline);
      if (ready == 0) return {IoStatus::kTimeout, done, 0};
      if (ready < 0) return ErrorResult(errno, done);
    }
    return {IoStatus::kOk, done, 0};
  }

  void Shutdown() override {
    shut_.store(true);
    ::shutdown(fd_, SHUT_RDWR);
  }

  std::string LocalAddress() const override {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) return {};
    return DottedAddress(address);
  }

  std::string RemoteAddress() const override {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (::getpeername(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) return {};
    return DottedAddress(address);
  }

 private:
  // A peer that resets or a shut-down pipe is a close, not an error.
  static IoResult ErrorResult(int error, std::size_t done) {
    if (error == EPIPE || error == ECONNRESET || error == ESHUTDOWN)
      return {IoStatus::kClosed, done, error};
    return {IoStatus::kError, done, error};
  }

  int fd_;
  std::atomic<bool> shut_{false};
};

SocketFailure FailureOf(int error) {
  switch (error) {
    case ECONNREFUSED:
      return SocketFailure::kRefused;
    case ENETUNREACH:
    case EHOSTUNREACH:
    case ENETDOWN:
    case EHOSTDOWN:
    case EADDRNOTAVAIL:
      return SocketFailure::kUnreachable;
    case ETIMEDOUT:
      return SocketFailure::kTimedOut;
    default:
      return SocketFailure::kOther;
  }
}

// Closes the descriptor unless released: every failure after socket() closes it.
struct DescriptorGuard {
  int fd;
  ~DescriptorGuard() {
    if (fd >= 0) ::close(fd);
  }
  int Release() { return std::exchange(fd, -1); }
};

}  // namespace

std::unique_ptr<ByteStream> AdoptConnectedSocket(NativeSocket native_handle) {
  ::fcntl(native_handle, F_SETFL, ::fcntl(native_handle, F_GETFL) | O_NONBLOCK);
  return std::make_unique<PosixSocketStream>(native_handle);
}

std::unique_ptr<ByteStream> OpenSocketStream(const SocketTarget& target) {
  const ConnectPoint point = ConnectPointOf(target);
  if (point.port < 0 || point.port > 0xFFFF)
    throw std::out_of_range("port " + std::to_string(point.port) + " out of range");

  const int type = target.transport == kTransportUdp ? SOCK_DGRAM : SOCK_STREAM;
  DescriptorGuard fd{::socket(AF_INET, type | SOCK_CLOEXEC, 0)};
  if (fd.fd < 0) throw ESocketError(CannotCreateSocketText());

  if (point.address.empty()) throw ESocketError(NoAddressText());
  sockaddr_in address{};
  address.sin_family = AF_INET;
  // Dotted IPv4 only: a host name is not looked up and fails as a connect would.
  if (::inet_pton(AF_INET, point.address.c_str(), &address.sin_addr) != 1)
    throw ESocketOpenError(WinSockErrorText(EINVAL, "connect"), SocketFailure::kUnreachable);
  int port = point.port;
  if (!target.service.empty() && !point.through_relay) {
    const servent* service = ::getservbyname(target.service.c_str(), "tcp");
    port = service != nullptr ? ntohs(static_cast<std::uint16_t>(service->s_port)) : 0;
  }
  address.sin_port = htons(static_cast<std::uint16_t>(port));

  ::fcntl(fd.fd, F_SETFL, ::fcntl(fd.fd, F_GETFL) | O_NONBLOCK);
  if (type == SOCK_STREAM) {
    const int one = 1;
    ::setsockopt(fd.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  }
  if (::connect(fd.fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (errno != EINPROGRESS && errno != EINTR)
      throw ESocketOpenError(WinSockErrorText(errno, "connect"), FailureOf(errno));
    const auto deadline = Clock::now() + std::chrono::milliseconds(target.connect_timeout_ms);
    const int ready = PollUntil(fd.fd, POLLOUT, deadline);
    if (ready == 0)
      throw ESocketOpenError(WinSockErrorText(ETIMEDOUT, "connect"), SocketFailure::kTimedOut);
    int error = 0;
    socklen_t length = sizeof error;
    if (ready < 0)
      error = errno;
    else if (::getsockopt(fd.fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
      error = errno;
    if (error != 0) throw ESocketOpenError(WinSockErrorText(error, "connect"), FailureOf(error));
  }

  auto stream = std::make_unique<PosixSocketStream>(fd.Release());
  if (point.through_relay && target.socks.Version == toprx_Sockets4) {
    NegotiateSocks4(*stream, target.address, target.port, target.socks.UserID,
                    target.socks_reply_timeout_ms);
  }
  return stream;
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
    text = DottedAddress(*reinterpret_cast<const sockaddr_in*>(entry->ai_addr));
  }
  ::freeaddrinfo(results);
  return text;
}

}  // namespace quorvane
