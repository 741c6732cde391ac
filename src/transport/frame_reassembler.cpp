#include "transport/frame_reassembler.h"

#include <cstring>

namespace quorvane {

void FrameReassembler::Reset() {
  in_frame_ = false;
  failed_ = false;
  expected_ = 0;
  have_ = 0;
  pending_.clear();
}

void FrameReassembler::JoinPending(const std::uint8_t*& cursor, std::size_t& left) {
  joined_.assign(pending_.begin(), pending_.end());
  joined_.insert(joined_.end(), cursor, cursor + left);
  pending_.clear();
  cursor = joined_.data();
  left = joined_.size();
}

void FrameReassembler::Write(const std::uint8_t* bytes, std::size_t n) {
  if (n == 0) return;
  if (!failed_ && !sink_.WritePayload(bytes, n)) failed_ = true;
  have_ += static_cast<std::int64_t>(n);
}

void FrameReassembler::Feed(const std::uint8_t* bytes, std::size_t n) {
  if (bytes == nullptr || n == 0) return;
  const std::uint8_t* cursor = bytes;
  std::size_t left = n;
  bool first = true;
  while (left > 0) {
    if (!in_frame_) {
      if (pending_.size() + left <= kHeaderWaitLimit) {
        pending_.insert(pending_.end(), cursor, cursor + left);
        return;
      }
      if (!pending_.empty()) JoinPending(cursor, left);
      const auto expected = ParseFrameHeader(cursor, left);
      if (!expected) {
        // After a right start marker the header is consumed even when its length
        // field is bad; only a wrong marker leaves the cursor where it was.
        const std::string_view marker = FrameStartMarker();
        if (left >= kFrameHeaderSize && std::memcmp(cursor, marker.data(), marker.size()) == 0) {
          cursor += kFrameHeaderSize;
          left -= kFrameHeaderSize;
        }
        sink_.BadHeader(cursor, left);
        return;
      }
      if (!sink_.BeginFrame(*expected)) return;
      in_frame_ = true;
      failed_ = false;
      expected_ = *expected;
      have_ = 0;
      cursor += kFrameHeaderSize;
      left -= kFrameHeaderSize;
    } else if (first && !pending_.empty()) {
      JoinPending(cursor, left);
    }
    first = false;

    // 64-bit arithmetic throughout: have + left overflows 32 bits near the top.
    const std::int64_t need = expected_ - have_;
    const auto available = static_cast<std::int64_t>(left);
    if (available >= need + static_cast<std::int64_t>(kFrameTrailerSize)) {
      const auto tail = static_cast<std::size_t>(need);
      Write(cursor, tail);
      const FrameTrailerFields trailer = ParseFrameTrailer(cursor + tail);
      const bool failed = failed_;
      in_frame_ = false;
      failed_ = false;
      have_ = 0;
      expected_ = 0;
      cursor += tail + kFrameTrailerSize;
      left -= tail + kFrameTrailerSize;
      sink_.EndFrame(trailer, failed);
    } else if (available > need) {
      // The payload is complete but the trailer is not: keep everything until it is.
      pending_.insert(pending_.end(), cursor, cursor + left);
      return;
    } else {
      Write(cursor, left);
      sink_.PayloadProgress(have_, expected_);
      return;
    }
  }
}

}  // namespace quorvane
