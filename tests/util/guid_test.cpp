#include "util/guid.h"

#include <gtest/gtest.h>

#include <set>

#include "util/errors.h"

namespace quorvane {
namespace {

TEST(Guid, TextFormRoundTripsAndIsUpperCase) {
  for (int i = 0; i < 100; ++i) {
    const Guid guid = NewGuid();
    const std::string text = GuidToString(guid);
    ASSERT_EQ(text.size(), 38u);
    EXPECT_EQ(text.find_first_of("abcdef"), std::string::npos) << text;
    EXPECT_EQ(GuidFromString(text), guid);
  }
}

TEST(Guid, ByteOrderFollowsTheWindowsLayout) {
  Guid guid;
  for (std::size_t i = 0; i < 16; ++i)
    guid.bytes[i] = static_cast<std::uint8_t>(i);
  EXPECT_EQ(GuidToString(guid), "{03020100-0504-0706-0809-0A0B0C0D0E0F}");
  // The server user: every byte zero but the last, which is 2.
  Guid server;
  server.bytes[15] = 2;
  EXPECT_EQ(GuidToString(server), "{00000000-0000-0000-0000-000000000002}");
  EXPECT_FALSE(server.IsNull());
  EXPECT_TRUE(Guid{}.IsNull());
  EXPECT_EQ(GuidToString(Guid{}), kNullIdText);
}

TEST(Guid, ParsingAcceptsEitherCaseOfHexDigits) {
  EXPECT_EQ(GuidToString(GuidFromString("{0a0b0c0d-aBcD-ef01-2345-6789abcdefAB}")),
            "{0A0B0C0D-ABCD-EF01-2345-6789ABCDEFAB}");
}

TEST(Guid, MalformedTextsRaiseConvertError) {
  const char* bad[] = {
      "",
      "{00000000-0000-0000-0000-00000000000}",    // 37 characters
      "{00000000-0000-0000-0000-0000000000000}",  // 39 characters
      "00000000-0000-0000-0000-000000000000",     // no braces
      "(00000000-0000-0000-0000-000000000000)",
      "{00000000-0000-0000-0000-00000000000G}",
      "{00000000+0000-0000-0000-000000000000}",
      "{000000000000-0000-0000-0000-00000000}",  // hyphens misplaced
      "{00000000-0000-0000-0000-0000000000 0}",
  };
  for (const char* text : bad)
    EXPECT_THROW(GuidFromString(text), EConvertError) << text;
}

TEST(Guid, ConvertErrorNamesTheText) {
  try {
    GuidFromString("{bad}");
    FAIL() << "no exception";
  } catch (const EConvertError& error) {
    EXPECT_NE(std::string(error.what()).find("{bad}"), std::string::npos);
  }
}

TEST(Guid, NewGuidsAreVersion4AndDistinct) {
  std::set<Guid> seen;
  for (int i = 0; i < 1000; ++i) {
    const Guid guid = NewGuid();
    EXPECT_EQ(guid.bytes[7] >> 4, 4);
    EXPECT_EQ(guid.bytes[8] & 0xC0, 0x80);
    EXPECT_TRUE(seen.insert(guid).second);
  }
}

TEST(Guid, FileSafeFormReplacesBracesAndHyphens) {
  EXPECT_EQ(FileSafeId("{0A0B0C0D-ABCD-EF01-2345-6789ABCDEFAB}"),
            "N0A0B0C0DXABCDXEF01X2345X6789ABCDEFABZ");
  EXPECT_EQ(FileSafeId(""), "");
  EXPECT_EQ(FileSafeId("a-b"), "aXb");
}

}  // namespace
}  // namespace quorvane
