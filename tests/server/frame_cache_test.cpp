// The prepared-frame cache and the frames it holds: decoded back, the file
// arrives whole; prepared once; invalidated by a change; plain when the data
// does not shrink; served from the state folder beyond the memory limit.
#include "frame_cache.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>

#include "model/object_stream.h"
#include "objects/answers.h"
#include "objects/files.h"
#include "objects/protocol.h"
#include "objects/register_classes.h"
#include "server_fixture.h"
#include "slice_compressor.h"
#include "transport/bzip_block.h"
#include "transport/frame_format.h"
#include "wire.h"

namespace quorvane::server::testing {
namespace {

struct Frame {
  std::string payload;
  char kind = ' ';
  char compression = ' ';
};

std::vector<Frame> SplitFrames(const std::string& bytes) {
  std::vector<Frame> frames;
  std::size_t at = 0;
  while (at < bytes.size()) {
    const auto expected = ParseFrameHeader(reinterpret_cast<const std::uint8_t*>(bytes.data() + at),
                                           bytes.size() - at);
    if (!expected || at + 30 + *expected > bytes.size()) {
      ADD_FAILURE() << "bad frame at " << at;
      break;
    }
    Frame frame;
    frame.payload = bytes.substr(at + 20, static_cast<std::size_t>(*expected));
    const std::size_t trailer = at + 20 + static_cast<std::size_t>(*expected);
    EXPECT_EQ(bytes.substr(trailer, 8), FrameEndMarker());
    frame.kind = bytes[trailer + 8];
    frame.compression = bytes[trailer + 9];
    frames.push_back(std::move(frame));
    at = trailer + 10;
  }
  return frames;
}

std::unique_ptr<TZelObject> Decode(const Frame& frame) {
  std::string bytes = frame.payload;
  if (frame.compression == kCompressed) bytes = DecompressBlock(bytes.data(), bytes.size());
  return ObjectFromStream(bytes);
}

class FrameCacheTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { RegisterClasses(); }

  std::unique_ptr<FrameCache> Make(std::size_t memory_limit = 1 << 20, bool enabled = true) {
    FrameCache::Options options;
    options.folder = temp_.path() / "state";
    options.memory_limit = memory_limit;
    options.level = 9;
    options.enabled = enabled;
    // Jobs run at once on the calling thread: the test sees every effect in order.
    return std::make_unique<FrameCache>(options, catalogue_,
                                        [](std::function<void()> job) { job(); });
  }
  std::shared_ptr<const PreparedFrames> Acquire(FrameCache& cache, const PackageFile& file,
                                                std::string* error = nullptr) {
    std::shared_ptr<const PreparedFrames> result;
    cache.Acquire(file, [&](std::shared_ptr<const PreparedFrames> frames, const std::string& e) {
      result = std::move(frames);
      if (error != nullptr) *error = e;
    });
    return result;
  }
  std::string Bytes(const PreparedFrames& frames) {
    return frames.memory ? *frames.memory : ReadText(frames.disk);
  }
  PackageFile Find(const std::string& name) {
    for (PackageFile& file : catalogue_.Scan())
      if (file.folder + file.name == name) return file;
    ADD_FAILURE() << name << " not in the package";
    return {};
  }

  quorvane::testing::TempFolder temp_{"quorvane-server-cache"};
  fs::path root_ = [this] {
    fs::create_directories(temp_.path() / "package");
    return temp_.path() / "package";
  }();
  PackageCatalogue catalogue_{root_, std::nullopt};
};

TEST_F(FrameCacheTest, TheFramesCarryTheWholeFileAnnouncedAndCompressed) {
  const std::string contents = TextBytes(300000, 5);
  WriteFile(root_ / "DB" / "Data.PRP", contents);
  auto cache = Make();
  auto frames = Acquire(*cache, Find("DB\\Data.PRP"));
  ASSERT_TRUE(frames);
  EXPECT_TRUE(frames->compressed);
  EXPECT_EQ(frames->file_size, 300000);
  const std::vector<Frame> split = SplitFrames(Bytes(*frames));
  ASSERT_EQ(split.size(), 2u);  // the announcement, then the file
  auto announcement = Decode(split[0]);
  auto* answer = dynamic_cast<TZelSObjectAnswer*>(announcement.get());
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer->ZelWhat, protocol::kHeaderInfo);
  EXPECT_EQ(split[1].kind, kKindObject);
  EXPECT_EQ(split[1].compression, kCompressed);
  auto object = Decode(split[1]);
  auto* file = dynamic_cast<TSOFile*>(object.get());
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->xData, contents);
  EXPECT_EQ(file->xRelativePath, "DB\\");
  EXPECT_EQ(file->xFileName, "Data.PRP");
  EXPECT_EQ(file->xFileType, ".prp");
  EXPECT_EQ(file->xFileSize, 300000);
}

TEST_F(FrameCacheTest, DataThatDoesNotShrinkIsSentPlain) {
  WriteFile(root_ / "noise.zip", NoiseBytes(600000, 1));
  WriteFile(root_ / "tiny.bin", NoiseBytes(64, 2));
  auto cache = Make();
  auto noise = Acquire(*cache, Find("noise.zip"));
  ASSERT_TRUE(noise);
  EXPECT_FALSE(noise->compressed);
  EXPECT_EQ(SplitFrames(Bytes(*noise)).back().compression, kNotCompressed);
  auto tiny = Acquire(*cache, Find("tiny.bin"));
  ASSERT_TRUE(tiny);
  EXPECT_FALSE(tiny->compressed);
  const std::vector<Frame> split = SplitFrames(Bytes(*tiny));
  ASSERT_EQ(split.size(), 1u);  // under 5,000 bytes: no announcement
  EXPECT_EQ(dynamic_cast<TSOFile&>(*Decode(split[0])).xData, NoiseBytes(64, 2));
}

TEST_F(FrameCacheTest, PreparedOnceThenSharedAndPreparedAgainWhenTheFileChanges) {
  WriteFile(root_ / "a.txt", TextBytes(10000, 1));
  auto cache = Make();
  auto first = Acquire(*cache, Find("a.txt"));
  auto second = Acquire(*cache, Find("a.txt"));
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->memory, second->memory);  // the same bytes, not a copy
  EXPECT_EQ(cache->GetStats().preparations, 1u);
  EXPECT_EQ(cache->GetStats().hits, 1u);
  const fs::path stored = first->disk;
  EXPECT_TRUE(fs::exists(stored));

  WriteFile(root_ / "a.txt", TextBytes(12000, 2));
  auto changed = Acquire(*cache, Find("a.txt"));
  ASSERT_TRUE(changed);
  EXPECT_EQ(cache->GetStats().preparations, 2u);
  EXPECT_EQ(dynamic_cast<TSOFile&>(*Decode(SplitFrames(Bytes(*changed)).back())).xData,
            TextBytes(12000, 2));
  EXPECT_FALSE(fs::exists(stored));  // the stale copy is gone
  EXPECT_EQ(cache->GetStats().entries, 1u);
}

TEST_F(FrameCacheTest, AFileChangedSinceItWasListedIsRefusedNotSentHalfNew) {
  WriteFile(root_ / "a.txt", TextBytes(1000, 1));
  const PackageFile listed = Find("a.txt");
  WriteFile(root_ / "a.txt", TextBytes(2000, 1));
  auto cache = Make();
  std::string error;
  EXPECT_FALSE(Acquire(*cache, listed, &error));
  EXPECT_NE(error.find("changed"), std::string::npos);
  EXPECT_EQ(cache->GetStats().failures, 1u);
  EXPECT_TRUE(Acquire(*cache, Find("a.txt")));
}

TEST_F(FrameCacheTest, AFileReplacedByALinkOutOfThePackageIsNotRead) {
  WriteFile(root_ / "a.txt", "inside");
  const PackageFile listed = Find("a.txt");
  WriteFile(temp_.path() / "secret", "outside");
  fs::remove(root_ / "a.txt");
  fs::create_symlink(temp_.path() / "secret", root_ / "a.txt");
  auto cache = Make();
  std::string error;
  EXPECT_FALSE(Acquire(*cache, listed, &error));
  EXPECT_NE(error.find("package"), std::string::npos);
}

TEST_F(FrameCacheTest, BeyondTheMemoryLimitFramesAreServedFromTheStateFolder) {
  for (int i = 0; i < 4; ++i)
    WriteFile(root_ / ("f" + std::to_string(i)), TextBytes(50000, i));
  auto cache = Make(30000);
  std::vector<std::string> first;
  for (int i = 0; i < 4; ++i)
    first.push_back(Bytes(*Acquire(*cache, Find("f" + std::to_string(i)))));
  EXPECT_LE(cache->GetStats().memory_bytes, 30000u);
  for (int i = 0; i < 4; ++i) {
    auto again = Acquire(*cache, Find("f" + std::to_string(i)));
    ASSERT_TRUE(again);
    EXPECT_EQ(Bytes(*again), first[i]);
  }
  EXPECT_EQ(cache->GetStats().preparations, 4u);
  EXPECT_EQ(cache->GetStats().hits, 4u);
}

TEST_F(FrameCacheTest, WithoutTheCacheEveryRequestIsPreparedAndNothingIsStored) {
  WriteFile(root_ / "a.txt", TextBytes(10000, 1));
  auto cache = Make(1 << 20, false);
  auto first = Acquire(*cache, Find("a.txt"));
  auto second = Acquire(*cache, Find("a.txt"));
  ASSERT_TRUE(first && second);
  EXPECT_NE(first->memory, second->memory);
  EXPECT_EQ(dynamic_cast<TSOFile&>(*Decode(SplitFrames(*second->memory).back())).xData,
            TextBytes(10000, 1));
  EXPECT_EQ(cache->GetStats().preparations, 2u);
  EXPECT_TRUE(fs::is_empty(temp_.path() / "state"));
}

TEST_F(FrameCacheTest, RequestsDuringAPreparationWaitForItInsteadOfPreparingAgain) {
  WriteFile(root_ / "a.txt", TextBytes(10000, 1));
  std::vector<std::function<void()>> jobs;
  FrameCache::Options options;
  options.folder = temp_.path() / "state";
  FrameCache cache(options, catalogue_, [&](std::function<void()> job) { jobs.push_back(job); });
  int answered = 0;
  for (int i = 0; i < 3; ++i)
    cache.Acquire(Find("a.txt"), [&](std::shared_ptr<const PreparedFrames> frames,
                                     const std::string&) { answered += frames ? 1 : 0; });
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(answered, 0);
  jobs[0]();
  EXPECT_EQ(answered, 3);
  EXPECT_EQ(cache.GetStats().preparations, 1u);
}

TEST_F(FrameCacheTest, StoredFramesOfAnEarlierRunAreRemovedAtStart) {
  fs::create_directories(temp_.path() / "state");
  WriteFile(temp_.path() / "state" / "0123-1-9.frm", "stale");
  WriteFile(temp_.path() / "state" / "keep.txt", "not ours");
  auto cache = Make();
  EXPECT_FALSE(fs::exists(temp_.path() / "state" / "0123-1-9.frm"));
  EXPECT_TRUE(fs::exists(temp_.path() / "state" / "keep.txt"));
}

TEST_F(FrameCacheTest, AlteredStoredFramesAreNotSentButPreparedAgain) {
  WriteFile(root_ / "a.txt", TextBytes(50000, 1));
  const struct {
    const char* what;
    void (*alter)(const fs::path&);
  } cases[] = {
      {"a byte changed", [](const fs::path& p) { WriteFile(p, "X" + ReadText(p).substr(1)); }},
      {"cut short", [](const fs::path& p) { fs::resize_file(p, 100); }}};
  for (const auto& c : cases) {
    auto cache = Make(1000);  // nothing stays in memory: every hit is read from the state folder
    Acquire(*cache, Find("a.txt"));
    auto stored = Acquire(*cache, Find("a.txt"));
    ASSERT_TRUE(stored && stored->stored && !stored->memory) << c.what;
    c.alter(stored->disk);
    auto again = Acquire(*cache, Find("a.txt"));
    ASSERT_TRUE(again && again->memory) << c.what;
    EXPECT_EQ(dynamic_cast<TSOFile&>(*Decode(SplitFrames(*again->memory).back())).xData,
              TextBytes(50000, 1))
        << c.what;
    EXPECT_EQ(cache->GetStats().preparations, 2u) << c.what;
  }
}

TEST_F(FrameCacheTest, ACancelledPreparationEndsBetweenSlicesAndStoresNothing) {
  WriteFile(root_ / "a.txt", TextBytes(3 * SliceSize(9), 1));
  std::deque<std::function<void()>> jobs;
  FrameCache::Options options;
  options.folder = temp_.path() / "state";
  FrameCache cache(options, catalogue_, [&](std::function<void()> job) { jobs.push_back(job); });
  std::string error = "not answered";
  cache.Acquire(Find("a.txt"), [&](std::shared_ptr<const PreparedFrames> frames,
                                   const std::string& e) { error = frames ? "" : e; });
  auto run = [&jobs] {
    auto job = std::move(jobs.front());
    jobs.pop_front();
    job();
  };
  run();  // the reading and the first slice
  run();  // the second slice
  ASSERT_EQ(jobs.size(), 1u);
  cache.Cancel();
  while (!jobs.empty())
    run();
  EXPECT_NE(error.find("stopping"), std::string::npos) << error;
  EXPECT_EQ(cache.GetStats().failures, 1u);
  EXPECT_TRUE(fs::is_empty(temp_.path() / "state"));
}

TEST_F(FrameCacheTest, AWaiterPastItsPatienceGetsPlainFramesWhileTheCompressionGoesOn) {
  WriteFile(root_ / "a.txt", TextBytes(3 * SliceSize(9), 1));
  std::deque<std::function<void()>> jobs;
  FrameCache::Options options;
  options.folder = temp_.path() / "state";
  options.patience = std::chrono::seconds(0);
  FrameCache cache(options, catalogue_, [&](std::function<void()> job) { jobs.push_back(job); });
  std::vector<std::shared_ptr<const PreparedFrames>> got;
  auto acquire = [&] {
    cache.Acquire(Find("a.txt"), [&](std::shared_ptr<const PreparedFrames> frames,
                                     const std::string&) { got.push_back(frames); });
  };
  acquire();
  jobs.front()();  // the reading and the first slice
  ASSERT_EQ(got.size(), 1u);
  for (jobs.pop_front(); !jobs.empty(); jobs.pop_front())
    jobs.front()();
  acquire();  // the compressed frames, kept
  ASSERT_EQ(got.size(), 2u);
  for (std::size_t i = 0; i < got.size(); ++i) {
    ASSERT_TRUE(got[i]);
    EXPECT_EQ(got[i]->compressed, i == 1);
    EXPECT_EQ(dynamic_cast<TSOFile&>(*Decode(SplitFrames(*got[i]->memory).back())).xData,
              TextBytes(3 * SliceSize(9), 1));
  }
}

TEST_F(FrameCacheTest, PrepareAllPreparesEveryFileLargestFirst) {
  for (const auto& [name, size] : {std::pair{"small", 1000}, {"big", 30000}, {"mid", 5000}})
    WriteFile(root_ / name, TextBytes(size, 1));
  FrameCache::Options options;
  options.folder = temp_.path() / "state";
  std::vector<std::string> log;
  FrameCache cache(
      options, catalogue_, [](std::function<void()> job) { job(); },
      [&](const std::string& line) { log.push_back(line); });
  cache.PrepareAll(catalogue_.Scan());
  EXPECT_EQ(cache.GetStats().preparations, 3u);
  ASSERT_FALSE(log.empty());
  EXPECT_NE(log.front().find("prepared big; 1 of 3 files"), std::string::npos) << log.front();
  EXPECT_NE(log.back().find("3 of 3 files"), std::string::npos) << log.back();
}

TEST(SliceCompressorTest, TheJoinedSlicesDecodeAsOneStream) {
  std::string runs;  // runs of exactly four: the library's run-length step grows them most
  for (int i = 0; runs.size() < 3 * SliceSize(1) + 5; ++i)
    runs += std::string(4, static_cast<char>('a' + i % 2));
  const std::pair<std::string, int> cases[] = {{TextBytes(2 * SliceSize(9) + 12345, 1), 9},
                                               {runs, 1},
                                               {NoiseBytes(SliceSize(2) + 1, 2), 2},
                                               {"short", 9},
                                               {"", 9}};
  for (const auto& [payload, level] : cases) {
    std::string block;
    std::deque<std::function<void()>> queue;  // run in turn, as a pool would
    CompressInSlices(
        std::make_shared<const std::string>(payload), level, 2,
        [&](std::function<void()> job) { queue.push_back(std::move(job)); }, {},
        [&](std::optional<std::string> b, const std::string& error) { block = b.value_or(error); });
    for (; !queue.empty(); queue.pop_front())
      queue.front()();
    EXPECT_EQ(DecompressBlock(block.data(), block.size()), payload) << payload.size() << " bytes";
    if (payload.size() <= SliceSize(level)) {  // one slice: what the library alone makes
      EXPECT_EQ(block, CompressBlock(payload.data(), payload.size(), level));
    }
  }
}

TEST(WireTest, AnnouncementFromFiveThousandPayloadBytes) {
  RegisterClasses();
  TZelSObjectAnswer small;
  small.ZelWhat = "x";
  small.AddItem("a", std::string(100, 'y'));
  EXPECT_EQ(SplitFrames(ObjectFrames(small, 0)).size(), 1u);
  TZelSObjectAnswer large;
  large.ZelWhat = "x";
  large.AddItem("a", NoiseBytes(6000, 3));
  const std::vector<Frame> frames = SplitFrames(ObjectFrames(large, 0));
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].compression, kCompressed);
  EXPECT_EQ(frames[1].compression, kNotCompressed);
  EXPECT_EQ(dynamic_cast<TZelSObjectAnswer&>(*Decode(frames[0])).ZelWhat, protocol::kHeaderInfo);
}

TEST(WireTest, AnswerItemsAreLinesInOrder) {
  RegisterClasses();
  const std::vector<Frame> frames =
      SplitFrames(AnswerFrames(protocol::kInstallBegin, {"pkg", "3", "4500"}));
  ASSERT_EQ(frames.size(), 1u);
  auto object = Decode(frames[0]);
  auto& answer = dynamic_cast<TZelSObjectAnswer&>(*object);
  EXPECT_EQ(answer.ZelWhat, protocol::kInstallBegin);
  EXPECT_EQ(answer.ZelItems->Lines(), (std::vector<std::string>{"pkg", "3", "4500"}));
}

}  // namespace
}  // namespace quorvane::server::testing
