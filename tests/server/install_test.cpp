// Installations through the in-process server with the frame-format client:
// whole package, second run, a changed file, the end message and the updater.
#include <gtest/gtest.h>

#include <algorithm>

#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "install_client.h"
#include "objects/answers.h"
#include "objects/files.h"
#include "objects/protocol.h"
#include "server_fixture.h"
#include "transport/frame_format.h"
#include "util/text.h"
#include "wire.h"

namespace quorvane::server::testing {
namespace {

class InstallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    package_ = temp_.path() / "package";
    target_ = temp_.path() / "target";
    fs::create_directories(target_);
  }
  ServerOptions Options() {
    ServerOptions o;
    o.package = package_;
    o.state = temp_.path() / "state";
    o.level = 1;
    o.workers = 2;
    return o;
  }
  InstallResult Install(std::uint16_t port, const std::string& host = "127.0.0.1") {
    InstallClientOptions c;
    c.host = host;
    c.port = port;
    c.folder = target_;
    c.timeout_ms = 30000;
    return RunInstall(c);
  }
  // The package as the installer stores it: every path lower-cased.
  std::map<std::string, std::string> Expected() {
    std::map<std::string, std::string> expected;
    for (auto& [path, bytes] : Tree(package_))
      expected[LowerCase(path)] = bytes;
    return expected;
  }

  quorvane::testing::TempFolder temp_{"quorvane-server-install"};
  fs::path package_, target_;
};

// Frames announced and never sent hold nothing back from other installers.
TEST_F(InstallTest, AnnouncedFramesAloneDoNotLockOthersOut) {
  WriteFile(package_ / "a.txt", "a");
  ServerProcess server(Options(), temp_.path() / "server.log");
  ASSERT_TRUE(server.started());
  std::vector<int> announcers;
  for (int i = 0; i < 32; ++i) {
    announcers.push_back(ConnectTo("127.0.0.1", server.port(), 5000));
    const std::string header = FrameHeader(8 << 20) + "TPF0";
    ASSERT_EQ(::send(announcers.back(), header.data(), header.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(header.size()));
  }
  const InstallResult result = Install(server.port());
  EXPECT_TRUE(result.finished) << result.error;
  for (int fd : announcers)
    ::close(fd);
}

// An inventory of a million files is read and compared; the listed file is not sent.
TEST_F(InstallTest, AMillionFileInventoryIsRead) {
  WriteFile(package_ / "a.txt", "a");
  WriteFile(package_ / "DB" / "b.dat", "b");
  WriteFile(target_ / "a.txt", "a");
  // Building the million entries outlasts the usual limits under the sanitizers,
  // on either side: the server is silent while it reads them.
  ServerOptions options = Options();
  options.idle_seconds = options.request_seconds = 900;
  ServerProcess server(options, temp_.path() / "server.log");
  ASSERT_TRUE(server.started());
  InstallClientOptions c;
  c.port = server.port();
  c.folder = target_;
  c.timeout_ms = options.request_seconds * 1000;
  c.on_request = [](TSOFilesList& request) {
    for (int i = 0; i < 1'000'000; ++i)
      request.AddFile("Other", "f" + std::to_string(i), "NF", i);
  };
  const InstallResult result = RunInstall(c);
  ASSERT_TRUE(result.finished) << result.error;
  EXPECT_EQ(result.paths, std::vector<std::string>{"DB\\b.dat"});
}

TEST_F(InstallTest, SeveralHundredFilesAndABigOneArriveWholeThenNothingThenOnlyTheChange) {
  for (int i = 0; i < 150; ++i)
    WriteFile(package_ / ("File" + std::to_string(i) + ".txt"), TextBytes(100 + i * 37, i));
  for (int i = 0; i < 120; ++i)
    WriteFile(package_ / "DB" / ("Data" + std::to_string(i) + ".PRP"),
              TextBytes(3000 + i, 1000 + i));
  for (int i = 0; i < 80; ++i)
    WriteFile(package_ / "Images" / "Small" / ("pic" + std::to_string(i) + ".bin"),
              NoiseBytes(2000 + i * 11, 2000 + i));
  WriteFile(package_ / "Empty.dat", "");
  WriteFile(package_ / "Big.bin", NoiseBytes(50 << 20, 7));

  ServerProcess server(Options(), temp_.path() / "server.log");
  ASSERT_TRUE(server.started());
  const InstallResult first = Install(server.port());
  ASSERT_TRUE(first.finished) << first.error;
  EXPECT_EQ(first.server_id, std::string(protocol::kServerUserId));
  EXPECT_EQ(first.files, 352);
  EXPECT_EQ(first.expected_files, 352);
  EXPECT_EQ(first.expected_bytes, first.bytes);
  EXPECT_EQ(TreeDifference(Tree(target_), Expected()), "");

  // The phases come in order, with the DB files before Phase2, the other
  // sub-folders between Phase2 and Phase3, and the top level after Phase3.
  const std::vector<std::string> words(first.words.begin(), first.words.end());
  ASSERT_GE(words.size(), 5u);
  EXPECT_EQ(words[0], protocol::kAuthentication);
  EXPECT_EQ(words[1], protocol::kInstallBegin);
  EXPECT_EQ(words[2], protocol::kPhase2);
  EXPECT_EQ(words[3], protocol::kPhase3);
  EXPECT_EQ(words[4], protocol::kInstallEnd);
  EXPECT_TRUE(first.paths.front().starts_with("DB\\"));
  EXPECT_TRUE(first.paths[120].starts_with("Images\\Small\\"));
  EXPECT_EQ(first.paths.back().find('\\'), std::string::npos);
  // The noise does not shrink: sent plain. The text shrinks: compressed.
  const auto big = std::find(first.paths.begin(), first.paths.end(), "Big.bin");
  ASSERT_NE(big, first.paths.end());
  EXPECT_FALSE(first.compressed[big - first.paths.begin()]);
  EXPECT_TRUE(first.compressed.front());

  // The installer lists only its top level and DB: the other sub-folders are sent again.
  const InstallResult second = Install(server.port());
  ASSERT_TRUE(second.finished) << second.error;
  EXPECT_EQ(second.files, 80);
  for (const std::string& path : second.paths)
    EXPECT_TRUE(path.starts_with("Images\\Small\\")) << path;

  WriteFile(package_ / "DB" / "Data7.PRP", TextBytes(5000, 77));
  const InstallResult third = Install(server.port());
  ASSERT_TRUE(third.finished) << third.error;
  EXPECT_EQ(third.files, 81);
  EXPECT_EQ(third.paths.front(), "DB\\Data7.PRP");
  EXPECT_EQ(ReadText(target_ / "db" / "data7.prp"), TextBytes(5000, 77));

  // Each file was prepared once, however many installations sent it.
  const FrameCache::Stats stats = server.server().CacheStats();
  EXPECT_EQ(stats.preparations, 353u);
  EXPECT_GE(stats.hits, 160u);  // the Images files, twice, and any prepared at start
}

TEST_F(InstallTest, ASecondRunOfACompleteTopAndDbInstallationSendsNoFile) {
  for (int i = 0; i < 20; ++i)
    WriteFile(package_ / ("A" + std::to_string(i)), TextBytes(500, i));
  for (int i = 0; i < 20; ++i)
    WriteFile(package_ / "db" / ("B" + std::to_string(i)), TextBytes(900, i));
  ServerProcess server(Options(), temp_.path() / "server.log");
  ASSERT_TRUE(Install(server.port()).finished);
  const InstallResult again = Install(server.port());
  ASSERT_TRUE(again.finished) << again.error;
  EXPECT_EQ(again.files, 0);
  EXPECT_EQ(again.expected_files, 0);
  EXPECT_EQ(again.expected_bytes, 0);
  // Same size, other contents: the inventory cannot tell, so nothing is sent;
  // another size is sent.
  WriteFile(package_ / "A3", TextBytes(501, 3));
  const InstallResult changed = Install(server.port());
  ASSERT_EQ(changed.paths, std::vector<std::string>{"A3"});
}

TEST_F(InstallTest, EndMessageUpdaterAndSeveralListeningAddresses) {
  WriteFile(package_ / "Client.exe", TextBytes(1000, 1));
  WriteFile(package_ / "upd.zub", "stale updater in the package");
  const fs::path updater = temp_.path() / "new-updater.bin";
  WriteFile(updater, TextBytes(7000, 9));
  ServerOptions options = Options();
  options.listen = {"127.0.0.1:0", "127.0.0.2:0", "127.0.0.3:0"};
  options.updater = updater;
  options.fin_message =
      "Installation termin\xe9"
      "e";
  ServerProcess server(options, temp_.path() / "server.log");
  ASSERT_TRUE(server.started());
  const InstallResult result = Install(server.port(2), "127.0.0.3");
  ASSERT_TRUE(result.finished) << result.error;
  EXPECT_EQ(result.words.back(), protocol::kInstallEndMessage);
  EXPECT_EQ(result.fin_message,
            "Installation termin\xe9"
            "e");
  EXPECT_EQ(ReadText(target_ / "upd.zub"), TextBytes(7000, 9));
  EXPECT_EQ(result.files, 2);
  const std::string log = ReadText(temp_.path() / "server.log");
  EXPECT_NE(log.find("127.0.0.3"), std::string::npos);
  EXPECT_NE(log.find("asked WantCustomerInstall"), std::string::npos);
  EXPECT_NE(log.find("sent 2 files"), std::string::npos);
}

TEST_F(InstallTest, ServesFromTheStateFolderBeyondTheMemoryLimit) {
  for (int i = 0; i < 10; ++i)
    WriteFile(package_ / ("F" + std::to_string(i)), TextBytes(200000, i));
  ServerOptions options = Options();
  options.cache_memory = 50000;  // less than one file's frames
  ServerProcess server(options, temp_.path() / "server.log");
  ASSERT_TRUE(Install(server.port()).finished);
  fs::remove_all(target_);
  fs::create_directories(target_);
  const InstallResult again = Install(server.port());
  ASSERT_TRUE(again.finished) << again.error;
  EXPECT_EQ(TreeDifference(Tree(target_), Expected()), "");
  EXPECT_LE(server.server().CacheStats().memory_bytes, 50000u);
  int stored = 0;
  for (const auto& entry : fs::directory_iterator(temp_.path() / "state" / "frames"))
    stored += entry.path().extension() == ".frm";
  EXPECT_EQ(stored, 10);
  EXPECT_GE(server.server().CacheStats().hits, 10u);
}

TEST_F(InstallTest, StoppingDuringTheCompressionOfALargeFileClosesAtOnceAndKeepsNothing) {
  std::string big;
  for (const std::string block = TextBytes(1 << 20, 5); big.size() < (std::size_t{256} << 20);)
    big += block;
  WriteFile(package_ / "Big.txt", big);
  ServerProcess server(Options(), temp_.path() / "server.log");
  // An installer that asks and then reads nothing: the server's writes stall.
  const int fd = ConnectTo("127.0.0.1", server.port(), 5000);
  ASSERT_GE(fd, 0);
  TZelSObjectAnswer hello;
  hello.ZelWhat = protocol::kAuthentication;
  const std::string request =
      ObjectFrames(hello, 0) + ObjectFrames(*BuildInstallRequest(target_, false), 0);
  ASSERT_EQ(::send(fd, request.data(), request.size(), MSG_NOSIGNAL),
            static_cast<ssize_t>(request.size()));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  for (const char* line : {"installing:", "cache: compressing Big.txt"})
    while (ReadText(temp_.path() / "server.log").find(line) == std::string::npos &&
           std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const auto before = std::chrono::steady_clock::now();
  server.server().Stop();
  server.server().Wait();
  // 4x the slowest stop seen (14 s, ThreadSanitizer on a loaded 2-core machine; about
  // 1 s natively); the whole compression took 88 s there before stops cancelled it.
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(60));
  const std::string log = ReadText(temp_.path() / "server.log");
  EXPECT_NE(log.find("closed: server stopping"), std::string::npos) << log;
  EXPECT_NE(log.find("preparation of Big.txt abandoned"), std::string::npos) << log;
  EXPECT_TRUE(fs::is_empty(temp_.path() / "state" / "frames"));
  ::close(fd);
}

TEST_F(InstallTest, ADefaultStateFolderThatIsNotPrivatelyOursIsLeftAlone) {
  WriteFile(package_ / "a.txt", "a");
  const std::string saved = std::getenv("TMPDIR") != nullptr ? std::getenv("TMPDIR") : "";
  ::setenv("TMPDIR", temp_.path().c_str(), 1);
  const fs::path squatted = DefaultStateFolder(), elsewhere = temp_.path() / "elsewhere";
  // Made first by another: open to all, a link to another folder, another user's.
  for (const int kind : {0, 1, 2}) {
    if (kind == 2 && ::geteuid() != 0) continue;  // only root can give a folder away
    fs::remove_all(squatted);
    fs::create_directory(kind == 1 ? elsewhere : squatted);
    if (kind == 1) fs::create_directory_symlink(elsewhere, squatted);
    fs::permissions(squatted, kind == 0 ? fs::perms::all : fs::perms::owner_all);
    if (kind == 2) {
      ASSERT_EQ(::chown(squatted.c_str(), 65534, 65534), 0);
    }
    ServerOptions options = Options();
    options.state.clear();
    const fs::path log = temp_.path() / ("server" + std::to_string(kind) + ".log");
    {
      ServerProcess server(options, log);
      EXPECT_TRUE(Install(server.port()).finished) << kind;
    }
    EXPECT_NE(ReadText(log).find("state folder " + squatted.string() + " refused"),
              std::string::npos)
        << ReadText(log);
    EXPECT_FALSE(fs::exists(squatted / "frames") || fs::exists(elsewhere / "frames")) << kind;
  }
  saved.empty() ? ::unsetenv("TMPDIR") : ::setenv("TMPDIR", saved.c_str(), 1);
}

TEST_F(InstallTest, AFileThatCannotBeSentEndsWithoutFinAndTheNextRequestCompletes) {
  WriteFile(package_ / "DB" / "Big.bin", NoiseBytes(16 << 20, 1));
  for (int i = 0; i < 5; ++i)
    WriteFile(package_ / ("f" + std::to_string(i)), TextBytes(1000, i));
  WriteFile(package_ / "z.txt", "last");
  ServerProcess server(Options(), temp_.path() / "server.log");
  InstallClientOptions c;
  c.port = server.port();
  c.folder = target_;
  c.timeout_ms = 30000;
  // The plan is made; the last file vanishes before its turn comes.
  c.on_answer = [&](const std::string& word) {
    if (word == protocol::kInstallBegin) fs::remove(package_ / "z.txt");
  };
  const InstallResult broken = RunInstall(c);
  EXPECT_FALSE(broken.finished);
  EXPECT_EQ(broken.error, "connection closed by the server");
  EXPECT_EQ(broken.files, 6);
  const std::string log = ReadText(temp_.path() / "server.log");
  EXPECT_NE(log.find("could not send z.txt"), std::string::npos) << log;

  // A file changed (not gone) after the plan, before it was read, is sent in
  // its new state. Two large files go first, so it is read after the change.
  WriteFile(package_ / "DB" / "G0.bin", NoiseBytes(16 << 20, 2));
  WriteFile(package_ / "DB" / "G1.bin", NoiseBytes(16 << 20, 3));
  WriteFile(package_ / "f4", TextBytes(2000, 4));
  c.on_answer = [&](const std::string& word) {
    if (word == protocol::kInstallBegin) WriteFile(package_ / "f4", TextBytes(3000, 44));
  };
  const InstallResult again = RunInstall(c);
  ASSERT_TRUE(again.finished) << again.error;
  EXPECT_EQ(again.paths, (std::vector<std::string>{"DB\\G0.bin", "DB\\G1.bin", "f4"}));
  EXPECT_EQ(ReadText(target_ / "f4"), TextBytes(3000, 44));
  EXPECT_EQ(TreeDifference(Tree(target_), Expected()), "");
}

TEST_F(InstallTest, LevelZeroSendsEveryFilePlain) {
  WriteFile(package_ / "a.txt", TextBytes(100000, 1));
  ServerOptions options = Options();
  options.level = 0;
  ServerProcess server(options, temp_.path() / "server.log");
  const InstallResult result = Install(server.port());
  ASSERT_TRUE(result.finished) << result.error;
  ASSERT_EQ(result.compressed.size(), 1u);
  EXPECT_FALSE(result.compressed[0]);
  EXPECT_EQ(ReadText(target_ / "a.txt"), TextBytes(100000, 1));
}

}  // namespace
}  // namespace quorvane::server::testing
