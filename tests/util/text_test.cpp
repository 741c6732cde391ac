#include "util/text.h"

#include <gtest/gtest.h>

#include "util/codec.h"

namespace quorvane {
namespace {

using namespace quorvane::literals;

TEST(Text, CaseMappingTouchesAsciiLettersOnly) {
  EXPECT_EQ(UpperCase("TxFileSize-09_z"), "TXFILESIZE-09_Z");
  EXPECT_EQ(LowerCase("DB\\TRM\\FST"), "db\\trm\\fst");
  // Accented letters (Windows-1252 bytes above 0x7F) keep their case, as the
  // protocol's ASCII-only case mapping requires.
  EXPECT_EQ(UpperCase("é"_w), "é"_w);
  EXPECT_EQ(LowerCase("É"_w), "É"_w);
  EXPECT_EQ(LowerCase("@[`{"), "@[`{");
  EXPECT_EQ(UpperCase("@[`{"), "@[`{");
}

TEST(Text, TrimRemovesControlsAndBlanksAtBothEnds) {
  EXPECT_EQ(Trim("  \t\r\n 1.0.0.12 \x01"), "1.0.0.12");
  EXPECT_EQ(Trim("a b"), "a b");
  EXPECT_EQ(Trim(" \t "), "");
  EXPECT_EQ(Trim(""), "");
  EXPECT_EQ(Trim("\xA0x\xA0"), "\xA0x\xA0");  // a no-break space is not trimmed
}

TEST(Text, SameTextIgnoresAsciiCaseOnly) {
  EXPECT_TRUE(SameText("TxTypeOfProxy", "TXTYPEOFPROXY"));
  EXPECT_FALSE(SameText("abc", "abcd"));
  EXPECT_FALSE(SameText("é"_w, "É"_w));
  EXPECT_TRUE(SameText("", ""));
}

}  // namespace
}  // namespace quorvane
