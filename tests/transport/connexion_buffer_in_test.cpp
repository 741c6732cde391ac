#include "transport/connexion_buffer_in.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

#include "objects/answers.h"
#include "objects/files.h"
#include "settings/site.h"
#include "transport/bzip_block.h"
#include "transport/connexion_buffer_out.h"
#include "transport/data_transfer.h"
#include "transport/frame_format.h"
#include "transport/objects_stack.h"
#include "transport_fixture.h"

namespace quorvane {
namespace {

class IncomingTest : public testing::TransportTest {
 protected:
  void SetUp() override {
    TransportTest::SetUp();
    in_ = std::make_unique<TZelConnexionBufferIn>(nullptr);
    in_->SetStackManager(&stack_);
    in_->SetDataTransfer(&transfer_);
  }
  void TearDown() override {
    in_.reset();
    TransportTest::TearDown();
  }

  static std::string Frame(const std::string& payload, char kind = 'N', bool compressed = false) {
    return FrameHeader(static_cast<std::int64_t>(payload.size())) + payload +
           FrameTrailer(kind, compressed);
  }
  static std::string ObjectFrame(const TZelObject& object) {
    const std::string stream = ObjectToStream(object);
    return Frame(CompressBlock(stream.data(), stream.size(), 9), 'N', true);
  }
  static std::unique_ptr<TSOFile> File(const std::string& name, std::size_t size) {
    auto file = std::make_unique<TSOFile>(nullptr);
    file->xFileName = name;
    file->xData.assign(size, 'd');
    file->xFileSize = static_cast<std::int32_t>(size);
    return file;
  }
  static std::unique_ptr<TZelSObjectAnswer> Answer(const std::string& what, const std::string& id,
                                                   const std::string& def = "") {
    auto answer = std::make_unique<TZelSObjectAnswer>(nullptr);
    answer->ZelWhat = what;
    answer->AddItem("MERXID", id);
    if (!def.empty()) answer->AddItem("Def", def);
    return answer;
  }
  std::vector<std::string> PoppedNames() {
    std::vector<std::string> names;
    while (auto object = stack_.Pop()) {
      auto* file = dynamic_cast<TSOFile*>(object.get());
      names.push_back(file != nullptr ? file->xFileName : object->ClassName());
    }
    return names;
  }

  TZelObjectsStackManagerIn stack_{nullptr};
  TZelDataTransfer transfer_;
  std::unique_ptr<TZelConnexionBufferIn> in_;
};

TEST_F(IncomingTest, ObjectsArriveOnTheStackInOrderWithTheirData) {
  const std::string wire = ObjectFrame(*File("a.exe", 70'000)) + ObjectFrame(*File("b.dll", 3));
  for (std::size_t split : {std::size_t{1}, std::size_t{25}, wire.size() / 2, wire.size() - 1}) {
    Deliver(*in_, wire.substr(0, split));
    Deliver(*in_, wire.substr(split));
  }
  std::vector<std::string> expected;
  for (int i = 0; i < 4; ++i)
    expected.insert(expected.end(), {"a.exe", "b.dll"});
  std::vector<std::unique_ptr<TZelObject>> objects;
  while (auto o = stack_.Pop())
    objects.push_back(std::move(o));
  ASSERT_EQ(objects.size(), 8u);
  for (std::size_t i = 0; i < objects.size(); ++i) {
    auto* file = dynamic_cast<TSOFile*>(objects[i].get());
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->xFileName, expected[i]);
    EXPECT_EQ(file->xData.size(), i % 2 == 0 ? 70'000u : 3u);
    EXPECT_EQ(file->ZelNumber(), static_cast<int>(i) + 1);
  }
  EXPECT_TRUE(FilesIn("DB\\TRM").empty());  // every frame file is gone after delivery
  EXPECT_EQ(in_->Done(), 0);
  EXPECT_EQ(in_->Total(), 0);
}

TEST_F(IncomingTest, EverySplitOfTwoFramesDeliversBothObjects) {
  const std::string wire = ObjectFrame(*File("first", 40)) + ObjectFrame(*File("second", 0));
  for (std::size_t split = 0; split <= wire.size(); ++split) {
    Deliver(*in_, wire.substr(0, split));
    Deliver(*in_, wire.substr(split));
    ASSERT_EQ(PoppedNames(), (std::vector<std::string>{"first", "second"})) << "split " << split;
  }
  EXPECT_EQ(in_->BadFrameCount(), 0);
  EXPECT_EQ(in_->FrameListCount(), 0u);
}

TEST_F(IncomingTest, EndOfOneFrameAndTwoWholeFramesDeliverThreeObjects) {
  const std::string first = ObjectFrame(*File("one", 10));
  in_->Receive(reinterpret_cast<const std::uint8_t*>(first.data()), 40);
  EXPECT_EQ(in_->CurrentPosition(), 20);
  const std::string rest =
      first.substr(40) + ObjectFrame(*File("two", 20)) + ObjectFrame(*File("three", 30));
  Deliver(*in_, rest);
  EXPECT_EQ(PoppedNames(), (std::vector<std::string>{"one", "two", "three"}));
}

TEST_F(IncomingTest, HeaderInfoLabelsTheTransferAndIsNotDelivered) {
  const std::string id = "{01234567-89AB-CDEF-0123-456789ABCDEF}";
  Deliver(*in_, ObjectFrame(*Answer("HeaderInfo", id, "Fichier setup.exe")));
  EXPECT_FALSE(stack_.HasObjects());
  EXPECT_EQ(in_->CurrentId(), id);
  EXPECT_EQ(in_->CurrentCaption(), "Fichier setup.exe");
  Deliver(*in_, ObjectFrame(*File("x", 1)));
  EXPECT_EQ(in_->CurrentId(), kNullIdText);
  EXPECT_EQ(PoppedNames(), std::vector<std::string>{"x"});
}

TEST_F(IncomingTest, AtfctnAuthenticatesThePeer) {
  const std::string id = "{00000000-0000-0000-0000-000000000002}";
  EXPECT_FALSE(in_->IsAuthenticatedAs(GuidFromString(id), 1));
  Deliver(*in_, ObjectFrame(*Answer("Atfctn", "  " + id + " ")));
  EXPECT_FALSE(stack_.HasObjects());
  EXPECT_TRUE(in_->WaitForAuthentication(1));
  EXPECT_TRUE(in_->IsAuthenticatedAs(GuidFromString(id), 1));
  EXPECT_FALSE(in_->IsAuthenticatedAs(Guid{}, 1));
  EXPECT_TRUE(in_->StatisticsLine().starts_with("BufferIn ath "));
}

TEST_F(IncomingTest, AtfctnWithoutAnIdentifierAuthenticatesAsNull) {
  Deliver(*in_, ObjectFrame(*Answer("Atfctn", "not an id")));
  EXPECT_TRUE(in_->IsAuthenticatedAs(Guid{}, 1));
}

TEST_F(IncomingTest, AuthenticationWaitWakesWhenTheAnswerArrives) {
  std::thread receiver([this] {
    Deliver(*in_, ObjectFrame(*Answer("Atfctn", "{00000000-0000-0000-0000-000000000002}")));
  });
  EXPECT_TRUE(in_->WaitForAuthentication(10'000));
  receiver.join();
}

TEST_F(IncomingTest, BadHeaderLeavesADumpAndTheNextDeliveryStartsAfresh) {
  Deliver(*in_, "this is not a frame header at all" + ObjectFrame(*File("lost", 1)));
  EXPECT_EQ(in_->BadFrameCount(), 1);
  const auto dumps = FilesIn("DB\\TRM\\FST");
  ASSERT_EQ(dumps.size(), 1u);
  EXPECT_NE(dumps[0].find("badtrame1"), std::string::npos);  // names are lower-cased on disk
  EXPECT_TRUE(ReadFile(NativePath("DB\\TRM\\FST\\" + dumps[0])).starts_with("this is not"));
  EXPECT_FALSE(stack_.HasObjects());
  Deliver(*in_, ObjectFrame(*File("found", 1)));
  EXPECT_EQ(PoppedNames(), std::vector<std::string>{"found"});
  EXPECT_NE(in_->StatisticsLine().find(" 1 dlt "), std::string::npos);
}

TEST_F(IncomingTest, BrokenPeerCannotFillTheDiskWithDumps) {
  for (int i = 0; i < 50; ++i)
    Deliver(*in_, std::string(100'000, 'g'));
  EXPECT_EQ(in_->BadFrameCount(), 50);
  EXPECT_EQ(FilesIn("DB\\TRM\\FST").size(),
            static_cast<std::size_t>(TZelConnexionBufferIn::kMaxBadFrameDumps));
}

TEST_F(IncomingTest, UndecodableFramesAreDroppedAndTheOnesBehindDelivered) {
  Deliver(*in_, Frame("") + Frame("BZh9 this is no bzip2 stream", 'N', true) +
                    Frame("XXXXnot an object") + Frame("BZ", 'N', true) +
                    ObjectFrame(*File("behind", 5)));
  EXPECT_EQ(PoppedNames(), std::vector<std::string>{"behind"});
  EXPECT_EQ(in_->ReadyCount(), 0u);
  EXPECT_EQ(in_->FrameListCount(), 0u);
}

TEST_F(IncomingTest, OtherKindsAreDecodedButNotStacked) {
  const std::string stream = ObjectToStream(*File("as image", 1));
  Deliver(*in_,
          Frame(stream, 'W') + Frame(stream, 'P') + Frame("some text", 'T') + Frame(stream, 'Q'));
  // An unknown kind is an object frame.
  EXPECT_EQ(PoppedNames(), std::vector<std::string>{"as image"});
}

TEST_F(IncomingTest, FrameWhoseFileCannotBeMadeIsSkippedInStep) {
  std::filesystem::remove_all(NativePath("DB\\TRM"));
  const std::string lost = ObjectFrame(*File("lost", 100));
  Deliver(*in_, lost.substr(0, 60));
  std::filesystem::create_directories(NativePath("DB\\TRM\\FST"));
  Deliver(*in_, lost.substr(60) + ObjectFrame(*File("kept", 1)));
  EXPECT_EQ(PoppedNames(), std::vector<std::string>{"kept"});
  EXPECT_EQ(in_->BadFrameCount(), 0);
}

// The payload of a small frame sits in the file's buffer until the frame is
// complete; when that flush fails (a full disk) the frame is a failed frame and is
// never decoded from the empty file.
TEST_F(IncomingTest, FrameWhoseFlushFailsIsDroppedNotDecoded) {
  const std::string small = ObjectFrame(*File("small", 10));
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit old_limit{};
  getrlimit(RLIMIT_FSIZE, &old_limit);
  rlimit limit = old_limit;
  limit.rlim_cur = 8;  // the disk is "full" beyond 8 bytes
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  in_->Receive(reinterpret_cast<const std::uint8_t*>(small.data()), static_cast<int>(small.size()));
  const std::size_t ready = in_->ReadyCount();
  const std::size_t files = FilesIn("DB\\TRM").size();
  setrlimit(RLIMIT_FSIZE, &old_limit);
  EXPECT_EQ(ready, 0u);
  EXPECT_EQ(files, 0u);
  in_->DeliverReady();
  Deliver(*in_, ObjectFrame(*File("next", 1)));
  EXPECT_EQ(PoppedNames(), std::vector<std::string>{"next"});
}

// A frame whose object would not fit beside the objects already waiting stays
// queued and the buffer reports it is over budget; popping gives the room back.
TEST_F(IncomingTest, BudgetHoldsFramesBackUntilObjectsArePopped) {
  in_->SetMemoryBudget(300'000);
  Deliver(*in_, ObjectFrame(*File("first", 200'000)) + ObjectFrame(*File("second", 200'000)));
  EXPECT_EQ(in_->ReadyCount(), 1u);  // the second waits
  EXPECT_TRUE(in_->OverBudget());
  EXPECT_FALSE(in_->WaitForRoom(10));
  EXPECT_GT(in_->MemoryHeld(), 200'000);
  EXPECT_LE(in_->MemoryHeld(), 300'000);

  auto first = stack_.Pop();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(stack_.Pop(), nullptr);
  EXPECT_EQ(in_->MemoryHeld(), 0);
  EXPECT_FALSE(in_->OverBudget());
  ASSERT_TRUE(in_->WaitForRoom(10));
  in_->DeliverReady();
  EXPECT_EQ(in_->ReadyCount(), 0u);
  EXPECT_EQ(PoppedNames(), std::vector<std::string>{"second"});
  EXPECT_EQ(in_->MemoryHeld(), 0);
}

// A frame that could never fit is dropped at once (its recorded length alone is
// over the budget), and so is one whose stream turns out longer than it claims.
TEST_F(IncomingTest, FramesBeyondTheBudgetAreDroppedAndTheNextDelivered) {
  in_->SetMemoryBudget(1'000'000);
  const std::string honest = ObjectFrame(*File("huge", 2'000'000));
  // The same object with a recorded length of 100 bytes: it lies.
  const std::string stream = ObjectToStream(*File("liar", 2'000'000));
  std::string block = CompressBlock(stream.data(), stream.size(), 9);
  block.replace(block.size() - 4, 4, std::string("\x64\x00\x00\x00", 4));
  Deliver(*in_, honest + Frame(block, 'N', true) + ObjectFrame(*File("small", 10)));
  EXPECT_EQ(PoppedNames(), std::vector<std::string>{"small"});
  EXPECT_FALSE(in_->OverBudget());
  EXPECT_EQ(in_->MemoryHeld(), 0);
}

TEST_F(IncomingTest, BudgetComesFromTheSiteValue) {
  EXPECT_EQ(in_->MemoryBudget(), kDefaultConnectionMemoryBudget);
  WriteFile(NativePath("site.toml"), "connection_memory_budget = 3000000\n");
  ReloadSiteValues();
  const std::int64_t budget = TZelConnexionBufferIn(nullptr).MemoryBudget();
  std::filesystem::remove(NativePath("site.toml"));
  ReloadSiteValues();
  EXPECT_EQ(budget, 3'000'000);
}

// The stack outlives the buffers that filled it: popping after the buffer is
// gone gives the memory back to an account nobody else holds, safely.
TEST_F(IncomingTest, ObjectsOutliveTheirBufferAndItsBudget) {
  Deliver(*in_, ObjectFrame(*File("kept", 1000)));
  in_.reset();
  EXPECT_EQ(PoppedNames(), std::vector<std::string>{"kept"});
}

TEST_F(IncomingTest, ShutDownBufferTakesNothing) {
  in_->Shutdown();
  Deliver(*in_, ObjectFrame(*File("x", 1)));
  EXPECT_FALSE(stack_.HasObjects());
  EXPECT_EQ(in_->FrameCount(), 0);
  EXPECT_FALSE(in_->WaitForAuthentication(1));
}

TEST_F(IncomingTest, ObjectsRecordTheirConnexionAndLinks) {
  in_->SetZelConnexionID(7);
  Deliver(*in_, ObjectFrame(*File("linked", 1)));
  auto object = stack_.Pop();
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(object->ZelConnexionID(), 7);
  EXPECT_EQ(object->DataTransfer(), &transfer_);
  EXPECT_EQ(object->StackManager(), &stack_);
}

// What the outgoing buffer writes, the incoming buffer reads back.
TEST_F(IncomingTest, RoundTripThroughBothBuffers) {
  TZelConnexionBufferOut out(nullptr);
  out.SetDataTransfer(&transfer_);
  auto big = File("big.bin", 300'000);
  big->xData[1234] = 'Z';
  out.SendObject(*big);
  auto plain = File("plain.txt", 10);
  plain->SetSendCompressionLevel(0);
  out.SendObject(*plain);
  const std::string wire = Drain(out);
  for (std::size_t at = 0; at < wire.size(); at += kMaxChunk)
    Deliver(*in_, wire.substr(at, kMaxChunk));
  std::vector<std::unique_ptr<TZelObject>> objects;
  while (auto o = stack_.Pop())
    objects.push_back(std::move(o));
  ASSERT_EQ(objects.size(), 2u);  // the announcement was consumed
  EXPECT_EQ(dynamic_cast<TSOFile&>(*objects[0]).xData, big->xData);
  EXPECT_EQ(dynamic_cast<TSOFile&>(*objects[1]).xFileName, "plain.txt");
}

}  // namespace
}  // namespace quorvane
