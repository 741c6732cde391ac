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
#include "util/diagnostic_log.h"

namespace quorvane {
namespace {

class IncomingTest : public testing::TransportTest {
 protected:
  void SetUp() override {
    TransportTest::SetUp();
    in_ = std::make_unique<TZelConnexionBufferIn>(nullptr);
    in_->SetDeliveryTarget(&stack_);
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
  in_->SetMemoryFrameLimit(-1);  // every frame goes to its file
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
  in_->SetMemoryFrameLimit(-1);  // every frame goes to its file
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

// Every received frame that is dropped leaves one diagnostic line naming the
// frame, its size and why: a frame folder that cannot be written to, a payload
// write that fails half way (a full disk), a flush that fails, a block that does
// not decode and an object that does not read.
TEST_F(IncomingTest, EveryDroppedFrameIsLoggedWithItsSizeAndReason) {
  in_->SetMemoryFrameLimit(-1);  // every frame goes to its file
  const std::string log = (folder_ / "diagnostic.log").string();
  SetDiagnosticLogFile(log);
  auto new_lines = [&, seen = std::size_t{0}]() mutable {
    const std::string text = ReadFile(log);
    const std::string fresh = text.substr(std::min(seen, text.size()));
    seen = text.size();
    return fresh;
  };
  auto payload_frame = [&](std::size_t size) {
    const std::string stream = ObjectToStream(*File("big", size));
    return Frame(stream, 'N', false);
  };

  // No frame folder: the frame's file cannot be made.
  std::filesystem::remove_all(NativePath("DB\\TRM"));
  const std::string lost = payload_frame(16'000);
  const std::string lost_size = std::to_string(lost.size() - kFrameHeaderSize - kFrameTrailerSize);
  Deliver(*in_, lost);
  std::string lines = new_lines();
  EXPECT_NE(lines.find("of " + lost_size + " bytes dropped: its file cannot be made"),
            std::string::npos)
      << lines;
  std::filesystem::create_directories(NativePath("DB\\TRM\\FST"));

  // A full disk: files cannot grow past 1 KiB (a fresh log stays below that). A
  // large payload's write fails on the way; a 3 KB one stays in the file's buffer
  // until the frame is complete, and then its flush fails.
  const std::string full_log = (folder_ / "full.log").string();
  SetDiagnosticLogFile(full_log);
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit old_limit{};
  getrlimit(RLIMIT_FSIZE, &old_limit);
  rlimit limit = old_limit;
  limit.rlim_cur = 1024;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  Deliver(*in_, payload_frame(300'000) + payload_frame(3'000));
  setrlimit(RLIMIT_FSIZE, &old_limit);
  lines = ReadFile(full_log);
  EXPECT_NE(lines.find("bytes dropped: its payload could not be written after"), std::string::npos)
      << lines;
  EXPECT_NE(lines.find("File too large"), std::string::npos) << lines;
  EXPECT_NE(lines.find("bytes dropped: its file cannot be flushed"), std::string::npos) << lines;
  SetDiagnosticLogFile(log);

  // A block that is not bzip2 after all, and a stream that is not an object.
  std::string broken = CompressBlock(std::string(5'000, 'z').data(), 5'000, 9);
  broken.resize(broken.size() / 2);
  broken += std::string("\x88\x13\x00\x00", 4);
  Deliver(*in_, Frame(broken, 'N', true) + Frame("TPF0garbage", 'N', false) +
                    Frame("not an object", 'N', false));
  lines = new_lines();
  EXPECT_NE(lines.find(std::to_string(broken.size()) + " bytes dropped: it cannot be decoded"),
            std::string::npos)
      << lines;
  EXPECT_NE(lines.find("object of 11 bytes dropped: it cannot be read"), std::string::npos)
      << lines;
  EXPECT_NE(lines.find("object of 13 bytes dropped: it does not begin with the stream signature"),
            std::string::npos)
      << lines;
  SetDiagnosticLogFile(std::string());
  EXPECT_TRUE(PoppedNames().empty());
  Deliver(*in_, ObjectFrame(*File("after", 1)));
  EXPECT_EQ(PoppedNames(), std::vector<std::string>{"after"});
}

// With a budget smaller than the objects (the installer's), an object larger
// than the budget still passes when nothing else is held, the next one waits
// until it is popped, and one beyond the frame limit is still dropped.
TEST_F(IncomingTest, ObjectLargerThanTheQueueBudgetPassesAlone) {
  in_->SetMemoryBudget(3'000'000);
  in_->SetQueueBudget(100'000);
  EXPECT_EQ(in_->MemoryBudget(), 100'000);
  EXPECT_EQ(in_->FrameLimit(), 3'000'000);
  Deliver(*in_, ObjectFrame(*File("first", 200'000)) + ObjectFrame(*File("second", 200'000)) +
                    ObjectFrame(*File("beyond", 4'000'000)) + ObjectFrame(*File("last", 10)));
  EXPECT_EQ(in_->ReadyCount(), 3u);
  EXPECT_FALSE(in_->WaitForRoom(10));
  EXPECT_GT(in_->MemoryHeld(), 200'000);

  auto first = stack_.Pop();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(dynamic_cast<TSOFile&>(*first).xData.size(), 200'000u);
  ASSERT_TRUE(in_->WaitForRoom(10));
  in_->DeliverReady();
  // "second" passed alone; "beyond" is over the frame limit and dropped; even
  // "last" waits while "second" is held.
  EXPECT_EQ(in_->ReadyCount(), 1u);
  EXPECT_EQ(PoppedNames(), std::vector<std::string>{"second"});
  in_->DeliverReady();
  EXPECT_EQ(in_->ReadyCount(), 0u);
  EXPECT_EQ(PoppedNames(), std::vector<std::string>{"last"});
  EXPECT_EQ(in_->MemoryHeld(), 0);
  // The queue budget never exceeds the frame limit.
  in_->SetQueueBudget(5'000'000);
  EXPECT_EQ(in_->MemoryBudget(), 3'000'000);
}

// Small frames are held in memory: they arrive whole even without a frame
// folder and leave no file behind; a frame above the limit goes to its file.
TEST_F(IncomingTest, SmallFramesStayInMemoryAndLargeOnesGoToAFile) {
  in_->SetMemoryFrameLimit(50'000);
  std::filesystem::remove_all(NativePath("DB\\TRM"));
  Deliver(*in_, ObjectFrame(*File("small", 100)) +
                    Frame(ObjectToStream(*File("limit", 49'000)), 'N', false));
  EXPECT_EQ(PoppedNames(), (std::vector<std::string>{"small", "limit"}));
  // Without a folder the large frame cannot be made: it is dropped, in step.
  Deliver(*in_, Frame(ObjectToStream(*File("large", 60'000)), 'N', false) +
                    ObjectFrame(*File("after", 10)));
  EXPECT_EQ(PoppedNames(), std::vector<std::string>{"after"});

  std::filesystem::create_directories(NativePath("DB\\TRM\\FST"));
  const std::string large = Frame(ObjectToStream(*File("large", 60'000)), 'N', false);
  Deliver(*in_, large.substr(0, large.size() / 2));
  EXPECT_EQ(FilesIn("DB\\TRM").size(), 1u);  // the large frame being received
  Deliver(*in_, large.substr(large.size() / 2));
  auto popped = stack_.Pop();
  ASSERT_NE(popped, nullptr);
  EXPECT_EQ(dynamic_cast<TSOFile&>(*popped).xData, std::string(60'000, 'd'));
  EXPECT_TRUE(FilesIn("DB\\TRM").empty());
}

// A frame whose object would not fit beside the objects already waiting stays
// queued and the buffer reports it is over budget; popping gives the room back.
TEST_F(IncomingTest, BudgetHoldsFramesBackUntilObjectsArePopped) {
  in_->SetMemoryBudget(300'000);
  Deliver(*in_, ObjectFrame(*File("first", 200'000)) + ObjectFrame(*File("second", 200'000)));
  EXPECT_EQ(in_->ReadyCount(), 1u);  // the second waits
  EXPECT_FALSE(in_->WaitForRoom(10));
  EXPECT_GT(in_->MemoryHeld(), 200'000);
  EXPECT_LE(in_->MemoryHeld(), 300'000);

  auto first = stack_.Pop();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(stack_.Pop(), nullptr);
  EXPECT_EQ(in_->MemoryHeld(), 0);
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
  EXPECT_EQ(in_->MemoryHeld(), 0);
}

// Refused at its header: none of its payload is written; the next frame arrives.
TEST_F(IncomingTest, AFrameOverTheLimitIsRefusedAtItsHeader) {
  in_->SetMemoryBudget(1'000'000);
  const std::string huge = Frame(std::string(1'500'000, 'x'));
  Deliver(*in_, huge.substr(0, 600'000));
  EXPECT_TRUE(FilesIn("DB\\TRM").empty());
  Deliver(*in_, huge.substr(600'000) + ObjectFrame(*File("after", 10)));
  EXPECT_EQ(PoppedNames(), std::vector<std::string>{"after"});
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
