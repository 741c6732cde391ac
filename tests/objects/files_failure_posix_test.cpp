// A write that fails part-way (the file size limit of the process) must leave the
// old file whole and no temporary file behind. The limit holds even for root,
// for whom a read-only folder would not fail.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <fstream>

#include "objects/files.h"
#include "objects_test_support.h"
#include "util/atomic_file.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;

class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    old_handler_ = signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    signal(SIGXFSZ, old_handler_);
  }

 private:
  rlimit saved_{};
  void (*old_handler_)(int) = nullptr;
};

using FilesFailureTest = test::ObjectsTest;

TEST_F(FilesFailureTest, FailedSaveLeavesTheOldFileWholeAndNoTemporaryFile) {
  const std::string old_content(100, 'o');
  std::ofstream(Folder() + "setup.dat", std::ios::binary) << old_content;
  TSOFile file;
  file.xData = std::string(4096, 'n');
  bool saved = true;
  {
    FileSizeLimit limit(1024);
    saved = file.SaveToDisk(Folder() + "setup.dat");
  }
  EXPECT_FALSE(saved);
  EXPECT_EQ(ReadWholeFile(Folder() + "setup.dat").value_or(""), old_content);
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(Folder()))
    names.push_back(entry.path().filename().string());
  EXPECT_EQ(names, std::vector<std::string>{"setup.dat"});
}

}  // namespace
}  // namespace quorvane
