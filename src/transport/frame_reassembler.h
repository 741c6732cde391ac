// Turns the byte stream of one connection, delivered in pieces of any size, back into
// frames: it parses headers, hands payload bytes on as they arrive and keeps in memory
// only an incomplete header or trailer. Not thread-safe; its owner serialises calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "transport/frame_format.h"

namespace quorvane {

// Receives what the reassembler finds. Calls come from inside Feed.
class FrameSink {
 public:
  virtual ~FrameSink() = default;
  // A valid header announced a frame of `expected` payload bytes. False when no frame
  // can be taken any more (shut down): the rest of the delivery is then dropped.
  virtual bool BeginFrame(std::int64_t expected) = 0;
  // Payload bytes of the current frame, in order. False when they could not be kept;
  // the frame is then failed, but its bytes are still consumed to stay in step.
  virtual bool WritePayload(const std::uint8_t* bytes, std::size_t n) = 0;
  // After payload bytes were taken and the trailer is not yet complete.
  virtual void PayloadProgress(std::int64_t have, std::int64_t expected) = 0;
  // The current frame is complete; failed when some of its payload was not kept.
  virtual void EndFrame(const FrameTrailerFields& trailer, bool failed) = 0;
  // The rest of a delivery that should have begun with a header but did not.
  virtual void BadHeader(const std::uint8_t* bytes, std::size_t n) = 0;
};

class FrameReassembler {
 public:
  // Received bytes are only kept while fewer than this many wait for a header.
  static constexpr std::size_t kHeaderWaitLimit = 22;

  explicit FrameReassembler(FrameSink& sink) : sink_(sink) {}

  // One delivery. A bad header discards the rest of it; the next delivery is parsed
  // as beginning with a header (there is no search for the next start marker).
  void Feed(const std::uint8_t* bytes, std::size_t n);

  // Forgets the frame in progress and the kept bytes.
  void Reset();

  bool InFrame() const { return in_frame_; }
  std::size_t PendingSize() const { return pending_.size(); }
  std::int64_t PayloadHave() const { return have_; }
  std::int64_t PayloadExpected() const { return expected_; }

 private:
  // Puts the kept bytes in front of the delivery; returns the joined range.
  void JoinPending(const std::uint8_t*& cursor, std::size_t& left);
  void Write(const std::uint8_t* bytes, std::size_t n);

  FrameSink& sink_;
  bool in_frame_ = false;
  bool failed_ = false;
  std::int64_t expected_ = 0;
  std::int64_t have_ = 0;  // counted here, never read back from the frame's file
  std::vector<std::uint8_t> pending_;
  std::vector<std::uint8_t> joined_;
};

}  // namespace quorvane
