// ByteStream: the one seam through which the network layer moves bytes. The POSIX
// socket implements it (socket_posix.cpp); tests implement it with an in-memory
// pipe pair. Every wait is bounded by a time-out in milliseconds.
// Thread rules: one thread may read while another writes; Shutdown may be called
// from any thread at any time and wakes both; the stream is destroyed (and its
// descriptor closed) only after every thread that uses it has ended.
#pragma once

#include <cstddef>
#include <string>

namespace quorvane {

enum class IoStatus {
  kOk,       // count bytes moved
  kTimeout,  // the time-out passed first (a write may have moved some bytes)
  kClosed,   // the peer closed, or the stream was shut down
  kError,    // a system error; error holds its number
};

struct IoResult {
  IoStatus status = IoStatus::kOk;
  std::size_t count = 0;
  int error = 0;
};

// "délai dépassé", "fermé par le pair" ... in plain words for the diagnostic log.
std::string IoStatusText(const IoResult& result);

class ByteStream {
 public:
  virtual ~ByteStream() = default;

  // True when a read would not block (data, end of stream or an error are waiting);
  // false when the time-out passed.
  virtual bool WaitReadable(int timeout_ms) = 0;
  // Reads between 1 and `maximum` bytes, waiting at most timeout_ms for the first.
  virtual IoResult ReadSome(void* buffer, std::size_t maximum, int timeout_ms) = 0;
  // Writes all n bytes, looping over short writes, until done or the deadline.
  virtual IoResult WriteAll(const void* buffer, std::size_t n, int timeout_ms) = 0;
  // Ends both directions: blocked and later reads and writes return kClosed at once.
  virtual void Shutdown() = 0;

  // Dotted IPv4 texts; empty when unknown.
  virtual std::string LocalAddress() const { return {}; }
  virtual std::string RemoteAddress() const { return {}; }
};

}  // namespace quorvane
