#include "util/diagnostic_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "support/temp_folder.h"

namespace quorvane {
namespace {

std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class DiagnosticLogTest : public ::testing::Test {
 protected:
  void TearDown() override { SetDiagnosticLogFile(""); }
  testing::TempFolder folder_;
};

TEST_F(DiagnosticLogTest, WritesOneLinePerEventWithTimeThreadLayerAndText) {
  const auto path = folder_.path() / "db" / "setup.log";
  SetDiagnosticLogFile(path.string());
  DiagnosticLog("net", "connect 127.0.0.1:1080 refused\r\nby peer");
  DiagnosticLog("app", "done");

  const std::string text = ReadText(path);
  std::istringstream lines(text);
  std::string first, second, third;
  ASSERT_TRUE(std::getline(lines, first));
  ASSERT_TRUE(std::getline(lines, second));
  EXPECT_FALSE(std::getline(lines, third));
  // 2026-12-08T12:00:00.123Z [1] net: ...
  ASSERT_GE(first.size(), 25u);
  EXPECT_EQ(first[4], '-');
  EXPECT_EQ(first[10], 'T');
  EXPECT_EQ(first[23], 'Z');
  EXPECT_NE(first.find("] net: connect 127.0.0.1:1080 refused  by peer"), std::string::npos);
  EXPECT_NE(second.find("] app: done"), std::string::npos);
}

TEST_F(DiagnosticLogTest, RotatesBeforePassingTheLimit) {
  const auto path = folder_.path() / "setup.log";
  SetDiagnosticLogFile(path.string());
  const std::string text(1000, 'x');
  for (int i = 0; i < 1100; ++i)
    DiagnosticLog("test", text);

  ASSERT_TRUE(std::filesystem::exists(path.string() + ".1"));
  EXPECT_LE(std::filesystem::file_size(path), kDiagnosticLogLimit);
  EXPECT_LE(std::filesystem::file_size(path.string() + ".1"), kDiagnosticLogLimit);
  EXPECT_GT(std::filesystem::file_size(path), 0u);
}

TEST_F(DiagnosticLogTest, UnwritableLogIsSkippedSilently) {
  std::filesystem::create_directories(folder_.path() / "blocked");
  // A folder where the file should be: opening it for appending fails.
  SetDiagnosticLogFile((folder_.path() / "blocked").string());
  DiagnosticLog("test", "lost");
  std::filesystem::create_symlink(folder_.path() / "elsewhere.txt", folder_.path() / "link.log");
  SetDiagnosticLogFile((folder_.path() / "link.log").string());  // a planted link
  DiagnosticLog("test", "lost");
  EXPECT_FALSE(std::filesystem::exists(folder_.path() / "elsewhere.txt"));
  SetDiagnosticLogFile("");
  DiagnosticLog("test", "nowhere");
  EXPECT_TRUE(std::filesystem::is_directory(folder_.path() / "blocked"));
}

TEST_F(DiagnosticLogTest, ConcurrentLinesAreNeverInterleaved) {
  const auto path = folder_.path() / "setup.log";
  SetDiagnosticLogFile(path.string());
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t] {
      for (int i = 0; i < 200; ++i)
        DiagnosticLog("t", std::string(50, static_cast<char>('a' + t)));
    });
  for (auto& thread : threads)
    thread.join();

  std::istringstream lines(ReadText(path));
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) {
    ++count;
    const std::string payload = line.substr(line.find(": ") + 2);
    ASSERT_EQ(payload.size(), 50u) << line;
    EXPECT_EQ(payload.find_first_not_of(payload[0]), std::string::npos) << line;
  }
  EXPECT_EQ(count, 800);
}

}  // namespace
}  // namespace quorvane
