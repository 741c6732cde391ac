#include <gtest/gtest.h>

#include "model/object_stream.h"
#include "objects/answers.h"
#include "objects/files.h"
#include "objects_test_support.h"

namespace quorvane {
namespace {

using test::StreamName;
using AnswersTest = test::ObjectsTest;

TEST_F(AnswersTest, AnswerItemsAreNameEqualsValueLinesInOrder) {
  TZelSObjectAnswer answer;
  answer.ZelWhat = "Fin";
  EXPECT_EQ(ObjectToStream(answer).find("ZelItems"), std::string::npos);
  answer.AddItem("MERXID", "");
  answer.AddItem("Phase", "2");
  EXPECT_EQ(answer.ZelItems->Lines(), (std::vector<std::string>{"MERXID=", "Phase=2"}));
  const std::string stream = ObjectToStream(answer);
  EXPECT_NE(stream.find(StreamName("ZelItems.Strings") +
                        test::Bytes("\x01\x06\x07MERXID=\x06\x07Phase=2\x00")),
            std::string::npos);
  auto copy = ObjectFromStream(stream);
  auto& read = dynamic_cast<TZelSObjectAnswer&>(*copy);
  EXPECT_EQ(read.ZelItems->Value("Phase"), "2");
  EXPECT_EQ(read.ZelWhat, "Fin");
}

TEST_F(AnswersTest, QueuedWaitWritesNoStateAndAReaderKeepsQueued) {
  TZelSObjectWait wait;
  wait.xWhat = "setup";
  EXPECT_EQ(ObjectToStream(wait).find("xTypeProcessing"), std::string::npos);
  wait.xTypeProcessing = towp_ErrorConNotFound;
  EXPECT_NE(ObjectToStream(wait).find(StreamName("xTypeProcessing") + "\x07" +
                                      StreamName("towp_ErrorConNotFound")),
            std::string::npos);
  wait.xTypeProcessing = towp_Queued;
  auto copy = ObjectFromStream(ObjectToStream(wait));
  EXPECT_EQ(dynamic_cast<TZelSObjectWait&>(*copy).xTypeProcessing, towp_Queued);
}

TEST_F(AnswersTest, WaitCaptionFollowsTheState) {
  TZelSObjectWait wait;
  wait.xWhat = "setup";
  EXPECT_EQ(wait.Caption(), "setup en attente ...");
  wait.xTypeProcessing = towp_Processing;
  EXPECT_EQ(wait.Caption(), "0% setup en cours ...");
  wait.xTypeProcessing = towp_ErrorFileNotFound;
  EXPECT_EQ(wait.Caption(), "setup Fichier introuvable !");
  wait.xTypeProcessing = towp_ErrorConNotFound;
  EXPECT_EQ(wait.Caption(), "setup Impossible de trouver une connexion directe !");
}

TEST_F(AnswersTest, WaitTakesTheRemoteFileFactsButOnlyTheIdOfOtherObjects) {
  TZelObject source;
  source.SetId("{11111111-2222-3333-4444-555555555555}");
  TZelSObjectRemoteFile remote;
  remote.xDescription = "Manuel";
  remote.xFileSize = 4096;
  remote.xsMERXIDOwner = "{AAAAAAAA-2222-3333-4444-555555555555}";
  TZelSObjectWait wait;
  wait.FillFromRemoteFile(remote, source);
  EXPECT_EQ(wait.GetId(), source.GetId());
  EXPECT_EQ(wait.xWhat, "Manuel");
  EXPECT_EQ(wait.xMax, 4096);
  EXPECT_EQ(wait.xsMERXIDOwner, remote.xsMERXIDOwner);

  TSOFile file;
  file.xFileName = "a.txt";
  TZelSObjectWait other;
  other.FillFromRemoteFile(file, source);
  EXPECT_EQ(other.GetId(), source.GetId());
  EXPECT_EQ(other.xWhat, "");
}

TEST_F(AnswersTest, DataSetAnswerRowsAndFlags) {
  TZelObject owner;
  TZelSObjectDataSetAnswer answer(&owner);
  EXPECT_EQ(answer.xRecords->answer, &answer);
  answer.xRecords->Add().SetH("a");
  answer.xRecords->Add().SetD("b");
  EXPECT_EQ(answer.RecordCount(), 2);
  EXPECT_EQ(answer.RecNo(), 1);
  EXPECT_TRUE(answer.IsValidRow(1));
  EXPECT_FALSE(answer.IsValidRow(2));
  EXPECT_FALSE(answer.IsValidRow(-1));

  // Booleans without a declared default are written even when false.
  EXPECT_NE(ObjectToStream(answer).find(StreamName("xIsSearchResult") + "\x08"), std::string::npos);
}

}  // namespace
}  // namespace quorvane
