#include "transport/bzip_block.h"

#include <gtest/gtest.h>

#include <bzlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>

#include "support/temp_folder.h"

namespace quorvane {
namespace {

ByteBlock Bytes(std::string_view text) {
  return ByteBlock(text);
}

ByteBlock Compress(const ByteBlock& data, int level) {
  return CompressBlock(data.data(), data.size(), level);
}

ByteBlock Decompress(const ByteBlock& block) {
  return DecompressBlock(block.data(), block.size());
}

// Text that compresses well but not trivially, like serialized objects do.
ByteBlock SampleData(std::size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  static const char* kWords[] = {"TSOFile", "xsFileName", "ZelItems", "MERXID", "Def", "\x01\x02"};
  ByteBlock out;
  while (out.size() < size) {
    std::string_view w = kWords[rng() % 6];
    out.insert(out.end(), w.begin(), w.end());
    out.push_back(static_cast<char>(rng()));
  }
  out.resize(size);
  return out;
}

ByteBlock RandomData(std::size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  ByteBlock out(size, '\0');
  for (auto& b : out)
    b = static_cast<char>(rng());
  return out;
}

std::uint32_t TrailingLength(const ByteBlock& block) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(block.data() + block.size() - 4);
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

TEST(BzipBlock, AbcRoundTripsAtLevelNine) {
  const ByteBlock block = Compress(Bytes("abc"), 9);
  ASSERT_GT(block.size(), 8u);
  EXPECT_EQ(std::string(block.begin(), block.begin() + 4), "BZh9");
  EXPECT_EQ(ByteBlock(block.end() - 4, block.end()), (ByteBlock{3, 0, 0, 0}));
  EXPECT_EQ(Decompress(block), Bytes("abc"));
}

TEST(BzipBlock, LevelZeroStoresAndPassesThrough) {
  const ByteBlock block = Compress(Bytes("abc"), 0);
  EXPECT_EQ(block, (ByteBlock{'a', 'b', 'c', 3, 0, 0, 0}));
  // It does not begin with "BZ", so it comes back whole, length included.
  EXPECT_EQ(Decompress(block), block);
  EXPECT_EQ(Compress(Bytes("abc"), -3), block);
}

TEST(BzipBlock, EveryLevelRoundTripsAndRecordsTheLength) {
  const ByteBlock data = SampleData(300'000, 1);
  for (int level = 1; level <= 9; ++level) {
    const ByteBlock block = Compress(data, level);
    EXPECT_EQ(block[3], '0' + level);
    EXPECT_EQ(TrailingLength(block), data.size());
    EXPECT_LT(block.size(), data.size());
    EXPECT_EQ(Decompress(block), data) << "level " << level;
  }
}

TEST(BzipBlock, EmptyAndIncompressibleInputRoundTrip) {
  EXPECT_EQ(Decompress(Compress({}, 9)), ByteBlock{});
  const ByteBlock noise = RandomData(70'000, 2);
  const ByteBlock block = Compress(noise, 9);
  EXPECT_GT(block.size(), noise.size());  // the worst case still fits its first buffer
  EXPECT_EQ(Decompress(block), noise);
}

TEST(BzipBlock, LevelAboveNineIsACompressionError) {
  const ByteBlock data = Bytes("abc");
  try {
    CompressBlock(data.data(), data.size(), 10);
    FAIL() << "level 10 was accepted";
  } catch (const EBZCompressionError& e) {
    EXPECT_STREQ(e.what(), "error -2");
  }
}

TEST(BzipBlock, WrongOrMissingRecordedLengthStillDecompresses) {
  const ByteBlock data = SampleData(123'457, 3);
  ByteBlock block = Compress(data, 9);
  for (std::uint32_t stored : {0xFFFFFFFFu, 0u, 7u, 1'000'000'000u}) {
    for (int i = 0; i < 4; ++i)
      block[block.size() - 4 + i] = static_cast<char>(stored >> (8 * i));
    EXPECT_EQ(Decompress(block), data) << "recorded length " << stored;
  }
}

TEST(BzipBlock, ShortAndTruncatedBlocksAreDecompressionErrors) {
  EXPECT_THROW(DecompressBlock("", 0), EBZDecompressionError);
  EXPECT_THROW(DecompressBlock("BZh", 3), EBZDecompressionError);
  EXPECT_THROW(DecompressBlock("ab", 2), EBZDecompressionError);
  // "BZh9" as a whole 'C' payload: a stream header with nothing behind it.
  EXPECT_THROW(DecompressBlock("BZh9", 4), EBZDecompressionError);
  const ByteBlock block = Compress(SampleData(50'000, 4), 9);
  for (std::size_t cut : {std::size_t{10}, block.size() / 2, block.size() - 6}) {
    ByteBlock truncated(block.begin(), block.begin() + cut);
    const ByteBlock length(block.end() - 4, block.end());
    truncated.insert(truncated.end(), length.begin(), length.end());
    EXPECT_THROW(Decompress(truncated), EBZDecompressionError) << "cut at " << cut;
  }
}

TEST(BzipBlock, OutputAboveTheLimitIsRefused) {
  const ByteBlock zeros(1'000'000, 0);
  const ByteBlock block = Compress(zeros, 9);
  EXPECT_THROW(DecompressBlock(block.data(), block.size(), 999'999), EBZDecompressionError);
  EXPECT_EQ(DecompressBlock(block.data(), block.size(), 1'000'000), zeros);
  // A lying recorded length does not let the output pass the limit either.
  ByteBlock lying = block;
  for (int i = 1; i <= 4; ++i)
    lying[lying.size() - i] = 0;
  EXPECT_THROW(DecompressBlock(lying.data(), lying.size(), 500'000), EBZDecompressionError);
}

// A recorded length above the limit is refused before a byte is decoded: the
// body here is not even a valid stream, and the refusal names the size, not the data.
TEST(BzipBlock, RecordedLengthAboveTheLimitIsRefusedBeforeDecoding) {
  ByteBlock block = Compress(SampleData(10'000, 9), 9);
  for (std::size_t i = 10; i < block.size() - 4; ++i)
    block[i] = static_cast<char>(i * 7);
  const std::uint32_t claimed = 10'000'000;
  for (int i = 0; i < 4; ++i)
    block[block.size() - 4 + i] = static_cast<char>(claimed >> (8 * i));
  try {
    DecompressBlock(block.data(), block.size(), 1'000'000);
    FAIL() << "accepted";
  } catch (const EBZDecompressionError& e) {
    EXPECT_EQ(std::string(e.what()), "error " + std::to_string(kBlockTooLarge));
  }
}

// An output longer than its recorded length is measured and then decoded into a
// buffer of exactly its size; a shorter one is trimmed.
TEST(BzipBlock, LyingLengthsStillGiveTheWholeOutputInAnExactBuffer) {
  const ByteBlock data = SampleData(300'000, 10);
  ByteBlock block = Compress(data, 9);
  for (std::uint32_t stored : {1u, 299'999u, 300'001u, 5'000'000u}) {
    for (int i = 0; i < 4; ++i)
      block[block.size() - 4 + i] = static_cast<char>(stored >> (8 * i));
    const ByteBlock out = DecompressBlock(block.data(), block.size());
    EXPECT_EQ(out, data) << stored;
    EXPECT_LE(out.capacity(), data.size() + data.size() / 8 + 256) << stored;
  }
}

// A real stream whose compressed size equals its uncompressed length must not be
// taken for a stored block. Search sample sizes until the two lengths collide.
TEST(BzipBlock, StreamWhoseSizeEqualsItsLengthIsDecompressed) {
  int collisions = 0;
  for (unsigned seed = 0; seed < 400 && collisions < 3; ++seed) {
    std::mt19937 rng(seed);
    const std::size_t size = 40 + rng() % 200;
    ByteBlock data = RandomData(size, seed);
    // Mildly compressible: random bytes over a small alphabet.
    for (auto& b : data)
      b = static_cast<char>('a' + static_cast<std::uint8_t>(b) % 24);
    const ByteBlock block = Compress(data, 9);
    if (block.size() - 4 != data.size()) continue;
    ++collisions;
    EXPECT_EQ(Decompress(block), data) << "seed " << seed;
  }
  ASSERT_GT(collisions, 0) << "no colliding sample found";
}

TEST(BzipBlock, StoredBlockThatLooksLikeAStreamStaysStored) {
  // Plain data that begins with "BZh9" stored at level 0.
  const ByteBlock data = Bytes("BZh91AY&SY not a stream at all");
  const ByteBlock block = Compress(data, 0);
  EXPECT_EQ(Decompress(block), data);
  // A real stream stored at level 0 keeps its stored form: it decodes to other bytes.
  const ByteBlock inner = Compress(SampleData(1000, 6), 9);
  const ByteBlock stream(inner.begin(), inner.end() - 4);
  EXPECT_EQ(Decompress(Compress(stream, 0)), stream);
}

// A block read through a reader (a frame file) decodes exactly as the same bytes
// in memory, refusals included, while the reader is asked for at most a chunk
// at a time: the compressed stream is never held whole.
TEST(BzipBlock, BlockReadPieceByPieceDecodesAsInMemory) {
  struct Case {
    std::string name;
    ByteBlock block;
    std::int64_t limit = kMaxBlockOutput;
  };
  std::vector<Case> cases;
  const ByteBlock noise = RandomData(3'000'000, 21);  // > 2 chunks even compressed
  cases.push_back({"noise", Compress(noise, 9)});
  cases.push_back({"sample", Compress(SampleData(700'000, 22), 9)});
  cases.push_back({"stored", Compress(SampleData(5'000, 23), 0)});
  cases.push_back(
      {"stored stream", Compress(ByteBlock(cases[1].block.begin(), cases[1].block.end() - 4), 0)});
  for (std::uint32_t stored : {0u, 1u, 699'999u, 5'000'000u, 0xFFFFFFFFu}) {
    ByteBlock lying = cases[1].block;
    for (int i = 0; i < 4; ++i)
      lying[lying.size() - 4 + i] = static_cast<char>(stored >> (8 * i));
    cases.push_back({"length " + std::to_string(stored), lying});
  }
  ByteBlock cut(cases[0].block.begin(), cases[0].block.begin() + 1'500'000);
  cut.insert(cut.end(), cases[0].block.end() - 4, cases[0].block.end());
  cases.push_back({"cut", cut});
  cases.push_back({"over the limit", cases[1].block, 699'999});
  cases.push_back({"too short", Bytes("BZh")});

  for (const Case& c : cases) {
    std::size_t largest_read = 0;
    const BlockReader read = [&](std::int64_t offset, void* buffer, std::size_t count) {
      largest_read = std::max(largest_read, count);
      if (offset < 0 || static_cast<std::size_t>(offset) + count > c.block.size()) return false;
      std::memcpy(buffer, c.block.data() + offset, count);
      return true;
    };
    std::string expected;
    try {
      expected = DecompressBlock(c.block.data(), c.block.size(), c.limit);
    } catch (const EBZDecompressionError& e) {
      expected = std::string("refused: ") + e.what();
    }
    std::string got;
    try {
      got = DecompressBlockFrom(static_cast<std::int64_t>(c.block.size()), read, c.limit);
    } catch (const EBZDecompressionError& e) {
      got = std::string("refused: ") + e.what();
    }
    EXPECT_TRUE(got == expected) << c.name << ": " << got.substr(0, 40) << " / "
                                 << expected.substr(0, 40);
    if (c.block.size() > 2 && c.block[0] == 'B' && c.block[1] == 'Z') {
      EXPECT_LE(largest_read, std::size_t{1} << 20) << c.name;
    }
  }
  EXPECT_EQ(DecompressBlockFrom(static_cast<std::int64_t>(cases[0].block.size()),
                                [&](std::int64_t o, void* b, std::size_t n) {
                                  std::memcpy(b, cases[0].block.data() + o, n);
                                  return true;
                                }),
            noise);
  // A read that fails (a frame file cut under us) is a decompression error.
  std::size_t reads = 0;
  EXPECT_THROW(DecompressBlockFrom(static_cast<std::int64_t>(cases[0].block.size()),
                                   [&](std::int64_t o, void* b, std::size_t n) {
                                     if (++reads > 3) return false;
                                     std::memcpy(b, cases[0].block.data() + o, n);
                                     return true;
                                   }),
               EBZDecompressionError);
}

// The reference bzip2 program reads our streams and writes streams we read.
class BzipToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("bzip2 --help >/dev/null 2>&1") != 0) GTEST_SKIP() << "no bzip2 program";
    temp_.emplace("bzip_tool");
    dir_ = temp_->path();
  }
  void TearDown() override { temp_.reset(); }

  static void WriteFile(const std::filesystem::path& p, const char* data, std::size_t n) {
    std::ofstream out(p, std::ios::binary);
    out.write(data, static_cast<std::streamsize>(n));
  }
  static ByteBlock ReadFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return ByteBlock(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  std::optional<testing::TempFolder> temp_;
  std::filesystem::path dir_;
};

TEST_F(BzipToolTest, ToolDecompressesOurBlockWithoutItsLength) {
  const ByteBlock data = SampleData(250'000, 7);
  const ByteBlock block = Compress(data, 9);
  WriteFile(dir_ / "ours.bz2", block.data(), block.size() - 4);
  ASSERT_EQ(std::system(("bzip2 -d -k " + (dir_ / "ours.bz2").string()).c_str()), 0);
  EXPECT_EQ(ReadFile(dir_ / "ours"), data);
}

TEST_F(BzipToolTest, BlockFromToolStreamWithLengthIsAccepted) {
  const ByteBlock data = SampleData(180'000, 8);
  WriteFile(dir_ / "theirs", data.data(), data.size());
  ASSERT_EQ(std::system(("bzip2 -9 -k " + (dir_ / "theirs").string()).c_str()), 0);
  ByteBlock block = ReadFile(dir_ / "theirs.bz2");
  const auto n = static_cast<std::uint32_t>(data.size());
  for (int i = 0; i < 4; ++i)
    block.push_back(static_cast<char>(n >> (8 * i)));
  EXPECT_EQ(Decompress(block), data);
}

}  // namespace
}  // namespace quorvane
