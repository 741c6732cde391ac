#include "app/command_line.h"

#include <gtest/gtest.h>

#include "settings/settings.h"
#include "ui/hermetic_folder.h"

namespace quorvane {
namespace {

using CommandLineTest = HermeticFolderTest;

TEST_F(CommandLineTest, WordsBecomeTheFlagStringInOrder) {
  EXPECT_EQ(ParseCommandLine({"/opt/q/quorvane-setup", "nofs", "hide"}), "NOFSHIDE");
  EXPECT_EQ(ParseCommandLine({"setup", "TrGt3", "develop", "nores", "tst", "trgt1"}),
            "TRGT3DEVELOPNORESTSTTRGT1");
  EXPECT_EQ(ParseCommandLine({"setup", "hide", "hide"}), "HIDEHIDE");
  EXPECT_EQ(ParseCommandLine({"setup"}), "");
  EXPECT_EQ(ParseCommandLine({}), "");
}

TEST_F(CommandLineTest, OnlyWholeWordsCount) {
  EXPECT_EQ(ParseCommandLine({"setup", "trgt4", "/nofs", "nofs2", "hidden", "-hide", ""}), "");
  // The program path is compared too, but is never one of the words in practice.
  EXPECT_EQ(ParseCommandLine({"nofs"}), "NOFS");
}

TEST_F(CommandLineTest, LanguageWordsWriteTheSettingLastOneWins) {
  SetLanguage(7);
  EXPECT_EQ(ParseCommandLine({"setup", "ENGLISH"}), "");
  EXPECT_EQ(ReadIntSetting(kSettingLanguage), kLanguageEnglish);
  EXPECT_EQ(ParseCommandLine({"setup", "english", "nofs", "french"}), "NOFS");
  EXPECT_EQ(ReadIntSetting(kSettingLanguage), kLanguageFrench);
  EXPECT_FALSE(IsEnglish());
  ParseCommandLine({"setup", "nofs"});  // no word: the choice stays
  EXPECT_EQ(ReadIntSetting(kSettingLanguage), kLanguageFrench);
}

TEST(BuildRestartParameters, BlankBeforeEachArgument) {
  EXPECT_EQ(BuildRestartParameters({"setup", "a", "b"}), " a b");
  EXPECT_EQ(BuildRestartParameters({"setup"}), "");
  EXPECT_EQ(BuildRestartParameters({}), "");
  EXPECT_EQ(BuildRestartParameters({"setup", "with space", ""}), " with space ");
}

}  // namespace
}  // namespace quorvane
