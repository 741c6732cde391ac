#include "transport/frame_format.h"

#include <gtest/gtest.h>

#include <string>

namespace quorvane {
namespace {

std::optional<std::int64_t> Parse(const std::string& header) {
  return ParseFrameHeader(reinterpret_cast<const std::uint8_t*>(header.data()), header.size());
}

TEST(FrameFormat, MarkersAreCompleted) {
  CompleteFrameMarkers();
  EXPECT_EQ(FrameStartMarker(), "KDKDKKDBEG");
  EXPECT_EQ(FrameEndMarker(), "KDKDKKDE");
}

TEST(FrameFormat, HeaderCarriesTheWholeFrameLengthInTenDigits) {
  EXPECT_EQ(FrameHeader(0), "KDKDKKDBEG0000000030");
  EXPECT_EQ(FrameHeader(1000), "KDKDKKDBEG0000001030");
  EXPECT_EQ(FrameHeader(1'000'000), "KDKDKKDBEG0001000030");
  EXPECT_EQ(FrameHeader(kMaxFramePayload), "KDKDKKDBEG2147483647");
  EXPECT_THROW(FrameHeader(kMaxFramePayload + 1), std::overflow_error);
  EXPECT_THROW(FrameHeader(-1), std::overflow_error);
}

TEST(FrameFormat, TrailerHoldsKindAndCompression) {
  EXPECT_EQ(FrameTrailer('N', true), "KDKDKKDENC");
  EXPECT_EQ(FrameTrailer('T', false), "KDKDKKDETN");
}

TEST(FrameFormat, ParsesWhatItWrites) {
  for (std::int64_t size : {std::int64_t{0}, std::int64_t{1}, std::int64_t{4999},
                            std::int64_t{100'000}, kMaxFramePayload})
    EXPECT_EQ(Parse(FrameHeader(size)), size);
}

TEST(FrameFormat, BadHeadersAreRefused) {
  EXPECT_FALSE(Parse("KDKDKKDBEG000000003"));    // 19 bytes
  EXPECT_FALSE(Parse("KDKDKKDbeg0000000030"));   // marker case
  EXPECT_FALSE(Parse("XDKDKKDBEG0000000030"));   // marker
  EXPECT_FALSE(Parse("KDKDKKDBEG00000000 30"));  // blank inside the digits
  EXPECT_FALSE(Parse("KDKDKKDBEG+000000030"));   // sign
  EXPECT_FALSE(Parse("KDKDKKDBEG-000000001"));   // negative
  EXPECT_FALSE(Parse("KDKDKKDBEG0000000029"));   // shorter than header + trailer
  EXPECT_FALSE(Parse("KDKDKKDBEG0000000000"));
  EXPECT_FALSE(Parse("KDKDKKDBEG2147483648"));  // beyond signed 32 bits
  EXPECT_FALSE(Parse("KDKDKKDBEG9999999999"));
  EXPECT_EQ(Parse("KDKDKKDBEG0000000030 and more"), 0);  // bytes after the header are ignored
}

TEST(FrameFormat, TrailerFieldsAreTakenWithoutCheckingTheMarker) {
  const std::string garbled = "xxxxxxxxWC";
  const auto fields = ParseFrameTrailer(reinterpret_cast<const std::uint8_t*>(garbled.data()));
  EXPECT_EQ(fields.kind, 'W');
  EXPECT_EQ(fields.compression, 'C');
}

}  // namespace
}  // namespace quorvane
