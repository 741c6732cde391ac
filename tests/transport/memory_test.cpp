// Peak heap while decoding and receiving, counted by the benchmarks' counting
// allocator (linked into this program only): legitimate blocks cost their output
// plus their input, hostile ones are refused within the connection's budget.
#include <gtest/gtest.h>

#include <string>

#include "alloc_counter.h"
#include "bombs.h"
#include "model/stream_errors.h"
#include "objects/files.h"
#include "transport/bzip_block.h"
#include "transport/frame_format.h"
#include "transport/objects_stack.h"
#include "transport_fixture.h"

namespace quorvane {
namespace {

constexpr std::size_t kMiB = 1 << 20;
// bzip2's own decoder state for a level-9 stream (its 900 k-entry tables).
constexpr std::size_t kDecoderState = 4 * kMiB;

// The peak heap above what was in use before `run`.
template <typename Run>
std::size_t PeakOf(Run&& run) {
  const std::size_t before = bench::BytesInUse();
  bench::ResetPeak();
  run();
  return bench::PeakBytes() - before;
}

class MemoryTest : public testing::TransportTest {
 protected:
  void SetUp() override {
    TransportTest::SetUp();
    in_ = std::make_unique<TZelConnexionBufferIn>(nullptr);
    in_->SetDeliveryTarget(&stack_);
  }
  void TearDown() override {
    in_.reset();
    TransportTest::TearDown();
  }
  TZelObjectsStackManagerIn stack_{nullptr};
  std::unique_ptr<TZelConnexionBufferIn> in_;
};

// 72 MiB decode into one buffer of exactly that size, whether the recorded
// length is true or a lie; growing a buffer step by step would copy it and hold
// two at once.
TEST_F(MemoryTest, DecompressionPeakIsTheOutputPlusTheInput) {
  constexpr std::uint32_t kSize = 72 * kMiB;
  for (std::int64_t recorded : {std::int64_t{-1}, std::int64_t{1}}) {
    const std::string block = bombs::FileBomb(kSize, recorded);
    std::size_t output = 0;
    const std::size_t peak = PeakOf([&] {
      const ByteBlock out = DecompressBlock(block.data(), block.size());
      output = out.size();
    });
    EXPECT_GT(output, kSize);
    EXPECT_LE(peak, output + block.size() + kDecoderState) << "recorded " << recorded;
  }
}

// A compressed frame of a few hundred bytes claiming 32 MiB against a budget of
// 8 MiB: refused before decoding when the length is told, after measuring at
// most the budget when it lies; either way nothing reaches the stack and the
// heap never holds more than a small slice.
TEST_F(MemoryTest, BombFramesAreRefusedWithinTheBudget) {
  in_->SetMemoryBudget(8 * kMiB);
  const std::int64_t lies[] = {-1, 1000, 0x7FFFFFFF, -2};
  for (std::int64_t recorded : lies) {
    const std::string frame = bombs::CompressedFrame(bombs::FileBomb(32 * kMiB, recorded));
    ASSERT_LT(frame.size(), 4096u);
    const std::size_t peak =
        PeakOf([&] { Deliver(*in_, frame + bombs::CompressedFrame(bombs::FileBomb(10))); });
    EXPECT_LE(peak, kDecoderState + kMiB) << "recorded " << recorded;
    auto object = stack_.Pop();
    ASSERT_NE(object, nullptr) << "the frame behind the bomb is lost";
    EXPECT_EQ(dynamic_cast<TSOFile&>(*object).xData.size(), 10u);
    EXPECT_EQ(stack_.Pop(), nullptr) << "recorded " << recorded;
  }
}

// With the default 1 GiB budget, a block that records 1,000 bytes but holds
// 96 MiB is refused once it passes 64 MiB, after measuring only, while a block
// with no length (0) and an ordinary size still arrives.
TEST_F(MemoryTest, ALyingLengthCostsAtMostTheUnrecordedLimit) {
  const std::string liar = bombs::CompressedFrame(bombs::FileBomb(96 * kMiB, 1000));
  const std::string unrecorded = bombs::CompressedFrame(bombs::FileBomb(100'000, 0));
  const std::size_t peak = PeakOf([&] { Deliver(*in_, liar + unrecorded); });
  EXPECT_LE(peak, kDecoderState + 2 * kMiB);
  auto object = stack_.Pop();
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(dynamic_cast<TSOFile&>(*object).xData.size(), 100'000u);
  EXPECT_EQ(stack_.Pop(), nullptr);
}

// The reader's budget: 4,000,000 empty strings in 8 MB of stream are refused
// before they take more than about the stream's size again.
TEST_F(MemoryTest, EmptyStringBombIsRefusedWithBoundedMemory) {
  std::string stream = bombs::ListPrefix();
  for (int i = 0; i < 4'000'000; ++i)
    stream.append("\x06\x00", 2);
  stream.append(3, '\0');
  const std::size_t peak = PeakOf([&] { EXPECT_THROW(ObjectFromStream(stream), EReadError); });
  EXPECT_LE(peak, 2 * stream.size() + 2 * kReaderOverheadFloor);
}

// A legitimate 8 MiB file object, compressed or not: the receive path holds one
// copy of the decoded stream, which becomes the object's data, plus bzip2's own
// state and one chunk of the frame file; never the compressed bytes beside it.
TEST_F(MemoryTest, LegitimateObjectCostsOneCopyOfItsStream) {
  TSOFile file(nullptr);
  file.xFileName = "setup.dat";
  file.xData.resize(8 * kMiB);
  for (std::size_t i = 0; i < file.xData.size(); ++i)
    file.xData[i] = static_cast<char>("program data "[i % 13] + (i >> 20));
  const std::string stream = ObjectToStream(file);
  const std::string expected = file.xData;
  const std::string compressed =
      bombs::CompressedFrame(CompressBlock(stream.data(), stream.size(), 9));
  const std::string plain =
      FrameHeader(static_cast<std::int64_t>(stream.size())) + stream + FrameTrailer('N', false);
  file.xData.clear();
  file.xData.shrink_to_fit();
  for (const std::string* frame : {&compressed, &plain}) {
    std::unique_ptr<TZelObject> object;
    const std::size_t peak = PeakOf([&] {
      Deliver(*in_, *frame);
      object = stack_.Pop();
    });
    ASSERT_NE(object, nullptr);
    EXPECT_TRUE(dynamic_cast<TSOFile&>(*object).xData == expected);
    EXPECT_LE(peak, stream.size() + kDecoderState + 2 * kMiB)
        << (frame == &plain ? "plain" : "compressed");
  }
}

}  // namespace
}  // namespace quorvane
