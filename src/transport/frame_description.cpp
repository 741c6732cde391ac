#include "transport/frame_description.h"

#include <exception>
#include <fstream>
#include <iterator>

#include "model/object_text.h"
#include "model/stream_format.h"
#include "transport/bzip_block.h"
#include "transport/frame_format.h"

namespace quorvane {
namespace {

std::string KindName(char kind) {
  switch (kind) {
    case kKindObject:
      return "object";
    case kKindImage:
      return "image data";
    case kKindSound:
      return "sound data";
    case kKindText:
      return "text";
    default:
      return "unknown, read as an object";
  }
}

}  // namespace

std::string DescribeFrame(std::string_view bytes) {
  std::string text;
  if (bytes.size() < kFrameOverhead)
    return "Not a frame: " + std::to_string(bytes.size()) + " bytes\n";
  const auto* raw = reinterpret_cast<const std::uint8_t*>(bytes.data());
  text += "Start marker: " + std::string(bytes.substr(0, 10)) + "\n";
  text += "Length: " + std::string(bytes.substr(10, 10));
  const auto expected = ParseFrameHeader(raw, bytes.size());
  if (!expected) return text + " (bad header)\n";
  const auto length = static_cast<std::size_t>(*expected) + kFrameOverhead;
  text += " (payload " + std::to_string(*expected) + " bytes)\n";
  if (length != bytes.size())
    return text + "The file holds " + std::to_string(bytes.size()) + " bytes, not " +
           std::to_string(length) + "\n";
  const FrameTrailerFields trailer = ParseFrameTrailer(raw + length - kFrameTrailerSize);
  text += "End marker: " + std::string(bytes.substr(length - 10, 8)) + "\n";
  text += std::string("Kind: ") + trailer.kind + " (" + KindName(trailer.kind) + ")\n";
  const bool compressed = trailer.compression == kCompressed;
  text += std::string("Compression: ") + trailer.compression +
          (compressed ? " (compressed block)\n" : " (plain)\n");
  std::string payload(bytes.substr(kFrameHeaderSize, static_cast<std::size_t>(*expected)));
  try {
    if (compressed) {
      payload = DecompressBlock(payload.data(), payload.size());
      text += "Uncompressed: " + std::to_string(payload.size()) + " bytes\n";
    }
    if (trailer.kind == kKindObject || KindName(trailer.kind).starts_with("unknown"))
      text += ObjectBinaryToText(payload);
    else if (trailer.kind == kKindText)
      text += payload + "\n";
  } catch (const std::exception& e) {
    text += std::string("Payload: ") + e.what() + "\n";
  }
  return text;
}

std::string DescribeFrameFile(const std::string& native_path) {
  std::ifstream in(native_path, std::ios::binary);
  if (!in) return "Cannot open " + native_path + "\n";
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return DescribeFrame(bytes);
}

}  // namespace quorvane
