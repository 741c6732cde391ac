#include "transport/bzip_block.h"

#include <bzlib.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

namespace quorvane {
namespace {

constexpr std::size_t kGrowthQuantum = 256;
// A recorded length up to this, or up to kTrustedRatio times the compressed
// size, sizes the output buffer directly; a larger claim is measured first.
constexpr std::int64_t kTrustedLength = 64 << 20;
constexpr std::uint64_t kTrustedRatio = 64;
constexpr std::size_t kScratchSize = 1 << 16;
constexpr int kVerbosity = 0;
constexpr int kWorkFactor = 0;
constexpr int kFastAlgorithm = 0;  // the small-memory decoder is far slower

std::string CodeMessage(int code) {
  return "error " + std::to_string(code);
}

std::size_t RoundUp(std::size_t n, std::size_t quantum) {
  return (n + quantum - 1) / quantum * quantum;
}

// The library's allocations go through here so that count x size cannot wrap.
void* BlockAlloc(void*, int count, int size) {
  if (count < 0 || size < 0) return nullptr;
  const auto total = static_cast<std::uint64_t>(count) * static_cast<std::uint64_t>(size);
  if (total > std::numeric_limits<std::size_t>::max() / 2) return nullptr;
  // The throwing form, so a program that replaces operator new (a counting
  // allocator) sees these blocks too, whatever its run-time does with nothrow.
  try {
    return ::operator new(static_cast<std::size_t>(total));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void BlockFree(void*, void* address) {
  ::operator delete(address);
}

void AppendLength(ByteBlock& block, std::uint32_t length) {
  for (int i = 0; i < 4; ++i)
    block.push_back(static_cast<char>(length >> (8 * i)));
}

std::int32_t ReadLength(const std::uint8_t* p) {
  const std::uint32_t v = static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                          static_cast<std::uint32_t>(p[2]) << 16 |
                          static_cast<std::uint32_t>(p[3]) << 24;
  return static_cast<std::int32_t>(v);
}

// One decompression stream, ended on every path.
class Decoder {
 public:
  Decoder() {
    stream_.bzalloc = BlockAlloc;
    stream_.bzfree = BlockFree;
    const int rc = BZ2_bzDecompressInit(&stream_, kVerbosity, kFastAlgorithm);
    if (rc != BZ_OK) throw EBZDecompressionError(rc);
  }
  ~Decoder() { BZ2_bzDecompressEnd(&stream_); }
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;

  bz_stream& stream() { return stream_; }

 private:
  bz_stream stream_{};
};

enum class Outcome { kEnded, kOutputFull, kInputUsedUp };

// The m bytes of a block's bzip2 stream, given to the decoder piece by piece:
// all at once from memory, or a chunk at a time from a reader (a frame file), so
// a block in a file is never held in memory beside its output.
class Input {
 public:
  static constexpr std::size_t kChunk = std::size_t{1} << 20;

  Input(const std::uint8_t* bytes, std::size_t m) : memory_(bytes), m_(m) {}
  Input(const BlockReader& read, std::size_t m) : read_(&read), m_(m) {}

  void Restart() {
    offset_ = 0;
    cursor = nullptr;
    left = 0;
  }
  // Makes the next piece available in cursor/left; false when none is left.
  bool Next() {
    if (offset_ >= m_) return false;
    const std::size_t n = memory_ != nullptr ? m_ - offset_ : std::min(kChunk, m_ - offset_);
    if (memory_ != nullptr) {
      cursor = memory_ + offset_;
    } else {
      chunk_.resize(n);
      if (!(*read_)(static_cast<std::int64_t>(offset_), chunk_.data(), n))
        throw EBZDecompressionError(kBlockTruncated);
      cursor = chunk_.data();
    }
    offset_ += n;
    left = n;
    return true;
  }
  bool Exhausted() const { return offset_ >= m_ && left == 0; }
  // The first `count` bytes of the block (count may reach past m, up to the block's size).
  ByteBlock Copy(std::size_t count) const {
    if (memory_ != nullptr) return ByteBlock(reinterpret_cast<const char*>(memory_), count);
    ByteBlock out(count, '\0');
    if (count > 0 && !(*read_)(0, out.data(), count)) throw EBZDecompressionError(kBlockTruncated);
    return out;
  }

  const std::uint8_t* cursor = nullptr;
  std::size_t left = 0;

 private:
  const std::uint8_t* memory_ = nullptr;
  const BlockReader* read_ = nullptr;
  std::size_t m_;
  std::size_t offset_ = 0;
  std::vector<std::uint8_t> chunk_;
};

// Runs the decoder into out[offset, out.size()). bzip2 counts in unsigned int, so
// each call gets at most 1 GiB of input and of output room.
Outcome Pump(Decoder& decoder, Input& input, ByteBlock& out, std::size_t& produced) {
  constexpr std::size_t kSlice = std::size_t{1} << 30;
  bz_stream& s = decoder.stream();
  for (;;) {
    const std::size_t room = out.size() - produced;
    if (room == 0) return Outcome::kOutputFull;
    if (input.left == 0) input.Next();
    const unsigned in_now = static_cast<unsigned>(std::min(input.left, kSlice));
    const unsigned out_now = static_cast<unsigned>(std::min(room, kSlice));
    s.next_in = reinterpret_cast<char*>(const_cast<std::uint8_t*>(input.cursor));
    s.avail_in = in_now;
    s.next_out = out.data() + produced;
    s.avail_out = out_now;
    const int rc = BZ2_bzDecompress(&s);
    const std::size_t used = in_now - s.avail_in;
    const std::size_t made = out_now - s.avail_out;
    input.cursor += used;
    input.left -= used;
    produced += made;
    if (rc < 0) throw EBZDecompressionError(rc);
    if (rc == BZ_STREAM_END) return Outcome::kEnded;
    // With room left and no input, the library waits for bytes that will never come:
    // the stream was cut short.
    if (s.avail_out > 0 && input.Exhausted()) return Outcome::kInputUsedUp;
    if (used == 0 && made == 0 && s.avail_out > 0 && input.left > 0) return Outcome::kInputUsedUp;
  }
}

// True when the input (m bytes) is one complete bzip2 stream that decodes to exactly m bytes.
bool IsStreamOfLength(Input& input, std::size_t m, ByteBlock& out) {
  try {
    Decoder decoder;
    // One spare byte tells "exactly m" from "more than m".
    out.assign(m + 1, 0);
    input.Restart();
    std::size_t produced = 0;
    const Outcome outcome = Pump(decoder, input, out, produced);
    if (outcome != Outcome::kEnded || produced != m || !input.Exhausted()) return false;
    out.resize(m);
    return true;
  } catch (const EBZDecompressionError&) {
    return false;
  }
}

// Reverses CompressBlock for a block of n bytes whose first two and last four
// bytes are `head` and `tail`, its stream read through `input`.
ByteBlock Decompress(Input& input, std::size_t n, const std::uint8_t* head,
                     const std::uint8_t* tail, std::int64_t max_output) {
  if (head[0] != 'B' || head[1] != 'Z') return input.Copy(n);

  const std::int32_t stored = ReadLength(tail);
  const std::size_t m = n - 4;
  if (max_output > kMaxBlockOutput) max_output = kMaxBlockOutput;
  if (max_output < 0) max_output = 0;

  ByteBlock out;
  if (stored >= 0 && static_cast<std::size_t>(stored) == m) {
    // A stored block and a real stream that happens to shrink to exactly its own
    // length look alike; only the stream decodes cleanly to that length.
    if (IsStreamOfLength(input, m, out)) return out;
    ByteBlock().swap(out);
    return input.Copy(m);
  }
  // A recorded length above the limit is refused before anything is decoded:
  // a writer that tells the truth would be refused anyway.
  if (stored > max_output) throw EBZDecompressionError(kBlockTooLarge);

  // The output buffer is sized once from the recorded length when that length is
  // plausible, so peak memory is the input plus the output. One spare byte tells
  // a stream longer than recorded.
  if (stored >= 0 &&
      (stored <= kTrustedLength ||
       static_cast<std::uint64_t>(stored) <= static_cast<std::uint64_t>(m) * kTrustedRatio)) {
    Decoder decoder;
    out.resize(static_cast<std::size_t>(stored) + 1);
    input.Restart();
    std::size_t produced = 0;
    const Outcome outcome = Pump(decoder, input, out, produced);
    if (outcome == Outcome::kInputUsedUp) throw EBZDecompressionError(kBlockTruncated);
    if (outcome == Outcome::kEnded) {
      out.resize(produced);
      // A stream much shorter than recorded gives back the unused room.
      if (out.capacity() - produced > produced / 8 + kGrowthQuantum) out.shrink_to_fit();
      return out;
    }
    // Longer than recorded: the length lied; measure the stream instead.
    ByteBlock().swap(out);
  }

  // A missing, lying or implausible length: a first pass measures the output
  // (refusing it as soon as it passes the limit), a second fills a buffer of
  // exactly that size. Twice the work, never more memory than the output.
  std::size_t length = 0;
  {
    Decoder decoder;
    ByteBlock scratch(kScratchSize, '\0');
    input.Restart();
    for (;;) {
      std::size_t produced = 0;
      const Outcome outcome = Pump(decoder, input, scratch, produced);
      length += produced;
      if (static_cast<std::int64_t>(length) > max_output)
        throw EBZDecompressionError(kBlockTooLarge);
      if (outcome == Outcome::kEnded) break;
      if (outcome == Outcome::kInputUsedUp) throw EBZDecompressionError(kBlockTruncated);
    }
  }
  Decoder decoder;
  out.resize(length + 1);
  input.Restart();
  std::size_t produced = 0;
  if (Pump(decoder, input, out, produced) != Outcome::kEnded || produced != length)
    throw EBZDecompressionError(kBlockTruncated);
  out.resize(produced);
  return out;
}

}  // namespace

EBZCompressionError::EBZCompressionError(int code) : EBZip2Error(CodeMessage(code)) {}

EBZDecompressionError::EBZDecompressionError(int code) : EBZip2Error(CodeMessage(code)) {}

ByteBlock CompressBlock(const void* bytes, std::size_t n, int level) {
  if (n > static_cast<std::size_t>(kMaxBlockOutput)) throw EBZCompressionError(BZ_PARAM_ERROR);
  const auto* in = static_cast<const std::uint8_t*>(bytes);
  ByteBlock block;
  if (level <= 0) {
    block.reserve(n + 4);
    if (n > 0) block.assign(reinterpret_cast<const char*>(in), n);
    AppendLength(block, static_cast<std::uint32_t>(n));
    return block;
  }
  bz_stream s{};
  s.bzalloc = BlockAlloc;
  s.bzfree = BlockFree;
  int rc = BZ2_bzCompressInit(&s, level, kVerbosity, kWorkFactor);
  if (rc != BZ_OK) throw EBZCompressionError(rc);
  block.resize(RoundUp(n + n / 10 + 12, kGrowthQuantum));
  s.next_in = reinterpret_cast<char*>(const_cast<std::uint8_t*>(in));
  s.avail_in = static_cast<unsigned>(n);
  std::size_t produced = 0;
  for (;;) {
    s.next_out = block.data() + produced;
    s.avail_out = static_cast<unsigned>(block.size() - produced);
    const unsigned before = s.avail_out;
    rc = BZ2_bzCompress(&s, BZ_FINISH);
    produced += before - s.avail_out;
    if (rc < 0) {
      BZ2_bzCompressEnd(&s);
      throw EBZCompressionError(rc);
    }
    if (rc == BZ_STREAM_END) break;
    block.resize(block.size() + kGrowthQuantum);
  }
  rc = BZ2_bzCompressEnd(&s);
  if (rc < 0) throw EBZCompressionError(rc);
  block.resize(produced);
  AppendLength(block, static_cast<std::uint32_t>(n));
  return block;
}

ByteBlock DecompressBlock(const void* bytes, std::size_t n, std::int64_t max_output) {
  const auto* in = static_cast<const std::uint8_t*>(bytes);
  if (n < 4) throw EBZDecompressionError(kBlockTooShort);
  Input input(in, n - 4);
  return Decompress(input, n, in, in + n - 4, max_output);
}

ByteBlock DecompressBlockFrom(std::int64_t size, const BlockReader& read, std::int64_t max_output) {
  if (size < 4) throw EBZDecompressionError(kBlockTooShort);
  if (static_cast<std::uint64_t>(size) > std::numeric_limits<std::size_t>::max() / 2)
    throw EBZDecompressionError(kBlockTooLarge);
  const auto n = static_cast<std::size_t>(size);
  std::uint8_t head[2] = {};
  std::uint8_t tail[4] = {};
  if (!read(0, head, 2) || !read(size - 4, tail, 4)) throw EBZDecompressionError(kBlockTruncated);
  Input input(read, n - 4);
  return Decompress(input, n, head, tail, max_output);
}

}  // namespace quorvane
