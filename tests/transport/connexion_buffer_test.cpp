#include "transport/connexion_buffer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "objects/answers.h"
#include "transport/connexion_buffer_in.h"
#include "transport/connexion_buffer_out.h"
#include "transport/frame.h"
#include "transport/objects_stack.h"
#include "transport_fixture.h"

namespace quorvane {
namespace {

using BufferTest = testing::TransportTest;

// Reaches the counters the way a long transfer would move them.
class CounterBuffer : public TZelConnexionBuffer {
 public:
  using TZelConnexionBuffer::SetCurrent;
  using TZelConnexionBuffer::SetTotal;
  using TZelConnexionBuffer::TZelConnexionBuffer;
  void SetDone(std::int64_t done) { AddDone(done); }
};

TxTrame* QueueFrame(TZelConnexionBuffer& buffer, const std::string& bytes) {
  TxTrame* frame = buffer.NewFrame(std::string(), nullptr);
  EXPECT_TRUE(buffer.WriteToFrame(frame, bytes.data(), bytes.size()));
  EXPECT_TRUE(buffer.Enqueue(frame));
  return frame;
}

TEST_F(BufferTest, NumberedFramesLiveInTheFrameFolderAndGoWithTheFrame) {
  TZelConnexionBufferOut buffer(nullptr);
  std::lock_guard guard(buffer.Mutex());
  TxTrame* first = buffer.NewFrame(std::string(), nullptr);
  TxTrame* second = buffer.NewFrame(std::string(), nullptr);
  EXPECT_EQ(first->Number(), 1);
  EXPECT_EQ(second->Number(), 2);
  EXPECT_NE(first->Path(), second->Path());
  EXPECT_TRUE(first->Path().starts_with(ProgramFolder() + "DB\\TRM\\BufferOutTrameN"));
  EXPECT_TRUE(first->Path().ends_with("Z_1.trm"));
  EXPECT_EQ(FilesIn("DB\\TRM").size(), 2u);
  buffer.RemoveFrame(first);
  EXPECT_EQ(FilesIn("DB\\TRM").size(), 1u);
  EXPECT_EQ(buffer.FrameListCount(), 1u);
}

TEST_F(BufferTest, NamedAndPreparedFramesKeepTheirFiles) {
  TZelConnexionBufferOut buffer(nullptr);
  std::lock_guard guard(buffer.Mutex());
  TxTrame* dump = buffer.NewFrame("dumpfile", nullptr);
  ASSERT_NE(dump, nullptr);
  EXPECT_EQ(dump->Number(), 0);
  EXPECT_EQ(buffer.FrameListCount(), 0u);  // a named frame enters no list
  buffer.WriteToFrame(dump, "abc", 3);
  buffer.Enqueue(dump);  // closes and destroys it
  EXPECT_EQ(ReadFile(NativePath("DB\\TRM\\FST\\dumpfile")), "abc");
  EXPECT_EQ(buffer.Total(), 0);  // dumps do not count

  WriteFile(NativePath("DB\\TRM\\FST\\ready"), "0123456789");
  buffer.EnqueuePrepared("ready");
  EXPECT_EQ(buffer.Total(), 10);
  EXPECT_EQ(buffer.TakeChunk(kMaxChunk).count, 10);
  EXPECT_EQ(buffer.FrameListCount(), 0u);
  EXPECT_EQ(ReadFile(NativePath("DB\\TRM\\FST\\ready")), "0123456789");
}

// Two connections in one process, each with frame folders of its own outside the
// program folder: every frame file lands in its own folders, none in the
// program's "DB\\TRM", and objects still travel from one buffer to the other.
TEST_F(BufferTest, BuffersTakeTheirFrameFoldersExplicitly) {
  testing::TempFolder first_root("qv_frames_a");
  testing::TempFolder second_root("qv_frames_b");
  const FrameFolders first = FrameFolders::Below(first_root.folder());
  const FrameFolders second = FrameFolders::Below(second_root.folder());
  for (const FrameFolders* folders : {&first, &second})
    std::filesystem::create_directories(NativePath(folders->prepared));

  TZelConnexionBufferOut out(nullptr, first);
  TZelConnexionBufferIn in(nullptr, second);
  in.SetMemoryFrameLimit(-1);  // the small frame below goes to its file too
  TZelObjectsStackManagerIn stack(nullptr);
  in.SetStackManager(&stack);
  EXPECT_EQ(out.Folders().frames, first.frames);
  {
    std::lock_guard guard(out.Mutex());
    TxTrame* frame = out.NewFrame(std::string(), nullptr);
    EXPECT_TRUE(frame->Path().starts_with(first_root.folder() + "DB\\TRM\\"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(NativePath(first.frames)),
                            std::filesystem::directory_iterator()),
              2);  // the frame file beside the "FST" folder
    out.RemoveFrame(frame);
    TxTrame* dump = out.NewFrame("dump", nullptr);
    out.WriteToFrame(dump, "d", 1);
    out.Enqueue(dump);
  }
  EXPECT_EQ(ReadFile(NativePath(first.prepared + "\\dump")), "d");

  TZelSObjectAnswer answer(nullptr);
  answer.ZelWhat = "Hello";
  out.SendObject(answer);
  const std::string wire = Drain(out);
  Deliver(in, wire.substr(0, wire.size() / 2));
  // The half-received frame is in the second connection's folder.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(NativePath(second.frames)),
                          std::filesystem::directory_iterator()),
            2);
  Deliver(in, wire.substr(wire.size() / 2));
  auto received = stack.Pop();
  ASSERT_NE(received, nullptr);
  EXPECT_EQ(dynamic_cast<TZelSObjectAnswer&>(*received).ZelWhat, "Hello");
  EXPECT_TRUE(FilesIn("DB\\TRM").empty());
  EXPECT_TRUE(FilesIn("DB\\TRM\\FST").empty());
}

// Without explicit folders the program folder counts as it is when a frame file
// is made, not when the buffer was built: the program may set it afterwards.
TEST_F(BufferTest, DefaultFoldersFollowTheProgramFolderWhenFramesAreMade) {
  TZelConnexionBufferOut buffer(nullptr);
  testing::TempFolder later("qv_later_program");
  SetProgramFolder(later.folder());
  std::filesystem::create_directories(NativePath("DB\\TRM\\FST"));
  {
    std::lock_guard guard(buffer.Mutex());
    TxTrame* frame = buffer.NewFrame(std::string(), nullptr);
    EXPECT_TRUE(frame->Path().starts_with(later.folder() + "DB\\TRM\\")) << frame->Path();
    EXPECT_TRUE(frame->IsOpen());
    EXPECT_EQ(buffer.Folders().frames, later.folder() + "DB\\TRM");
    buffer.RemoveFrame(frame);
  }
  SetProgramFolder(scope_->folder());
}

TEST_F(BufferTest, StatisticsLineMatchesByteForByte) {
  TZelConnexionBufferOut buffer(nullptr);
  std::lock_guard guard(buffer.Mutex());
  QueueFrame(buffer, std::string(400, 'a'));
  QueueFrame(buffer, std::string(600, 'b'));
  buffer.NewFrame(std::string(), nullptr);
  const Chunk chunk = buffer.TakeChunk(kMaxChunk);
  ASSERT_EQ(chunk.count, 400);
  EXPECT_EQ(chunk.block[400], '\0');
  EXPECT_EQ(buffer.StatisticsLine(), "BufferOut ath 3 pcks 0 dlt 40% 1 trm/ 2  1000 oct ");
  EXPECT_EQ(buffer.Percent(), 40);

  TZelConnexionBufferIn in(nullptr);
  EXPECT_EQ(in.StatisticsLine(), "BufferIn Nth 0 pcks 0 dlt 0% 0 trm/ 0  0 oct ");
}

TEST_F(BufferTest, LargeFrameLeavesInChunksAndFramesNeverMix) {
  TZelConnexionBufferOut buffer(nullptr);
  std::lock_guard guard(buffer.Mutex());
  std::string big(250'000, 'x');
  big[0] = 'S';
  big.back() = 'E';
  TxTrame* frame = QueueFrame(buffer, big);
  const std::string path = NativePath(frame->Path());
  QueueFrame(buffer, "second");
  std::vector<int> sizes;
  std::string first;
  for (int i = 0; i < 3; ++i) {
    Chunk chunk = buffer.TakeChunk(kMaxChunk);
    sizes.push_back(chunk.count);
    first.append(chunk.block.get(), static_cast<std::size_t>(chunk.count));
  }
  EXPECT_EQ(sizes, (std::vector<int>{100'000, 100'000, 50'000}));
  EXPECT_EQ(first, big);
  EXPECT_FALSE(std::filesystem::exists(path));
  Chunk last = buffer.TakeChunk(kMaxChunk);
  EXPECT_EQ(std::string(last.block.get(), static_cast<std::size_t>(last.count)), "second");
  EXPECT_EQ(buffer.Done(), 0);
  EXPECT_EQ(buffer.Total(), 0);
  EXPECT_EQ(buffer.TakeChunk(kMaxChunk).count, 0);
  EXPECT_EQ(buffer.CurrentId(), kNullIdText);
}

TEST_F(BufferTest, DrainingFollowsTheQueueNotTheCounters) {
  CounterBuffer buffer(nullptr);
  std::lock_guard guard(buffer.Mutex());
  QueueFrame(buffer, "queued");
  buffer.SetTotal(0);  // counters out of step with the queue
  Chunk chunk = buffer.TakeChunk(kMaxChunk);
  EXPECT_EQ(std::string(chunk.block.get(), 6), "queued");
}

TEST_F(BufferTest, EmptyPreparedFrameDoesNotBlockTheQueue) {
  TZelConnexionBufferOut buffer(nullptr);
  std::lock_guard guard(buffer.Mutex());
  WriteFile(NativePath("DB\\TRM\\FST\\empty"), "");
  buffer.EnqueuePrepared("empty");
  QueueFrame(buffer, "behind");
  Chunk chunk = buffer.TakeChunk(kMaxChunk);
  ASSERT_EQ(chunk.count, 6);
  EXPECT_EQ(buffer.ReadyCount(), 0u);
  buffer.EnqueuePrepared("missing");  // reported, and nothing stays behind
  EXPECT_EQ(buffer.FrameListCount(), 0u);
}

TEST_F(BufferTest, PercentagesUse64BitProducts) {
  CounterBuffer buffer(nullptr);
  buffer.SetCurrent(15'000'000, 30'000'000);
  EXPECT_EQ(buffer.CurrentPercent(), 50);
  buffer.SetCurrent(1'500'000'000, 2'000'000'000);
  EXPECT_EQ(buffer.CurrentPercent(), 75);
  buffer.SetTotal(2'000'000'000);
  buffer.SetDone(1'000'000'000);
  EXPECT_EQ(buffer.Percent(), 50);
  buffer.SetCurrent(5, 0);
  EXPECT_EQ(buffer.CurrentPercent(), 0);
}

TEST_F(BufferTest, ShutdownStopsEverything) {
  TZelConnexionBufferOut buffer(nullptr);
  std::lock_guard guard(buffer.Mutex());
  QueueFrame(buffer, "pending");
  buffer.Shutdown();
  EXPECT_FALSE(buffer.WaitForWork(50'000));  // returns at once: the event is set
  EXPECT_EQ(buffer.NewFrame(std::string(), nullptr), nullptr);
  EXPECT_EQ(buffer.TakeChunk(kMaxChunk).count, 0);
}

TEST_F(BufferTest, WorkEventWakesAWaiterAndIsReset) {
  TZelConnexionBufferOut buffer(nullptr);
  EXPECT_FALSE(buffer.WaitForWork(1));
  {
    std::lock_guard guard(buffer.Mutex());
    QueueFrame(buffer, "x");
  }
  EXPECT_TRUE(buffer.WaitForWork(1));
  EXPECT_FALSE(buffer.WaitForWork(1));
  // The frame is still there for whoever drains after any return of the wait.
  EXPECT_EQ(buffer.TakeChunkLocked(kMaxChunk).count, 1);
}

// Each round publishes one piece of work and signals once; the waiter takes the
// work only after a wake-up. A signal lost between a timed-out wait and the reset
// leaves the work untaken although the waiter keeps waiting. The loss is rare
// (a few in 300,000 rounds), so this runs up to 300,000 rounds or 3 seconds; it
// also runs under ThreadSanitizer.
TEST_F(BufferTest, NoSignalIsLostBetweenATimedOutWaitAndTheReset) {
  TZelConnexionBufferOut buffer(nullptr);
  constexpr int kRounds = 300'000;
  std::atomic<int> work{0};
  std::atomic<bool> stop{false};
  std::atomic<int> taken{0};
  std::thread waiter([&] {
    while (!stop.load()) {
      if (buffer.WaitForWork(0) && work.exchange(0) == 1) taken.fetch_add(1);
    }
  });
  int lost = 0;
  int rounds = 0;
  const auto budget = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  for (; rounds < kRounds && lost == 0 && std::chrono::steady_clock::now() < budget; ++rounds) {
    work.store(1);
    buffer.Signal();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (work.load() != 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        ++lost;
        break;
      }
      std::this_thread::yield();
    }
  }
  stop.store(true);
  waiter.join();
  EXPECT_EQ(lost, 0) << "after " << rounds << " rounds";
  EXPECT_EQ(taken.load(), rounds);
}

TEST_F(BufferTest, PaintDrawsTheStatisticsLineAndABarOnlyWithProgress) {
  struct Canvas : BufferCanvas {
    int TextHeight(const std::string&) override { return 10; }
    void Fill(const Rect&, std::uint32_t) override {}
    void Frame3D(const Rect&, std::uint32_t, std::uint32_t, int) override { ++frames; }
    void TextLine(const Rect&, const std::string& text) override { line = text; }
    void ProgressBar(const Rect& r, int p, std::uint32_t, std::uint32_t light) override {
      percent = p;
      bar = r;
      EXPECT_EQ(light, 0xFFFFFFu);
    }
    std::string line;
    int frames = 0, percent = -1;
    Rect bar;
  } canvas;
  TZelConnexionBufferOut buffer(nullptr);
  buffer.Paint(canvas, {0, 0, 200, 40});
  EXPECT_EQ(canvas.line, buffer.StatisticsLine());
  EXPECT_EQ(canvas.frames, 2);
  EXPECT_EQ(canvas.percent, -1);
  {
    std::lock_guard guard(buffer.Mutex());
    QueueFrame(buffer, std::string(300, 'a'));
    QueueFrame(buffer, std::string(100, 'a'));
    buffer.TakeChunk(kMaxChunk);
  }
  buffer.Paint(canvas, {0, 0, 200, 40});
  EXPECT_EQ(canvas.percent, 75);
  EXPECT_EQ(canvas.bar.top, 14);  // 2 + 1 + text height 10 + 1
}

}  // namespace
}  // namespace quorvane
