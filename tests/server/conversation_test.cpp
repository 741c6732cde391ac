// The conversation without a socket: scripted objects in, pieces to send out.
#include "conversation.h"

#include <gtest/gtest.h>

#include "model/object_stream.h"
#include "objects/answers.h"
#include "objects/files.h"
#include "objects/protocol.h"
#include "objects/register_classes.h"
#include "transport/frame_format.h"

namespace quorvane::server::testing {
namespace {

class ScriptedHost : public ConversationHost {
 public:
  void Log(const std::string&) override {}
  void Plan(std::unique_ptr<TSOFilesList> request) override {
    requests.push_back(std::move(request));
  }
  void Acquire(int index, const PackageFile&) override { acquired.push_back(index); }
  bool Refresh(PackageFile&) override { return true; }  // still there, changed
  void EndConnection(const std::string& why) override { ended = why; }

  std::vector<std::unique_ptr<TSOFilesList>> requests;  // asked to be planned
  std::vector<int> acquired;
  std::string ended;
};

std::shared_ptr<const std::string> Text(const std::string& text) {
  return std::make_shared<const std::string>(text);
}

std::unique_ptr<TSOFilesList> Request(const std::string& word) {
  auto list = std::make_unique<TSOFilesList>();
  list->xWhat = word + "\n\r\nWinDir =/";
  return list;
}

class ConversationTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { RegisterClasses(); }
  void Prepare(int index) {
    auto frames = std::make_shared<PreparedFrames>();
    frames->memory = Text("file " + std::to_string(index));
    conversation_.Prepared(index, frames);
  }
  std::string Next() {
    const std::optional<Piece> piece = conversation_.Next();
    return piece ? *piece->memory : "(nothing)";
  }
  void Install(std::vector<InstallPhase> phases) {
    ASSERT_EQ(Next(), "greeting");
    EXPECT_EQ(conversation_.Receive(Request(std::string(protocol::kWantInstall))), "");
    InstallPlan plan;
    for (InstallPhase phase : phases)
      plan.files.push_back({"", "f" + std::to_string(plan.files.size()), {}, 10, 0, "NF", phase});
    plan.bytes = 10 * static_cast<std::int64_t>(phases.size());
    conversation_.Planned(std::move(plan));
  }

  ConversationScript script_{Text("greeting"), Text("phase2"), Text("phase3"), Text("end")};
  ScriptedHost host_;
  Conversation conversation_{script_, "package", host_};
};

TEST_F(ConversationTest, AnInstallationInItsOrderPreparingTwoFilesAhead) {
  Install({InstallPhase::kDatabase, InstallPhase::kSubFolders, InstallPhase::kTopLevel});
  EXPECT_EQ(host_.acquired, (std::vector<int>{0, 1}));
  const std::string begin = Next();
  const std::size_t header = FrameHeader(0).size();
  const auto answer = ObjectFromStream(std::string_view(begin).substr(
      header, begin.size() - header - FrameTrailer(kKindObject, false).size()));
  const auto& lines = dynamic_cast<TZelSObjectAnswer&>(*answer).ZelItems->Lines();
  EXPECT_EQ(dynamic_cast<TZelSObjectAnswer&>(*answer).ZelWhat, protocol::kInstallBegin);
  EXPECT_EQ(lines, (std::vector<std::string>{"package", "3", "30"}));
  EXPECT_EQ(Next(), "(nothing)");  // the first file is still being prepared
  Prepare(1);
  EXPECT_EQ(Next(), "(nothing)");
  Prepare(0);
  EXPECT_EQ(Next(), "file 0");
  EXPECT_EQ(host_.acquired, (std::vector<int>{0, 1, 2}));
  Prepare(2);
  for (const char* want : {"phase2", "file 1", "phase3", "file 2", "end"})
    EXPECT_EQ(Next(), want);
  EXPECT_TRUE(conversation_.Finished());
  EXPECT_EQ(conversation_.FilesSent(), 3);
  EXPECT_EQ(Next(), "(nothing)");
}

TEST_F(ConversationTest, AFileFailingAfterItsRetryEndsTheConnectionWithoutFin) {
  Install({InstallPhase::kTopLevel});
  conversation_.Failed(0, "changed");  // refreshed and asked again
  EXPECT_EQ(host_.acquired, (std::vector<int>{0, 0}));
  conversation_.Failed(0, "changed again");
  for (const char* want : {"DebutInstall", "phase2", "phase3"})
    EXPECT_NE(Next(), "(nothing)") << want;
  EXPECT_EQ(Next(), "(nothing)");
  EXPECT_NE(host_.ended.find("changed again; ended without \"Fin\""), std::string::npos);
  EXPECT_FALSE(conversation_.Finished());
}

TEST_F(ConversationTest, ObjectsOfNoUseAreNamedAndASecondRequestIsNotPlanned) {
  Install({});
  auto answer = [](std::string_view word) {
    auto object = std::make_unique<TZelSObjectAnswer>();
    object->ZelWhat = std::string(word);
    return object;
  };
  EXPECT_EQ(conversation_.Receive(answer(protocol::kHeaderInfo)), "");
  EXPECT_EQ(conversation_.Receive(answer("Other")), "answer \"Other\"");
  EXPECT_EQ(conversation_.Receive(Request("Nothing")), "request \"Nothing\"");
  EXPECT_EQ(conversation_.Receive(Request(std::string(protocol::kWantInstallEnglish))), "");
  EXPECT_EQ(host_.requests.size(), 1u);
}

}  // namespace
}  // namespace quorvane::server::testing
