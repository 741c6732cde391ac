// TZelSocketStream: one thread's blocking view of a connection's byte stream, with
// the time-out of every wait (60,000 ms as the connection threads use it) and a
// cancel flag. The send thread and the receive thread each own one, on the same
// ByteStream, so a blocked read never holds up a write. Cancel may be called from
// any thread; the rest from the owning thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "model/zel_object.h"
#include "net/byte_stream.h"

namespace quorvane {

inline constexpr int kStreamTimeoutMs = 60'000;
inline constexpr std::string_view kTypeIdStream = "{10000000-0000-0000-0000-200000000006}";

class TZelSocketStream {
 public:
  TZelSocketStream(TZelObject* owner, int timeout_ms, ByteStream* stream);
  ~TZelSocketStream();

  // Bytes read (at most count), 0 when cancelled, closed, failed or timed out.
  std::size_t Read(void* buffer, std::size_t count);
  // Writes everything or reports why not; short writes are looped over.
  IoResult Write(const void* buffer, std::size_t count);
  bool WaitForData(int timeout_ms);
  void Cancel() { cancelled_.store(true); }
  bool Cancelled() const { return cancelled_.load(); }

  // Replaces `block` by the next bytes, at most kMaxChunk of them (only reads:
  // the receive loop hands them on). False when nothing was read (cancelled,
  // peer closed, failed, timed out); LastRead says which.
  bool ReadInto(std::vector<std::uint8_t>& block);
  const IoResult& LastRead() const { return last_read_; }

 private:
  std::unique_ptr<TZelObject> lock_object_;
  ByteStream* stream_;  // not owned
  int timeout_ms_;
  std::atomic<bool> cancelled_{false};
  IoResult last_read_;
};

}  // namespace quorvane
