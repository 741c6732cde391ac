// The wire format of one frame:
//   "KDKDKKDBEG" | L as ten ASCII digits | payload (L - 30 bytes) | "KDKDKKDE" kind compression
// where L is the whole frame length, at most 2,147,483,647. Pure functions over bytes;
// the markers are completed once (thread-safe) before their first use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvane {

inline constexpr std::size_t kFrameHeaderSize = 20;
inline constexpr std::size_t kFrameTrailerSize = 10;
inline constexpr std::size_t kFrameOverhead = kFrameHeaderSize + kFrameTrailerSize;
inline constexpr std::int64_t kMaxFrameLength = 2'147'483'647;
inline constexpr std::int64_t kMaxFramePayload = kMaxFrameLength - kFrameOverhead;

// Kind bytes: one serialized object, image data, sound data, text.
inline constexpr char kKindObject = 'N';
inline constexpr char kKindImage = 'W';
inline constexpr char kKindSound = 'P';
inline constexpr char kKindText = 'T';
// Compression bytes: a compressed block, or the plain payload.
inline constexpr char kCompressed = 'C';
inline constexpr char kNotCompressed = 'N';

// Completes "KDKDKKD___" into "KDKDKKDBEG" and "KDKDKKD_" into "KDKDKKDE". The program
// calls it at start-up; the accessors below call it too, so it is never missed.
void CompleteFrameMarkers();
std::string_view FrameStartMarker();  // 10 bytes
std::string_view FrameEndMarker();    // 8 bytes

// The 20 header bytes of a frame carrying payload_size bytes. Raises std::overflow_error
// when the frame length would leave the signed 32-bit range.
std::string FrameHeader(std::int64_t payload_size);

// The 10 trailer bytes.
std::string FrameTrailer(char kind, bool compressed);

// The expected payload length of the header at bytes[0, 20), or nothing for a bad
// header: fewer than 20 bytes, a wrong start marker, a length field that is not
// exactly ten ASCII digits, or a length below 30 or above 2,147,483,647.
std::optional<std::int64_t> ParseFrameHeader(const std::uint8_t* bytes, std::size_t n);

struct FrameTrailerFields {
  char kind = ' ';
  char compression = ' ';
};

// The end marker is not compared: a peer's garbled marker is accepted as it stands.
FrameTrailerFields ParseFrameTrailer(const std::uint8_t* trailer);

}  // namespace quorvane
