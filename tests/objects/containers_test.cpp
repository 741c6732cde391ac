#include <gtest/gtest.h>

#include "model/object_stream.h"
#include "objects/answers.h"
#include "objects/containers.h"
#include "objects/conversations.h"
#include "objects_test_support.h"
#include "util/codec.h"

namespace quorvane {
namespace {

using namespace literals;
using test::StreamName;
using ContainersTest = test::ObjectsTest;

std::unique_ptr<TZelSObjectWait> SampleWait() {
  auto wait = std::make_unique<TZelSObjectWait>();
  wait->SetId("{11111111-2222-3333-4444-555555555555}");
  wait->xWhat = "setup";
  wait->xTypeProcessing = towp_ErrorFileNotFound;
  return wait;
}

TEST_F(ContainersTest, ContainerRecreatesItsInnerObjectOnEveryCall) {
  TZelObject root;
  test::RecordingStore store;
  root.SetDataTransfer(&store);
  TZelSOContainer container(&root);
  EXPECT_EQ(container.Object(), nullptr);

  container.SetObject(*SampleWait());
  EXPECT_EQ(container.GetId(), "{11111111-2222-3333-4444-555555555555}");
  EXPECT_EQ(container.Caption(), "setup Fichier introuvable !");
  auto* inner = dynamic_cast<TZelSObjectWait*>(container.Object());
  ASSERT_NE(inner, nullptr);
  EXPECT_EQ(inner->Parent(), &container);
  EXPECT_EQ(inner->DataTransfer(), &store);
  inner->xWhat = "changed";
  auto* again = dynamic_cast<TZelSObjectWait*>(container.Object());
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->xWhat, "setup");
}

TEST_F(ContainersTest, UnreadableBlobGivesNoInnerObject) {
  TZelSOContainer container;
  container.xRef->Data() = "TPF0 not a stream";
  EXPECT_EQ(container.Object(), nullptr);
  EXPECT_EQ(container.Caption(), "");
}

TEST_F(ContainersTest, InnerObjectDoesNotTravelWithTheContainer) {
  TZelSOContainer container;
  container.SetObject(*SampleWait());
  const std::string stream = ObjectToStream(container);
  EXPECT_EQ(stream.find("ObjectData"), std::string::npos);
  EXPECT_EQ(stream.find("xRef"), std::string::npos);
  auto copy = ObjectFromStream(stream);
  auto& read = dynamic_cast<TZelSOContainer&>(*copy);
  EXPECT_EQ(read.GetId(), container.GetId());
  EXPECT_TRUE(read.xRef->Data().empty());
  EXPECT_EQ(read.Object(), nullptr);
}

TEST_F(ContainersTest, CloneCompressesTheBlobAroundTheCopyAndPassesTheInnerObject) {
  TZelObject root;
  test::RecordingStore store;
  root.SetDataTransfer(&store);
  TZelSOContainer container(&root);
  container.SetObject(*SampleWait());
  const std::string bytes = container.xRef->Data();

  std::unique_ptr<TZelObject> copy = container.Clone();
  EXPECT_EQ(store.compress_calls, 1);
  EXPECT_EQ(store.decompress_calls, 1);
  EXPECT_EQ(store.last_level, 1);
  EXPECT_EQ(container.xRef->Data(), bytes);
  auto& cloned = dynamic_cast<TZelSOContainer&>(*copy);
  EXPECT_EQ(cloned.xRef->Data(), bytes);
  EXPECT_EQ(cloned.Caption(), "setup Fichier introuvable !");
}

TEST_F(ContainersTest, BlobBytesTravelUnchangedAndReplaceOldOnes) {
  TZelSOObjectAsBlob empty;
  EXPECT_NE(ObjectToStream(empty).find(StreamName("ObjectData") + test::Bytes("\x0A\0\0\0\0")),
            std::string::npos);

  TZelSOObjectAsBlob blob;
  blob.Data() = std::string("\0\x01\xFFTPF0", 7);
  const std::string stream = ObjectToStream(blob);
  TZelSOObjectAsBlob target;
  target.Data() = std::string(50, 'x');
  TBinStream bin;
  bin.Bytes() = stream;
  bin.ReadObjectInto(target);
  EXPECT_EQ(target.Data(), blob.Data());
}

TEST_F(ContainersTest, QueryCaptions) {
  TZelSObjectQueryAutorisation query;
  query.SetZelUserFromNickName("Bob");
  query.ZelTypeOfAutorisation = tvoa_PHONE;
  EXPECT_EQ(query.Caption(), "Appel téléphonique reçu de Bob"_w);
  query.ZelTypeOfAutorisation = tvoa_Nop;
  EXPECT_EQ(query.Caption(), " inconnu reçu de Bob"_w);
  query.ZelTypeOfAutorisation = tvoa_WBN;
  query.ZelAnswer = true;
  query.ZelAccepted = true;
  query.ZelNote = "ok";
  EXPECT_EQ(query.Caption(),
            "Demande autorisation de session de PC Partage acceptée  par Bob Note : ok"_w);
  query.ZelAccepted = false;
  EXPECT_NE(query.Caption().find("refusée"_w), std::string::npos);
}

TEST_F(ContainersTest, ConversationNamesTheOtherSpeaker) {
  TZelSObjectConversation conversation;
  conversation.xSpeakerNickName1 = "Ann";
  conversation.xSpeakerNickName2 = "Bob";
  conversation.xSpeakerSID1 = std::string(kNullIdText);  // the current user, here
  EXPECT_EQ(conversation.Caption(), "Conversation avec Bob");
  conversation.xSpeakerSID1 = "{11111111-2222-3333-4444-555555555555}";
  EXPECT_EQ(conversation.Caption(), "Conversation avec Ann");
}

}  // namespace
}  // namespace quorvane
