#include "slice_compressor.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "transport/bzip_block.h"

namespace quorvane::server {
namespace {

constexpr std::uint64_t kEndOfStream = 0x177245385090;  // 48 bits
constexpr std::uint64_t kHeaderBits = 32;               // "BZh" and the level digit
constexpr std::uint64_t kTrailerBits = 48 + 32;         // end mark and stream CRC
constexpr std::size_t kLengthBytes = 4;                 // after the stream, in the block format

std::uint64_t Bits(const std::string& bytes, std::uint64_t at, int count) {
  std::uint64_t value = 0;
  for (int i = 0; i < count; ++i, ++at)
    value = value << 1 | ((static_cast<unsigned char>(bytes[at >> 3]) >> (7 - (at & 7))) & 1);
  return value;
}

class BitWriter {
 public:
  explicit BitWriter(std::string& out) : out_(out) {}
  void Put(std::uint64_t bits, int count) {  // count <= 32
    pending_ = pending_ << count | (bits & ((std::uint64_t{1} << count) - 1));
    held_ += count;
    while (held_ >= 8) {
      held_ -= 8;
      out_.push_back(static_cast<char>(pending_ >> held_));
    }
    pending_ &= (std::uint64_t{1} << held_) - 1;
  }
  void Copy(const std::string& from, std::uint64_t begin, std::uint64_t end) {
    for (; begin < end && (begin & 7) != 0; ++begin)
      Put(Bits(from, begin, 1), 1);
    for (; begin + 8 <= end; begin += 8)
      Put(static_cast<unsigned char>(from[begin >> 3]), 8);
    for (; begin < end; ++begin)
      Put(Bits(from, begin, 1), 1);
  }
  void Pad() {
    if (held_ > 0) Put(0, 8 - held_);
  }

 private:
  std::string& out_;
  std::uint64_t pending_ = 0;
  int held_ = 0;
};

// The one block of a stream as the library writes it: its bits lie between
// the header and the end mark, which is followed by the CRC and 0-7 zero bits.
struct Block {
  std::uint64_t begin = 0, end = 0;
  std::uint32_t crc = 0;
};

Block FindBlock(const std::string& stream) {
  const std::uint64_t total = stream.size() * 8;
  for (int pad = 0; pad < 8 && total >= kHeaderBits + kTrailerBits + pad; ++pad) {
    const std::uint64_t mark = total - pad - kTrailerBits;
    if (Bits(stream, mark, 48) == kEndOfStream && Bits(stream, total - pad, pad) == 0)
      return {kHeaderBits, mark, static_cast<std::uint32_t>(Bits(stream, mark + 48, 32))};
  }
  throw EBZip2Error("a compressed slice has no end-of-stream mark");
}

std::string Join(const std::vector<std::string>& streams, int level, std::size_t payload_size) {
  std::string out = "BZh";
  out.push_back(static_cast<char>('0' + level));
  BitWriter writer(out);
  std::uint32_t combined = 0;
  for (const std::string& stream : streams) {
    const Block block = FindBlock(stream);
    writer.Copy(stream, block.begin, block.end);
    combined = (combined << 1 | combined >> 31) ^ block.crc;
  }
  writer.Put(kEndOfStream >> 24, 24);
  writer.Put(kEndOfStream & 0xFFFFFF, 24);
  writer.Put(combined, 32);
  writer.Pad();
  for (std::size_t i = 0; i < kLengthBytes; ++i)
    out.push_back(static_cast<char>(payload_size >> (8 * i)));
  return out;
}

struct SliceRun {
  std::shared_ptr<const std::string> payload;
  int level = 9;
  std::size_t slice = 0;
  std::size_t count = 0;
  JobPoster post;
  std::function<bool()> stop;
  CompressedCallback done;
  std::vector<std::string> streams;
  std::atomic<std::size_t> next{0};
  std::atomic<std::size_t> ended{0};
  std::atomic<bool> failed{false};
  std::mutex mutex;
  std::string error;

  void Fail(const std::string& why) {
    std::lock_guard guard(mutex);
    if (!failed.exchange(true)) error = why;
  }
};

void RunSlice(const std::shared_ptr<SliceRun>& run) {
  const std::size_t i = run->next.fetch_add(1);
  if (i >= run->count) return;
  if (!run->failed && run->stop && run->stop()) run->Fail("cancelled");
  if (!run->failed) {
    try {
      const std::size_t at = i * run->slice;
      std::string block = CompressBlock(
          run->payload->data() + at, std::min(run->slice, run->payload->size() - at), run->level);
      block.resize(block.size() - kLengthBytes);
      run->streams[i] = std::move(block);
    } catch (const std::exception& e) {
      run->Fail(e.what());
    }
  }
  if (run->next.load() < run->count) run->post([run] { RunSlice(run); });
  if (run->ended.fetch_add(1) + 1 < run->count) return;
  std::optional<std::string> result;
  std::string error;
  if (!run->failed) {
    try {
      result = Join(run->streams, run->level, run->payload->size());
    } catch (const std::exception& e) {
      error = e.what();
    }
  } else {
    std::lock_guard guard(run->mutex);
    error = run->error;
  }
  run->streams.clear();
  run->done(std::move(result), error);
}

}  // namespace

std::size_t SliceSize(int level) {
  return (std::size_t{100000} * static_cast<std::size_t>(level) - 100) / 5 * 4;
}

void CompressInSlices(std::shared_ptr<const std::string> payload, int level, int parallel,
                      JobPoster post, std::function<bool()> stop, CompressedCallback done) {
  auto run = std::make_shared<SliceRun>();
  run->level = std::clamp(level, 1, 9);
  run->slice = SliceSize(run->level);
  run->count = std::max<std::size_t>(1, (payload->size() + run->slice - 1) / run->slice);
  run->payload = std::move(payload);
  run->post = std::move(post);
  run->stop = std::move(stop);
  run->done = std::move(done);
  run->streams.resize(run->count);
  // The calling job takes the first slice itself: a small payload needs no other.
  const std::size_t jobs = std::min<std::size_t>(run->count, std::max(1, parallel));
  for (std::size_t i = 1; i < jobs; ++i)
    run->post([run] { RunSlice(run); });
  RunSlice(run);
}

}  // namespace quorvane::server
