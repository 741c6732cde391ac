// An in-memory byte stream pair for unit tests of the network layer: what one end
// writes the other reads, through a channel of bounded capacity (so a writer whose
// peer does not read blocks and times out), with scripted short writes, a peer
// that closes mid-stream, and Shutdown waking blocked calls, as a socket does.
// Every wait is bounded by the time-out it is given. Thread-safe.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "net/byte_stream.h"

namespace quorvane::testing {

class PipeChannel {
 public:
  explicit PipeChannel(std::size_t capacity) : capacity_(capacity) {}

  std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::uint8_t> bytes;
  bool writer_closed = false;  // no more bytes will come
  bool reader_closed = false;  // nobody reads any more
  std::size_t capacity_;
};

class PipeEnd : public ByteStream {
 public:
  PipeEnd(std::shared_ptr<PipeChannel> in, std::shared_ptr<PipeChannel> out)
      : in_(std::move(in)), out_(std::move(out)) {}
  ~PipeEnd() override { Shutdown(); }

  // Each write call moves at most this many bytes before it yields (short writes).
  void SetMaxWritePerCall(std::size_t n) { max_write_ = n; }

  bool WaitReadable(int timeout_ms) override {
    std::unique_lock lock(in_->mutex);
    return in_->changed.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] {
      return !in_->bytes.empty() || in_->writer_closed || in_->reader_closed;
    });
  }

  IoResult ReadSome(void* buffer, std::size_t maximum, int timeout_ms) override {
    std::unique_lock lock(in_->mutex);
    const bool ready = in_->changed.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] {
      return !in_->bytes.empty() || in_->writer_closed || in_->reader_closed;
    });
    if (in_->reader_closed) return {IoStatus::kClosed, 0, 0};
    if (!ready) return {IoStatus::kTimeout, 0, 0};
    if (in_->bytes.empty()) return {IoStatus::kClosed, 0, 0};
    const std::size_t n = std::min(maximum, in_->bytes.size());
    std::copy_n(in_->bytes.begin(), n, static_cast<std::uint8_t*>(buffer));
    in_->bytes.erase(in_->bytes.begin(), in_->bytes.begin() + static_cast<std::ptrdiff_t>(n));
    ++reads_;
    in_->changed.notify_all();
    return {IoStatus::kOk, n, 0};
  }

  IoResult WriteAll(const void* buffer, std::size_t n, int timeout_ms) override {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    std::size_t done = 0;
    std::unique_lock lock(out_->mutex);
    while (done < n) {
      if (out_->reader_closed || out_->writer_closed) return {IoStatus::kClosed, done, 0};
      const std::size_t room = out_->capacity_ - std::min(out_->capacity_, out_->bytes.size());
      if (room == 0) {
        if (out_->changed.wait_until(lock, deadline) == std::cv_status::timeout &&
            out_->bytes.size() >= out_->capacity_)
          return {IoStatus::kTimeout, done, 0};
        continue;
      }
      const std::size_t step = std::min({room, n - done, max_write_});
      out_->bytes.insert(out_->bytes.end(), bytes + done, bytes + done + step);
      done += step;
      ++write_calls_;
      out_->changed.notify_all();
    }
    return {IoStatus::kOk, done, 0};
  }

  // Both directions end: the peer reads what is left and then kClosed.
  void Shutdown() override {
    for (PipeChannel* channel : {in_.get(), out_.get()}) {
      std::lock_guard lock(channel->mutex);
      if (channel == in_.get())
        channel->reader_closed = true;
      else
        channel->writer_closed = true;
      channel->changed.notify_all();
    }
  }

  std::string LocalAddress() const override { return "127.0.0.9"; }
  std::string RemoteAddress() const override { return "127.0.0.8"; }

  std::size_t WriteCalls() const { return write_calls_; }
  // Bytes written by this end that the peer has not read yet.
  std::size_t Pending() const {
    std::lock_guard lock(out_->mutex);
    return out_->bytes.size();
  }

 private:
  std::shared_ptr<PipeChannel> in_;
  std::shared_ptr<PipeChannel> out_;
  std::size_t max_write_ = static_cast<std::size_t>(-1);
  std::size_t write_calls_ = 0;
  std::size_t reads_ = 0;
};

// Two connected ends; each direction holds at most `capacity` unread bytes.
inline std::pair<std::unique_ptr<PipeEnd>, std::unique_ptr<PipeEnd>> MakePipePair(
    std::size_t capacity = 1 << 20) {
  auto a_to_b = std::make_shared<PipeChannel>(capacity);
  auto b_to_a = std::make_shared<PipeChannel>(capacity);
  return {std::make_unique<PipeEnd>(b_to_a, a_to_b), std::make_unique<PipeEnd>(a_to_b, b_to_a)};
}

}  // namespace quorvane::testing
