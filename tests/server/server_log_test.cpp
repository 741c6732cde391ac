// The server log: one line per event with its UTC time, client text made safe,
// rotation at its size limit.
#include "server_log.h"

#include <gtest/gtest.h>

#include <regex>

#include "server_fixture.h"

namespace quorvane::server::testing {
namespace {

TEST(ServerLogTest, OneStampedLineWithControlCharactersBlanked) {
  quorvane::testing::TempFolder temp("quorvane-server-log");
  const fs::path path = temp.path() / "server.log";
  {
    ServerLog log;
    ASSERT_TRUE(log.Open(path.string(), nullptr));
    log.Line("#1 127.0.0.1:5 closed: bad\r\nline\x1b");
    EXPECT_EQ(log.LineCount(), 1u);
  }
  const std::string text = ReadText(path);
  EXPECT_TRUE(std::regex_match(
      text,
      std::regex(
          R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z #1 127\.0\.0\.1:5 closed: bad  line \n)")))
      << text;
}

TEST(ServerLogTest, ClientTextIsConvertedAndCut) {
  EXPECT_EQ(LogSafe("caf\xe9\n!"), "caf\xc3\xa9 !");
  EXPECT_EQ(LogSafe(std::string(500, 'x'), 10), std::string(10, 'x'));
}

TEST(ServerLogTest, AFullLogMovesAsideAndStartsAgain) {
  quorvane::testing::TempFolder temp("quorvane-server-log");
  const fs::path path = temp.path() / "server.log";
  ServerLog log;
  ASSERT_TRUE(log.Open(path.string(), nullptr, 1000));
  for (int i = 0; i < 40; ++i)
    log.Line("event " + std::to_string(i));
  EXPECT_LE(fs::file_size(path), 1000u);
  EXPECT_TRUE(fs::exists(temp.path() / "server.log.1"));
  EXPECT_NE(ReadText(path).find("event 39"), std::string::npos);
}

TEST(ServerLogTest, AnUnwritableLogFileIsAnError) {
  ServerLog log;
  std::string error;
  EXPECT_FALSE(log.Open("/nonexistent-folder/server.log", &error));
  EXPECT_NE(error.find("/nonexistent-folder/server.log"), std::string::npos);
}

}  // namespace
}  // namespace quorvane::server::testing
