// The compressed block format of frames and object files: a complete bzip2 stream
// followed by the uncompressed length as 4 little-endian bytes (a "stored" block
// holds the plain bytes instead of the stream). Pure functions, safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

namespace quorvane {

// Bytes in a std::string, as the object streams hold them.
using ByteBlock = std::string;

// Raised for an internal inconsistency of the bzip2 library ("Compression Error %d").
class EBZip2Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The library returned a negative code while compressing ("error %d").
class EBZCompressionError : public EBZip2Error {
 public:
  explicit EBZCompressionError(int code);
};

// A negative library code while decompressing ("error %d"), and the refusals that
// keep hostile input from spinning or exhausting memory.
class EBZDecompressionError : public EBZip2Error {
 public:
  explicit EBZDecompressionError(int code);
};

// Largest output a block may decompress to: the recorded length is a signed 32-bit value.
inline constexpr std::int64_t kMaxBlockOutput = 2'147'483'647;

// Error codes raised for refusals the library itself does not report.
inline constexpr int kBlockTooShort = -100;
inline constexpr int kBlockTruncated = -101;
inline constexpr int kBlockTooLarge = -102;

// Level <= 0 gives a stored block; 1 to 9 a bzip2 stream with that block size;
// anything above 9 is refused by the library (EBZCompressionError).
ByteBlock CompressBlock(const void* bytes, std::size_t n, int level);

// Reverses CompressBlock. Data that does not begin with "BZ" passes through unchanged.
// Output beyond max_output (at most kMaxBlockOutput) raises EBZDecompressionError.
ByteBlock DecompressBlock(const void* bytes, std::size_t n,
                          std::int64_t max_output = kMaxBlockOutput);

// Reads `count` bytes of a block at `offset`; false when they are not all there.
using BlockReader = std::function<bool(std::int64_t offset, void* buffer, std::size_t count)>;

// The same for a block of `size` bytes read through `read` (a frame file): the
// stream is read a chunk at a time, so only the output is held in memory. A
// stored block (no "BZ") is read whole, as DecompressBlock returns it. A read
// that fails raises EBZDecompressionError.
ByteBlock DecompressBlockFrom(std::int64_t size, const BlockReader& read,
                              std::int64_t max_output = kMaxBlockOutput);

}  // namespace quorvane
