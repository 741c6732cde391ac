#include "transport/frame_reassembler.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace quorvane {
namespace {

struct Frame {
  std::string payload;
  char kind = ' ';
  char compression = ' ';
  bool failed = false;
};

std::string MakeFrame(const std::string& payload, char kind = 'N', bool compressed = false) {
  return FrameHeader(static_cast<std::int64_t>(payload.size())) + payload +
         FrameTrailer(kind, compressed);
}

std::string Payload(std::size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(size, '\0');
  for (auto& c : s)
    c = static_cast<char>(rng());
  return s;
}

// Keeps what the reassembler hands over.
class RecordingSink : public FrameSink {
 public:
  bool BeginFrame(std::int64_t expected) override {
    current.payload.clear();
    current.payload.reserve(static_cast<std::size_t>(expected));
    ++begun;
    return true;
  }
  bool WritePayload(const std::uint8_t* bytes, std::size_t n) override {
    if (fail_writes) return false;
    current.payload.append(reinterpret_cast<const char*>(bytes), n);
    return true;
  }
  void PayloadProgress(std::int64_t, std::int64_t) override {}
  void EndFrame(const FrameTrailerFields& trailer, bool failed) override {
    current.kind = trailer.kind;
    current.compression = trailer.compression;
    current.failed = failed;
    frames.push_back(current);
  }
  void BadHeader(const std::uint8_t* bytes, std::size_t n) override {
    bad.emplace_back(reinterpret_cast<const char*>(bytes), n);
  }

  bool fail_writes = false;
  int begun = 0;
  Frame current;
  std::vector<Frame> frames;
  std::vector<std::string> bad;
};

void Feed(FrameReassembler& r, const std::string& bytes) {
  r.Feed(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

// Every split of one frame into two deliveries gives back the same frame, for payloads
// around the header wait limit and around the socket read size of 100,000 bytes.
TEST(FrameReassembler, EverySplitPointReassemblesIdentically) {
  for (std::size_t size : {0, 1, 2, 9, 10, 11, 22, 23, 1000, 99'970, 99'990, 100'000}) {
    const std::string payload = Payload(size, static_cast<unsigned>(size));
    const std::string frame = MakeFrame(payload, 'W', true) + MakeFrame("next", 'N', false);
    const std::size_t first_size = frame.size() - 34;
    for (std::size_t split = 0; split <= frame.size(); ++split) {
      RecordingSink sink;
      FrameReassembler r(sink);
      const auto* bytes = reinterpret_cast<const std::uint8_t*>(frame.data());
      r.Feed(bytes, split);
      r.Feed(bytes + split, frame.size() - split);
      ASSERT_EQ(sink.frames.size(), 2u) << "size " << size << " split " << split;
      ASSERT_TRUE(sink.bad.empty());
      ASSERT_TRUE(sink.frames[0].payload == payload) << "size " << size << " split " << split;
      ASSERT_EQ(sink.frames[0].kind, 'W');
      ASSERT_EQ(sink.frames[0].compression, 'C');
      ASSERT_EQ(sink.frames[1].payload, "next");
      ASSERT_FALSE(r.InFrame());
      ASSERT_EQ(r.PendingSize(), 0u);
      if (split < first_size) {
        ASSERT_EQ(sink.begun, 2);
      }
    }
  }
}

TEST(FrameReassembler, EndOfOneFrameAndTwoWholeFramesInOneDelivery) {
  const std::string first = MakeFrame(Payload(500, 1));
  RecordingSink sink;
  FrameReassembler r(sink);
  Feed(r, first.substr(0, 300));
  Feed(r, first.substr(300) + MakeFrame("second", 'T') + MakeFrame("", 'P'));
  ASSERT_EQ(sink.frames.size(), 3u);
  EXPECT_EQ(sink.frames[0].payload, Payload(500, 1));
  EXPECT_EQ(sink.frames[1].payload, "second");
  EXPECT_EQ(sink.frames[1].kind, 'T');
  EXPECT_EQ(sink.frames[2].payload, "");
  EXPECT_EQ(sink.frames[2].kind, 'P');
}

TEST(FrameReassembler, ShortDeliveriesAreKeptUntilAHeaderCanBeRead) {
  const std::string frame = MakeFrame("abc");
  RecordingSink sink;
  FrameReassembler r(sink);
  Feed(r, frame.substr(0, 22));
  EXPECT_EQ(r.PendingSize(), 22u);
  EXPECT_EQ(sink.begun, 0);
  Feed(r, frame.substr(22, 1));
  EXPECT_EQ(sink.begun, 1);
  EXPECT_TRUE(r.InFrame());
  Feed(r, frame.substr(23));
  ASSERT_EQ(sink.frames.size(), 1u);
  EXPECT_EQ(sink.frames[0].payload, "abc");
}

TEST(FrameReassembler, GarbledEndMarkerIsAccepted) {
  std::string frame = MakeFrame("payload", 'N', true);
  frame.replace(frame.size() - 10, 8, "zzzzzzzz");
  RecordingSink sink;
  FrameReassembler r(sink);
  Feed(r, frame);
  ASSERT_EQ(sink.frames.size(), 1u);
  EXPECT_EQ(sink.frames[0].compression, 'C');
}

TEST(FrameReassembler, BadHeaderDiscardsTheDeliveryAndTheNextStartsAfresh) {
  for (const std::string& bad_header :
       {std::string("KDKDKKDXXX0000000033abc"), std::string("KDKDKKDBEG0000000012abcdefgh"),
        std::string("KDKDKKDBEG00000x0033abc"), std::string("KDKDKKDBEG9999999999abc")}) {
    RecordingSink sink;
    FrameReassembler r(sink);
    Feed(r, bad_header + MakeFrame("lost"));
    ASSERT_EQ(sink.bad.size(), 1u) << bad_header;
    // a right start marker consumes the header; a wrong one leaves it in the dump
    const std::size_t consumed = bad_header.starts_with("KDKDKKDBEG") ? 20 : 0;
    EXPECT_EQ(sink.bad[0], bad_header.substr(consumed) + MakeFrame("lost"));
    EXPECT_TRUE(sink.frames.empty());
    EXPECT_EQ(r.PendingSize(), 0u);
    Feed(r, MakeFrame("found"));
    ASSERT_EQ(sink.frames.size(), 1u);
    EXPECT_EQ(sink.frames[0].payload, "found");
  }
}

TEST(FrameReassembler, BadHeaderAfterAGoodFrameKeepsTheGoodFrame) {
  RecordingSink sink;
  FrameReassembler r(sink);
  Feed(r, MakeFrame("good") + "garbage that is long enough to parse");
  ASSERT_EQ(sink.frames.size(), 1u);
  ASSERT_EQ(sink.bad.size(), 1u);
  EXPECT_EQ(sink.bad[0], "garbage that is long enough to parse");
}

TEST(FrameReassembler, FailedWritesStillConsumeTheFrame) {
  RecordingSink sink;
  FrameReassembler r(sink);
  sink.fail_writes = true;
  const std::string frame = MakeFrame(Payload(5000, 3));
  Feed(r, frame.substr(0, 2000));
  Feed(r, frame.substr(2000) + MakeFrame("after").substr(0, 10));
  ASSERT_EQ(sink.frames.size(), 1u);
  EXPECT_TRUE(sink.frames[0].failed);
  sink.fail_writes = false;
  Feed(r, MakeFrame("after").substr(10));
  ASSERT_EQ(sink.frames.size(), 2u);
  EXPECT_FALSE(sink.frames[1].failed);
  EXPECT_EQ(sink.frames[1].payload, "after");
}

// A frame of the largest length: the counts near 2^31 must not wrap.
TEST(FrameReassembler, LargestFrameLengthCompletesWithoutOverflow) {
  class CountingSink : public FrameSink {
   public:
    bool BeginFrame(std::int64_t e) override { return (expected = e), true; }
    bool WritePayload(const std::uint8_t*, std::size_t n) override {
      written += static_cast<std::int64_t>(n);
      return true;
    }
    void PayloadProgress(std::int64_t, std::int64_t) override {}
    void EndFrame(const FrameTrailerFields& t, bool) override { ends.push_back(t.kind); }
    void BadHeader(const std::uint8_t*, std::size_t) override { ++bad; }
    std::int64_t expected = 0, written = 0;
    std::vector<char> ends;
    int bad = 0;
  } sink;
  FrameReassembler r(sink);
  Feed(r, FrameHeader(kMaxFramePayload) + "ppp");
  ASSERT_EQ(sink.expected, kMaxFramePayload);
  const std::vector<std::uint8_t> chunk(1 << 20, 'p');
  std::int64_t left = kMaxFramePayload - 8;
  while (left > 0) {
    const auto n = static_cast<std::size_t>(std::min<std::int64_t>(left, chunk.size()));
    r.Feed(chunk.data(), n);
    left -= static_cast<std::int64_t>(n);
  }
  EXPECT_TRUE(sink.ends.empty());
  Feed(r, "ppppp" + FrameTrailer('T', false) + MakeFrame("z"));
  EXPECT_EQ(sink.written, kMaxFramePayload + 1);
  ASSERT_EQ(sink.ends.size(), 2u);
  EXPECT_EQ(sink.ends[0], 'T');
  EXPECT_EQ(sink.bad, 0);
}

}  // namespace
}  // namespace quorvane
