#include "util/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_folder.h"
#include "util/diagnostic_log.h"

namespace quorvane {
namespace {
namespace fs = std::filesystem;

class AtomicFileTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& relative) const {
    return (folder_.path() / relative).string();
  }
  std::string Read(const std::string& relative) const {
    return ReadWholeFile(Path(relative)).value_or("<missing>");
  }
  // Every file left under the folder whose name holds ".tmp": temporaries.
  std::vector<std::string> Temporaries() const {
    std::vector<std::string> found;
    for (const auto& item : fs::recursive_directory_iterator(folder_.path()))
      if (item.path().filename().string().find(".tmp") != std::string::npos)
        found.push_back(item.path().string());
    return found;
  }
  static unsigned ModeOf(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
  }
  testing::TempFolder folder_{"quorvane-atomic"};
};

TEST_F(AtomicFileTest, ReplacementKeepsTheModeOfTheReplacedFile) {
  ASSERT_TRUE(WriteFileAtomically(Path("a.ini"), "old"));
  ASSERT_EQ(::chmod(Path("a.ini").c_str(), 0640), 0);
  ASSERT_TRUE(WriteFileAtomically(Path("a.ini"), "new"));
  EXPECT_EQ(Read("a.ini"), "new");
  EXPECT_EQ(ModeOf(Path("a.ini")), 0640u);

  ASSERT_EQ(::chmod(Path("a.ini").c_str(), 0604), 0);
  DurableFileBatch batch;
  ASSERT_TRUE(batch.Add(Path("a.ini"), "batch"));
  ASSERT_TRUE(batch.Commit().at(0).status.ok());
  EXPECT_EQ(ModeOf(Path("a.ini")), 0604u);
}

TEST_F(AtomicFileTest, ALongestNameGetsATemporaryAndLeftTemporariesAreRemoved) {
  EXPECT_EQ(WriteFileAtomically(Path(std::string(255, 'n')), "x").ToString(), "OK");
  ASSERT_TRUE(WriteFileAtomically(Path("db/data.prp.tmp123.4"), "left by an earlier version"));
  ASSERT_TRUE(WriteFileAtomically(Path("sub/.qs0123456789abcdef.tmp"), "left"));
  ASSERT_TRUE(WriteFileAtomically(Path("keep.tmp"), "kept"));
  EXPECT_EQ(RemoveLeftTemporaries(folder_.path().string()), 2u);
  EXPECT_EQ(Temporaries(), std::vector<std::string>{Path("keep.tmp")});
}

TEST_F(AtomicFileTest, AProgramGetsItsExecuteBitOnItsNewFileNeverThroughALink) {
  ASSERT_TRUE(WriteFileAtomically(Path("outside.sh"), "outside"));
  ASSERT_EQ(::chmod(Path("outside.sh").c_str(), 0644), 0);
  fs::create_symlink(Path("outside.sh"), Path("program"));
  DurableFileBatch batch;
  ASSERT_TRUE(batch.Add(Path("program"), "new", /*owner_executable=*/true));
  ASSERT_TRUE(batch.Commit().at(0).status.ok());
  EXPECT_FALSE(fs::is_symlink(Path("program")));
  EXPECT_EQ(ModeOf(Path("program")) & S_IXUSR, unsigned{S_IXUSR});
  EXPECT_EQ(ModeOf(Path("outside.sh")), 0644u);
}

TEST_F(AtomicFileTest, FollowingALinkWritesItsTargetAndKeepsTheLink) {
  // A dangling relative link: the file it names is created, the link stays.
  fs::create_directories(folder_.path() / "real");
  fs::create_symlink("real/settings.toml", folder_.path() / "link.toml");
  AtomicWriteOptions follow;
  follow.follow_symlink = true;
  ASSERT_EQ(WriteFileAtomically(Path("link.toml"), "x = 1\n", follow).ToString(), "OK");
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(folder_.path() / "link.toml")));
  EXPECT_EQ(Read("real/settings.toml"), "x = 1\n");

  // Without following, the link itself is replaced by a regular file.
  ASSERT_TRUE(WriteFileAtomically(Path("link.toml"), "y = 2\n", AtomicWriteOptions{}));
  EXPECT_FALSE(fs::is_symlink(fs::symlink_status(folder_.path() / "link.toml")));
  EXPECT_EQ(Read("real/settings.toml"), "x = 1\n");
}

TEST_F(AtomicFileTest, AFailedWriteSaysWhyAndLeavesTheOldFile) {
  ASSERT_TRUE(WriteFileAtomically(Path("keep.dat"), "old"));
  // The target is a folder: the rename fails, the temporary is removed.
  fs::create_directories(folder_.path() / "dir" / "inner");
  const Status onto_folder = WriteFileAtomically(Path("dir"), "bytes");
  EXPECT_NE(onto_folder.ToString().find("cannot rename"), std::string::npos) << onto_folder.ok();
  // The parent is a regular file: the temporary cannot be made.
  const Status below_file = WriteFileAtomically(Path("keep.dat/child"), "bytes");
  EXPECT_NE(below_file.ToString().find("cannot create"), std::string::npos) << below_file.ok();
  EXPECT_EQ(Read("keep.dat"), "old");
  EXPECT_TRUE(Temporaries().empty());
}

TEST_F(AtomicFileTest, BatchWritesEveryFileWithItsFoldersAndLeavesNoTemporary) {
  ASSERT_TRUE(WriteFileAtomically(Path("bin/old.exe"), "previous"));
  DurableFileBatch batch;
  std::vector<std::string> paths;
  for (int i = 0; i < 40; ++i) {
    const std::string relative = "bin/sub" + std::to_string(i % 4) + "/f" + std::to_string(i);
    paths.push_back(Path(relative));
    ASSERT_TRUE(batch.Add(paths.back(), "content " + std::to_string(i)));
  }
  ASSERT_TRUE(batch.Add(Path("bin/old.exe"), "replaced"));
  ASSERT_TRUE(batch.Add(Path("empty"), ""));
  EXPECT_EQ(batch.Size(), 42u);
  // Nothing is visible before Commit.
  EXPECT_EQ(Read("bin/sub0/f0"), "<missing>");
  EXPECT_EQ(Read("bin/old.exe"), "previous");

  const auto results = batch.Commit();
  ASSERT_EQ(results.size(), 42u);
  for (std::size_t i = 0; i < paths.size(); ++i) {
    EXPECT_EQ(results[i].path, paths[i]);
    EXPECT_TRUE(results[i].status.ok()) << results[i].status.ToString();
    EXPECT_EQ(ReadWholeFile(paths[i]).value_or(""), "content " + std::to_string(i));
  }
  EXPECT_EQ(Read("bin/old.exe"), "replaced");
  EXPECT_EQ(Read("empty"), "");
  EXPECT_EQ(batch.Size(), 0u);
  EXPECT_TRUE(Temporaries().empty());
}

TEST_F(AtomicFileTest, BatchReportsEachFailureAndWritesTheOthers) {
  ASSERT_TRUE(WriteFileAtomically(Path("plain"), "a file, not a folder"));
  fs::create_directories(folder_.path() / "occupied" / "inner");
  DurableFileBatch batch;
  ASSERT_TRUE(batch.Add(Path("one"), "1"));
  const Status refused = batch.Add(Path("plain/child"), "x");  // cannot be created
  EXPECT_NE(refused.ToString().find("plain"), std::string::npos) << refused.ok();
  EXPECT_FALSE(batch.AddWith(Path("given_up"), [](std::FILE* file) {
    std::fputs("partial", file);
    return false;
  }));
  ASSERT_TRUE(batch.Add(Path("occupied"), "y"));  // the rename fails
  ASSERT_TRUE(batch.Add(Path("two"), "2"));

  const auto results = batch.Commit();
  ASSERT_EQ(results.size(), 5u);
  EXPECT_TRUE(results[0].status.ok());
  EXPECT_EQ(results[1].status.what().find("cannot create"), 0u) << results[1].status.ToString();
  EXPECT_EQ(results[2].status.what().find("cannot write"), 0u) << results[2].status.ToString();
  EXPECT_EQ(results[3].status.what().find("cannot rename"), 0u) << results[3].status.ToString();
  EXPECT_TRUE(results[4].status.ok());
  EXPECT_EQ(Read("one"), "1");
  EXPECT_EQ(Read("two"), "2");
  EXPECT_EQ(Read("given_up"), "<missing>");
  EXPECT_TRUE(fs::is_directory(folder_.path() / "occupied" / "inner"));
  EXPECT_TRUE(Temporaries().empty());
}

TEST_F(AtomicFileTest, UncommittedBatchChangesNothingAndALaterAddWins) {
  ASSERT_TRUE(WriteFileAtomically(Path("a"), "old a"));
  {
    DurableFileBatch batch;
    ASSERT_TRUE(batch.Add(Path("a"), "new a"));
    ASSERT_TRUE(batch.Add(Path("b"), "new b"));
    EXPECT_EQ(Temporaries().size(), 2u);
  }  // destroyed without Commit
  EXPECT_EQ(Read("a"), "old a");
  EXPECT_EQ(Read("b"), "<missing>");
  EXPECT_TRUE(Temporaries().empty());

  DurableFileBatch batch;
  ASSERT_TRUE(batch.Add(Path("a"), "first"));
  ASSERT_TRUE(batch.Add(Path("b"), "b"));
  ASSERT_TRUE(batch.Add(Path("a"), "second"));
  EXPECT_EQ(batch.Size(), 2u);
  const auto results = batch.Commit();
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[0].path, Path("a"));
  EXPECT_EQ(Read("a"), "second");
  EXPECT_TRUE(Temporaries().empty());

  // Reusable after Commit; Discard drops what was added.
  ASSERT_TRUE(batch.Add(Path("c"), "c"));
  batch.Discard();
  EXPECT_TRUE(batch.Commit().empty());
  EXPECT_EQ(Read("c"), "<missing>");
}

TEST_F(AtomicFileTest, BatchFollowsLinksWhenAsked) {
  fs::create_symlink("target.dat", folder_.path() / "link.dat");
  AtomicWriteOptions follow;
  follow.follow_symlink = true;
  DurableFileBatch batch(follow);
  ASSERT_TRUE(batch.Add(Path("link.dat"), "through the link"));
  ASSERT_TRUE(batch.Add(Path("other.dat"), "other"));
  const auto results = batch.Commit();
  EXPECT_TRUE(results.at(0).status.ok() && results.at(1).status.ok());
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(folder_.path() / "link.dat")));
  EXPECT_EQ(Read("target.dat"), "through the link");
}

// A failure's text holds the path as Windows-1252, so the log's one conversion
// shows the name as it is on disk.
TEST_F(AtomicFileTest, AFailureLogsTheNativePathAsItIsOnDisk) {
  SetDiagnosticLogFile(Path("setup.log"));
  const struct {
    std::string folder, logged;  // UTF-8 on disk; as it reads in the log
  } cases[] = {
      {"plain", "plain"}, {"Café", "Café"}, {"crème brûlée", "crème brûlée"}, {"Ωmega", "?mega"}};
  for (const auto& c : cases) {
    ASSERT_TRUE(WriteFileAtomically(Path(c.folder), "a file, not a folder"));
    const Status failed = WriteFileAtomically(Path(c.folder + "/child"), "x");
    DiagnosticLog("util", failed.ToString());
    EXPECT_NE(Read("setup.log").find("cannot create " + Path(c.logged) + "/.qs"), std::string::npos)
        << Read("setup.log");
  }
  SetDiagnosticLogFile("");
}

}  // namespace
}  // namespace quorvane
