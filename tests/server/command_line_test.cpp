// The command line and the listening addresses.
#include "command_line.h"

#include <gtest/gtest.h>

#include "server_fixture.h"

namespace quorvane::server::testing {
namespace {

CommandLine Parse(std::vector<std::string> args) {
  std::vector<const char*> argv = {"quorvane-server"};
  for (const std::string& a : args)
    argv.push_back(a.c_str());
  return ParseCommandLine(static_cast<int>(argv.size()), argv.data());
}

TEST(CommandLineTest, ReadsEveryOption) {
  quorvane::testing::TempFolder temp("quorvane-server-cli");
  WriteFile(temp.path() / "upd.bin", "u");
  const CommandLine c = Parse({"--package",
                               temp.folder(),
                               "--listen",
                               "127.0.0.1:700",
                               "--listen",
                               "127.0.0.2:0",
                               "--state",
                               "/tmp/s",
                               "--level",
                               "3",
                               "--updater",
                               (temp.path() / "upd.bin").string(),
                               "--fin-message",
                               "termin\xc3\xa9",
                               "--log",
                               "x.log",
                               "--no-cache",
                               "--cache-memory-mb",
                               "5",
                               "--max-frame-kb",
                               "64",
                               "--idle-timeout",
                               "7"});
  ASSERT_EQ(c.exit_code, -1) << c.message;
  EXPECT_EQ(c.options.listen, (std::vector<std::string>{"127.0.0.1:700", "127.0.0.2:0"}));
  EXPECT_EQ(c.options.level, 3);
  EXPECT_EQ(c.options.fin_message, "termin\xe9");  // Windows-1252 on the wire
  EXPECT_EQ(c.log, "x.log");
  EXPECT_FALSE(c.options.cache);
  EXPECT_EQ(c.options.cache_memory, 5u << 20);
  EXPECT_EQ(c.options.max_frame, 64u << 10);
  EXPECT_EQ(c.options.idle_seconds, 7);
  EXPECT_TRUE(c.options.updater.has_value());
}

TEST(CommandLineTest, UsageErrorsAndHelp) {
  quorvane::testing::TempFolder temp("quorvane-server-cli");
  EXPECT_GT(Parse({"--listen", "127.0.0.1:700"}).exit_code, 0);  // no package
  EXPECT_GT(Parse({"--package", temp.folder()}).exit_code, 0);   // no address
  EXPECT_GT(
      Parse({"--package", temp.folder(), "--listen", "127.0.0.1:1", "--level", "10"}).exit_code, 0);
  const CommandLine help = Parse({"--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_NE(help.message.find("--fin-message"), std::string::npos);
  EXPECT_NE(help.message.find("EXAMPLES"), std::string::npos);
}

TEST(ListenAddressTest, ParsesIPv4AndBracketedIPv6AndRefusesTheRest) {
  auto a = ParseListenAddress("127.0.0.2:700");
  ASSERT_TRUE(a);
  EXPECT_EQ(a->address, "127.0.0.2");
  EXPECT_EQ(a->port, 700);
  auto b = ParseListenAddress("[::1]:0");
  ASSERT_TRUE(b);
  EXPECT_EQ(b->address, "::1");
  for (const char* bad : {"127.0.0.1", "127.0.0.1:", ":700", "127.0.0.1:70000", "localhost:700",
                          "127.0.0.1:7x", "[::1:700"})
    EXPECT_FALSE(ParseListenAddress(bad)) << bad;
}

TEST(ServerStartTest, AnAddressThatCannotBeBoundOrAMissingPackageStopsTheStart) {
  quorvane::testing::TempFolder temp("quorvane-server-start");
  ServerLog log;
  ServerOptions options;
  options.package = temp.path() / "nowhere";
  options.listen = {"127.0.0.1:0"};
  options.state = temp.path() / "state";
  std::string error;
  EXPECT_FALSE(Server(options, log).Start(&error));
  EXPECT_NE(error.find("missing"), std::string::npos);

  options.package = temp.path();
  options.state = temp.path() / "state";
  {
    // Its stored frames would be served as package files.
    Server inside(options, log);
    EXPECT_FALSE(inside.Start(&error));
    EXPECT_NE(error.find("inside the package"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(options.state));
  }
  options.state = temp.path().string() + "-state";
  Server first(options, log);
  ASSERT_TRUE(first.Start(&error)) << error;
  options.listen = {"127.0.0.1:" + std::to_string(first.LocalPorts()[0])};
  ServerOptions elsewhere = options;
  elsewhere.state = temp.path().string() + "-state2";
  Server second(elsewhere, log);
  EXPECT_FALSE(second.Start(&error));
  EXPECT_NE(error.find("cannot listen"), std::string::npos);
  // Another server on the same state folder would delete the first one's frames.
  options.listen = {"127.0.0.1:0"};
  Server third(options, log);
  EXPECT_FALSE(third.Start(&error));
  EXPECT_NE(error.find("in use by another"), std::string::npos) << error;
  first.Stop();
  first.Wait();
  fs::remove_all(temp.path().string() + "-state");
  fs::remove_all(temp.path().string() + "-state2");
}

}  // namespace
}  // namespace quorvane::server::testing
