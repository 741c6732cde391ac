// Hostile compressed frames built in memory, for the benchmarks and tests that
// show they are refused quickly and with bounded memory: the whole object stream
// is never held, only fed to bzip2 piece by piece.
//   FileBomb(n)         a TSOFile whose xData is n zero bytes
//   EmptyStringBomb(n)  a TZelObject whose user list holds n empty strings
//   ChildBomb(n)        a TZelObject followed by n empty child objects
// Each returns the compressed block (bzip2 stream + recorded length); `recorded`
// replaces the true length when it is not -1 (a lying peer).
#pragma once

#include <bzlib.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "model/object_stream.h"
#include "objects/files.h"
#include "transport/frame_format.h"

namespace quorvane::bombs {

class BlockBuilder {
 public:
  BlockBuilder() {
    if (BZ2_bzCompressInit(&stream_, 9, 0, 0) != BZ_OK) throw std::runtime_error("bzip2 init");
  }
  ~BlockBuilder() { BZ2_bzCompressEnd(&stream_); }
  BlockBuilder(const BlockBuilder&) = delete;
  BlockBuilder& operator=(const BlockBuilder&) = delete;

  void Append(std::string_view bytes) {
    length_ += bytes.size();
    stream_.next_in = const_cast<char*>(bytes.data());
    stream_.avail_in = static_cast<unsigned>(bytes.size());
    while (stream_.avail_in > 0)
      Run(BZ_RUN);
  }
  // `unit` repeated `count` times, fed in slices of about 1 MiB.
  void AppendRepeated(std::string_view unit, std::uint64_t count) {
    const std::uint64_t per_slice = std::max<std::uint64_t>(1, (1u << 20) / unit.size());
    std::string slice;
    for (std::uint64_t i = 0; i < per_slice; ++i)
      slice += unit;
    while (count > 0) {
      const std::uint64_t now = std::min(count, per_slice);
      Append(std::string_view(slice).substr(0, now * unit.size()));
      count -= now;
    }
  }
  std::string Finish(std::int64_t recorded = -1) {
    while (Run(BZ_FINISH) != BZ_STREAM_END) {
    }
    const auto length =
        static_cast<std::uint32_t>(recorded == -1 ? static_cast<std::int64_t>(length_) : recorded);
    for (int i = 0; i < 4; ++i)
      out_ += static_cast<char>(length >> (8 * i));
    return std::move(out_);
  }
  std::uint64_t Length() const { return length_; }

 private:
  int Run(int action) {
    char buffer[1 << 16];
    stream_.next_out = buffer;
    stream_.avail_out = sizeof buffer;
    const int rc = BZ2_bzCompress(&stream_, action);
    if (rc < 0) throw std::runtime_error("bzip2 compress");
    out_.append(buffer, sizeof buffer - stream_.avail_out);
    return rc;
  }

  bz_stream stream_{};
  std::string out_;
  std::uint64_t length_ = 0;
};

inline std::string FileBomb(std::uint32_t size, std::int64_t recorded = -1) {
  TSOFile file(nullptr);
  file.xFileName = "bomb.bin";
  const std::string marker(300, 'Z');
  file.xData = marker;
  const std::string stream = ObjectToStream(file);
  const std::size_t at = stream.find(marker);
  // The value is LongText: a type byte and a 4-byte length before the bytes.
  BlockBuilder block;
  block.Append(std::string_view(stream).substr(0, at - 4));
  std::string length;
  for (int i = 0; i < 4; ++i)
    length += static_cast<char>(size >> (8 * i));
  block.Append(length);
  block.AppendRepeated(std::string(1, '\0'), size);
  block.Append(std::string_view(stream).substr(at + marker.size()));
  return block.Finish(recorded);
}

inline const std::string& ListPrefix() {
  static const std::string prefix = std::string(
      "TPF0\x0ATZelObject\x01"
      "A\x14ZelUsersToID.Strings\x01");
  return prefix;
}

inline std::string EmptyStringBomb(std::uint64_t count, std::int64_t recorded = -1) {
  BlockBuilder block;
  block.Append(ListPrefix());
  block.AppendRepeated(std::string("\x06\x00", 2), count);
  block.Append(std::string(3, '\0'));
  return block.Finish(recorded);
}

inline std::string ChildBomb(std::uint64_t count, std::int64_t recorded = -1) {
  BlockBuilder block;
  block.Append(
      std::string("TPF0\x0ATZelObject\x01"
                  "A\x00",
                  18));
  block.AppendRepeated(std::string("\x0ATZelObject\x00\x00\x00", 14), count);
  block.Append(std::string(1, '\0'));
  return block.Finish(recorded);
}

// A compressed object frame carrying `block`.
inline std::string CompressedFrame(const std::string& block) {
  return FrameHeader(static_cast<std::int64_t>(block.size())) + block +
         FrameTrailer(kKindObject, true);
}

}  // namespace quorvane::bombs
