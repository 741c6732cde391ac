#include "util/codec.h"

#include <gtest/gtest.h>

namespace quorvane {
namespace {

using namespace quorvane::literals;

TEST(Codec, EveryByteRoundTripsThroughUtf8) {
  for (int b = 0; b < 256; ++b) {
    const std::string one(1, static_cast<char>(b));
    const std::string utf8 = Cp1252ToUtf8(one);
    EXPECT_EQ(Utf8ToCp1252(utf8), one) << "byte " << b;
    EXPECT_EQ(Cp1252ByteOf(Cp1252CodePoint(static_cast<unsigned char>(b))), b);
  }
}

TEST(Codec, HighControlsMapToTheirCharacters) {
  EXPECT_EQ(Cp1252ToUtf8("\x80"), "\u20AC");  // euro sign
  EXPECT_EQ(Cp1252ToUtf8("\x9C"), "\u0153");  // oe ligature
  EXPECT_EQ(Cp1252ToUtf8("\xE9"), "\u00E9");
  // The five bytes Windows leaves undefined stay the C1 control of that value.
  EXPECT_EQ(Cp1252CodePoint(0x81), U'\u0081');
  EXPECT_EQ(Cp1252CodePoint(0x9D), U'\u009D');
  // A C1 control that Windows-1252 uses for a letter is not representable.
  EXPECT_EQ(Cp1252ByteOf(U'\u0080'), -1);
}

TEST(Codec, UnmappableCharactersBecomeTheReplacement) {
  EXPECT_EQ(Utf8ToCp1252("a\u4E2Db"), "a?b");
  EXPECT_EQ(Utf8ToCp1252("\U0001F600"), "?");  // one replacement for a 4-byte character
  EXPECT_EQ(Utf8ToCp1252("\u0100"), "?");
}

TEST(Codec, MalformedUtf8NeverFailsAndKeepsTheRest) {
  EXPECT_EQ(Utf8ToCp1252("a\xC3"), "a?");               // truncated sequence at the end
  EXPECT_EQ(Utf8ToCp1252("\xC3(x"), "?(x");             // bad continuation byte
  EXPECT_EQ(Utf8ToCp1252("\xC0\xA9"), "??");            // overlong form of U+0029
  EXPECT_EQ(Utf8ToCp1252("\xED\xA0\x80"), "???");       // UTF-16 surrogate
  EXPECT_EQ(Utf8ToCp1252("\xF4\x90\x80\x80"), "????");  // above U+10FFFF
  EXPECT_EQ(Utf8ToCp1252("\xFF\xFE"), "??");
  EXPECT_EQ(Utf8ToCp1252("\x80z"), "?z");  // stray continuation byte
  EXPECT_EQ(Utf8ToCp1252(std::string_view("a\0b", 3)), std::string("a\0b", 3));
}

TEST(Codec, LiteralConvertsAccentedSourceText) {
  EXPECT_EQ("Numéro"_w, "Num\xE9ro");
  EXPECT_EQ("€ œ Ÿ"_w, "\x80 \x9C \x9F");
  EXPECT_EQ(""_w, "");
  EXPECT_EQ(Cp1252ToUtf8("Marié(e)"_w), "Marié(e)");
}

}  // namespace
}  // namespace quorvane
