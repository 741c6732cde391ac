// Compression in slices: the joined blocks are one bzip2 stream that decodes
// to the payload, whatever the data and level; a cancelled run ends between slices.
#include "slice_compressor.h"

#include <gtest/gtest.h>

#include <deque>

#include "server_fixture.h"
#include "transport/bzip_block.h"

namespace quorvane::server::testing {
namespace {

struct Outcome {
  std::optional<std::string> block;
  std::string error;
};

Outcome Compress(const std::string& payload, int level, std::function<bool()> cancelled = {}) {
  Outcome outcome;
  std::deque<std::function<void()>> queue;  // run in turn, as a pool would
  CompressInSlices(
      std::make_shared<const std::string>(payload), level, 2,
      [&](std::function<void()> job) { queue.push_back(std::move(job)); }, std::move(cancelled),
      [&](std::optional<std::string> block, const std::string& error) {
        outcome.block = std::move(block);
        outcome.error = error;
      });
  while (!queue.empty()) {
    auto job = std::move(queue.front());
    queue.pop_front();
    job();
  }
  return outcome;
}

TEST(SliceCompressorTest, TheJoinedSlicesDecodeAsOneStream) {
  std::string runs;  // runs of exactly four: the library's run-length step grows them most
  for (int i = 0; runs.size() < 3 * SliceSize(1) + 5; ++i)
    runs += std::string(4, static_cast<char>('a' + i % 2));
  const struct {
    std::string payload;
    int level;
  } cases[] = {{TextBytes(2 * SliceSize(9) + 12345, 1), 9},
               {runs, 1},
               {NoiseBytes(SliceSize(2) + 1, 2), 2},
               {"short", 9},
               {"", 9}};
  for (const auto& c : cases) {
    const Outcome outcome = Compress(c.payload, c.level);
    ASSERT_TRUE(outcome.block) << outcome.error;
    EXPECT_EQ(DecompressBlock(outcome.block->data(), outcome.block->size()), c.payload)
        << c.payload.size() << " bytes at level " << c.level;
    if (c.payload.size() <= SliceSize(c.level)) {  // one slice: what the library alone makes
      EXPECT_EQ(*outcome.block, CompressBlock(c.payload.data(), c.payload.size(), c.level));
    }
  }
}

TEST(SliceCompressorTest, ACancelledRunStopsBetweenSlicesAndGivesNothing) {
  int asked = 0;
  const Outcome outcome = Compress(TextBytes(20 * SliceSize(1), 3), 1, [&] { return ++asked > 2; });
  EXPECT_FALSE(outcome.block);
  EXPECT_EQ(outcome.error, "cancelled");
  EXPECT_EQ(asked, 3);  // the slices after the cancel were not even asked about
}

}  // namespace
}  // namespace quorvane::server::testing
