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

TEST(InformationRequest, HelpAndVersionAfterTheProgramPath) {
  EXPECT_EQ(InformationRequest({"setup", "--version"}),
            std::string("quorvane-setup ") + kSetupVersion + "\n");
  const std::optional<std::string> help = InformationRequest({"setup", "nofs", "--help"});
  ASSERT_TRUE(help.has_value());
  EXPECT_EQ(help->rfind("usage: quorvane-setup", 0), 0u);
  for (const char* word : {"nofs", "develop", "trgt1", "hide", "english", "french", "--version"})
    EXPECT_NE(help->find(word), std::string::npos) << word;
  // the first of the two decides
  EXPECT_EQ(InformationRequest({"setup", "--version", "--help"}),
            InformationRequest({"s", "--version"}));
  // the program path is no request, nor are other spellings
  EXPECT_EQ(InformationRequest({"--help"}), std::nullopt);
  EXPECT_EQ(InformationRequest({"setup", "-help", "--HELP", "help", "-v", "--versions"}),
            std::nullopt);
  EXPECT_EQ(InformationRequest({}), std::nullopt);
}

#ifdef QUORVANE_PROJECT_VERSION
TEST(InformationRequest, TheVersionIsTheProjects) {
  EXPECT_STREQ(kSetupVersion, QUORVANE_PROJECT_VERSION);
}
#endif

TEST(BuildRestartParameters, BlankBeforeEachArgument) {
  EXPECT_EQ(BuildRestartParameters({"setup", "a", "b"}), " a b");
  EXPECT_EQ(BuildRestartParameters({"setup"}), "");
  EXPECT_EQ(BuildRestartParameters({}), "");
  EXPECT_EQ(BuildRestartParameters({"setup", "with space", ""}), " with space ");
}

}  // namespace
}  // namespace quorvane
