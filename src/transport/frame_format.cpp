#include "transport/frame_format.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <stdexcept>

#include "util/codec.h"

namespace quorvane {
namespace {

// Completed at run time by CompleteFrameMarkers, as peers of this protocol do.
char start_marker[] = "KDKDKKD___";
char end_marker[] = "KDKDKKD_";
std::once_flag markers_completed;

}  // namespace

void CompleteFrameMarkers() {
  std::call_once(markers_completed, [] {
    std::memcpy(start_marker + 7, "BEG", 3);
    end_marker[7] = 'E';
  });
}

std::string_view FrameStartMarker() {
  CompleteFrameMarkers();
  return {start_marker, 10};
}

std::string_view FrameEndMarker() {
  CompleteFrameMarkers();
  return {end_marker, 8};
}

std::string FrameHeader(std::int64_t payload_size) {
  using namespace literals;
  if (payload_size < 0 || payload_size > kMaxFramePayload)
    throw std::overflow_error("Dépassement de capacité d'entier"_w);
  char digits[16];
  std::snprintf(digits, sizeof digits, "%010lld",
                static_cast<long long>(payload_size + static_cast<std::int64_t>(kFrameOverhead)));
  std::string header(FrameStartMarker());
  header.append(digits, 10);
  return header;
}

std::string FrameTrailer(char kind, bool compressed) {
  std::string trailer(FrameEndMarker());
  trailer += kind;
  trailer += compressed ? kCompressed : kNotCompressed;
  return trailer;
}

std::optional<std::int64_t> ParseFrameHeader(const std::uint8_t* bytes, std::size_t n) {
  if (n < kFrameHeaderSize) return std::nullopt;
  const std::string_view marker = FrameStartMarker();
  if (std::memcmp(bytes, marker.data(), marker.size()) != 0) return std::nullopt;
  std::int64_t length = 0;
  for (std::size_t i = 10; i < kFrameHeaderSize; ++i) {
    const std::uint8_t c = bytes[i];
    if (c < '0' || c > '9') return std::nullopt;
    length = length * 10 + (c - '0');  // ten digits fit easily in 64 bits
  }
  if (length < static_cast<std::int64_t>(kFrameOverhead) || length > kMaxFrameLength)
    return std::nullopt;
  return length - static_cast<std::int64_t>(kFrameOverhead);
}

FrameTrailerFields ParseFrameTrailer(const std::uint8_t* trailer) {
  return {static_cast<char>(trailer[8]), static_cast<char>(trailer[9])};
}

}  // namespace quorvane
