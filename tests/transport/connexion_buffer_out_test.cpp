#include "transport/connexion_buffer_out.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <thread>

#include "objects/answers.h"
#include "objects/files.h"
#include "transport/bzip_block.h"
#include "transport/data_transfer.h"
#include "transport/frame_description.h"
#include "transport/frame_reassembler.h"
#include "transport_fixture.h"

namespace quorvane {
namespace {

struct WireFrame {
  std::string payload;
  char kind = ' ';
  char compression = ' ';
};

// Splits a wire byte stream into its frames.
std::vector<WireFrame> Frames(const std::string& wire) {
  struct Sink : FrameSink {
    bool BeginFrame(std::int64_t) override {
      frames.emplace_back();
      return true;
    }
    bool WritePayload(const std::uint8_t* b, std::size_t n) override {
      frames.back().payload.append(reinterpret_cast<const char*>(b), n);
      return true;
    }
    void PayloadProgress(std::int64_t, std::int64_t) override {}
    void EndFrame(const FrameTrailerFields& t, bool) override {
      frames.back().kind = t.kind;
      frames.back().compression = t.compression;
    }
    void BadHeader(const std::uint8_t*, std::size_t) override { ADD_FAILURE() << "bad header"; }
    std::vector<WireFrame> frames;
  } sink;
  FrameReassembler(sink).Feed(reinterpret_cast<const std::uint8_t*>(wire.data()), wire.size());
  return sink.frames;
}

std::unique_ptr<TZelObject> Decode(const WireFrame& frame) {
  std::string bytes = frame.payload;
  if (frame.compression == 'C') bytes = DecompressBlock(bytes.data(), bytes.size());
  return ObjectFromStream(bytes);
}

class OutgoingTest : public testing::TransportTest {
 protected:
  void SetUp() override {
    TransportTest::SetUp();
    out_ = std::make_unique<TZelConnexionBufferOut>(nullptr);
    out_->SetDataTransfer(&transfer_);
  }
  void TearDown() override {
    out_.reset();
    TransportTest::TearDown();
  }
  // A file object whose uncompressed object stream is exactly `size` bytes.
  static std::unique_ptr<TSOFile> FileOfStreamSize(std::size_t size) {
    auto file = std::make_unique<TSOFile>(nullptr);
    file->SetSendCompressionLevel(0);
    file->xFileName = "sized";
    for (int i = 0; i < 3 && ObjectToStream(*file).size() != size; ++i)
      file->xData.resize(file->xData.size() + size - ObjectToStream(*file).size(), 'q');
    EXPECT_EQ(ObjectToStream(*file).size(), size);
    return file;
  }

  TZelDataTransfer transfer_;
  std::unique_ptr<TZelConnexionBufferOut> out_;
};

TEST_F(OutgoingTest, AnnouncementStartsAtFiveThousandBytes) {
  out_->SendObject(*FileOfStreamSize(4999));
  auto frames = Frames(Drain(*out_));
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].payload.size(), 4999u);

  auto file = FileOfStreamSize(5000);
  out_->SendObject(*file);
  frames = Frames(Drain(*out_));
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].compression, 'C');  // the announcement is always compressed
  auto announcement = Decode(frames[0]);
  auto& answer = dynamic_cast<TZelSObjectAnswer&>(*announcement);
  EXPECT_EQ(answer.ZelWhat, "HeaderInfo");
  EXPECT_EQ(answer.ZelItems->Lines(),
            (std::vector<std::string>{"MERXID=" + file->GetId(), "Def=" + file->Caption()}));
  EXPECT_EQ(frames[1].compression, 'N');
  EXPECT_EQ(frames[1].payload, ObjectToStream(*file));
}

TEST_F(OutgoingTest, ObjectIsCompressedAtItsSendLevel) {
  TSOFile file(nullptr);
  file.xData.assign(20'000, 'z');
  file.SetSendCompressionLevel(3);
  out_->SendObject(file);
  const auto frames = Frames(Drain(*out_));
  ASSERT_EQ(frames.size(), 1u);  // 20,000 bytes compress below the announcement size
  EXPECT_EQ(frames[0].kind, 'N');
  EXPECT_EQ(frames[0].compression, 'C');
  EXPECT_TRUE(frames[0].payload.starts_with("BZh3"));
  EXPECT_EQ(dynamic_cast<TSOFile&>(*Decode(frames[0])).xData, file.xData);
}

TEST_F(OutgoingTest, FrameFileHoldsTheWholeFrameAndTheObjectsLabel) {
  TSOFile file(nullptr);
  file.xFileName = "label.txt";
  int progress_calls = 0;
  file.on_transfer_progress = [&](std::int64_t, std::int64_t, bool) { ++progress_calls; };
  out_->SendObject(file);
  std::lock_guard guard(out_->Mutex());
  ASSERT_EQ(FilesIn("DB\\TRM").size(), 1u);
  const std::string bytes = ReadFile(NativePath("DB\\TRM\\" + FilesIn("DB\\TRM")[0]));
  EXPECT_TRUE(bytes.starts_with("KDKDKKDBEG"));
  EXPECT_EQ(std::stoll(bytes.substr(10, 10)), static_cast<long long>(bytes.size()));
  EXPECT_EQ(bytes.substr(bytes.size() - 10), "KDKDKKDENC");
  Chunk chunk = out_->TakeChunk(10);
  EXPECT_EQ(out_->CurrentId(), file.GetId());
  EXPECT_EQ(out_->CurrentCaption(), file.Caption());
  EXPECT_EQ(progress_calls, 1);
}

TEST_F(OutgoingTest, FastTrameQueuesPreparedFilesUnchanged) {
  WriteFile(NativePath("DB\\TRM\\FST\\HeaderPack1"), "announcement bytes");
  WriteFile(NativePath("DB\\TRM\\FST\\Pack1"), "prepared frame bytes");
  TZelSObjectAnswer fast(nullptr);
  fast.ZelWhat = "FastTrame";
  fast.ZelItems->Add("Pack1");
  out_->SendObject(fast);
  EXPECT_EQ(Drain(*out_), "announcement bytesprepared frame bytes");
  EXPECT_EQ(FilesIn("DB\\TRM\\FST").size(), 2u);  // prepared files stay

  fast.ZelItems->Lines() = {"Missing"};
  out_->SendObject(fast);
  fast.ZelItems->Clear();
  out_->SendObject(fast);
  EXPECT_EQ(out_->ReadyCount(), 0u);
  EXPECT_EQ(out_->FrameListCount(), 0u);
}

TEST_F(OutgoingTest, ShutDownBufferQueuesNothing) {
  out_->Shutdown();
  out_->SendObject(*FileOfStreamSize(6000));
  EXPECT_EQ(out_->FrameListCount(), 0u);
  EXPECT_TRUE(FilesIn("DB\\TRM").empty());
}

TEST_F(OutgoingTest, ConcurrentSendersKeepAnnouncementAndObjectTogether) {
  constexpr int kPerThread = 20;
  auto sender = [this](char fill) {
    for (int i = 0; i < kPerThread; ++i) {
      TSOFile file(nullptr);
      file.SetSendCompressionLevel(0);
      file.xFileName = std::string(1, fill) + std::to_string(i);
      file.xData.assign(6000 + static_cast<std::size_t>(i), fill);
      out_->SendObject(file);
    }
  };
  std::thread a(sender, 'a');
  std::thread b(sender, 'b');
  // The send thread drains while the objects are being queued.
  std::string wire;
  for (int idle = 0; idle < 3;) {
    const bool woke = out_->WaitForWork(200);
    const std::string taken = Drain(*out_);
    wire += taken;
    idle = (woke || !taken.empty()) ? 0 : idle + 1;
  }
  a.join();
  b.join();
  wire += Drain(*out_);
  const auto frames = Frames(wire);
  ASSERT_EQ(frames.size(), 4u * kPerThread);
  for (std::size_t i = 0; i < frames.size(); i += 2) {
    auto announcement = Decode(frames[i]);
    auto object = Decode(frames[i + 1]);
    auto* answer = dynamic_cast<TZelSObjectAnswer*>(announcement.get());
    ASSERT_NE(answer, nullptr) << "frame " << i;
    EXPECT_EQ(answer->ZelItems->Value("MERXID"), object->GetId());
    EXPECT_EQ(answer->ZelItems->Value("Def"), object->Caption());
  }
}

// A frame file that cannot be written whole is taken back with its announcement.
TEST_F(OutgoingTest, FailedFrameWriteQueuesNothingOfTheObject) {
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit old_limit{};
  getrlimit(RLIMIT_FSIZE, &old_limit);
  rlimit limit = old_limit;
  limit.rlim_cur = 100'000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  auto file = FileOfStreamSize(250'000);
  out_->SendObject(*file);
  setrlimit(RLIMIT_FSIZE, &old_limit);
  EXPECT_EQ(out_->ReadyCount(), 0u);
  EXPECT_EQ(out_->FrameListCount(), 0u);
  EXPECT_EQ(out_->Total(), 0);
  EXPECT_TRUE(FilesIn("DB\\TRM").empty());
  out_->SendObject(*FileOfStreamSize(300));
  EXPECT_EQ(Frames(Drain(*out_)).size(), 1u);
}

TEST_F(OutgoingTest, FrameFileDescriptionShowsHeaderTrailerAndObject) {
  TSOFile file(nullptr);
  file.xFileName = "shown.txt";
  out_->SendObject(file);
  std::string native;
  {
    std::lock_guard guard(out_->Mutex());
    native = NativePath("DB\\TRM\\" + FilesIn("DB\\TRM")[0]);
  }
  const std::string bytes = ReadFile(native);
  const std::string text = DescribeFrameFile(native);
  EXPECT_NE(text.find("Start marker: KDKDKKDBEG\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Length: " + bytes.substr(10, 10)), std::string::npos);
  EXPECT_NE(text.find("Kind: N (object)\n"), std::string::npos);
  EXPECT_NE(text.find("Compression: C (compressed block)\n"), std::string::npos);
  EXPECT_NE(text.find("object "), std::string::npos);
  EXPECT_NE(text.find("xFileName = 'shown.txt'"), std::string::npos) << text;

  EXPECT_NE(
      DescribeFrame(bytes.substr(0, bytes.size() - 1)).find("not " + std::to_string(bytes.size())),
      std::string::npos);
  EXPECT_NE(DescribeFrame("KDKDKKDBEG00000000xx0123456789").find("bad header"), std::string::npos);
  std::string broken = bytes;
  broken[25] ^= 0x40;  // inside the bzip2 stream
  EXPECT_NE(DescribeFrame(broken).find("Payload: error"), std::string::npos);
}

}  // namespace
}  // namespace quorvane
