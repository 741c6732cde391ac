// The real quorvane-server process against hostile clients: garbage, a header
// announcing 2 GB, a bzip2 bomb, a silent connection and 1,000 connections
// opened and dropped, while a well-behaved installer installs again and again.
// The server must close each offender, log it, keep its memory bounded, keep
// serving, and stop cleanly on SIGTERM.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <regex>
#include <thread>

#include "install_client.h"
#include "objects/answers.h"
#include "objects/register_classes.h"
#include "server_fixture.h"
#include "transport/bzip_block.h"
#include "transport/frame_format.h"
#include "util/text.h"
#include "wire.h"

extern char** environ;

namespace quorvane::server::testing {
namespace {

using namespace std::chrono_literals;

// AddressSanitizer's shadow memory and quarantine multiply what a process holds.
#if defined(__SANITIZE_ADDRESS__)
constexpr long kPeakLimitKib = 640 * 1024;
#else
constexpr long kPeakLimitKib = 160 * 1024;
#endif

class ServerChild {
 public:
  ServerChild(const fs::path& package, const fs::path& work, std::vector<std::string> extra) {
    log_ = work / "server.log";
    std::vector<std::string> args = {
        QUORVANE_SERVER_PATH, "--package", package.string(),          "--listen",
        "127.0.0.1:0",        "--state",   (work / "state").string(), "--log",
        log_.string()};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (std::string& a : args)
      argv.push_back(a.data());
    argv.push_back(nullptr);
    EXPECT_EQ(::posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), environ), 0);
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    const std::regex serving(R"(serving .* on 127\.0\.0\.1:(\d+))");
    while (std::chrono::steady_clock::now() < deadline) {
      std::smatch match;
      const std::string log = Log();
      if (std::regex_search(log, match, serving)) {
        port_ = static_cast<std::uint16_t>(std::stoi(match[1]));
        break;
      }
      std::this_thread::sleep_for(20ms);
    }
    EXPECT_NE(port_, 0) << Log();
  }
  ~ServerChild() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  // The exit status after SIGTERM, or -1 when it did not end within 20 s.
  int Terminate() {
    ::kill(pid_, SIGTERM);
    for (int i = 0; i < 2000; ++i) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(10ms);
    }
    return -1;
  }
  std::string Log() const { return ReadText(log_); }
  // The line is written just after the socket is closed: wait for it.
  bool WaitForLog(const std::string& text) const {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (Log().find(text) == std::string::npos) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(20ms);
    }
    return true;
  }
  std::uint16_t port() const { return port_; }
  // Peak resident memory in KiB.
  long PeakKb() const {
    const std::string status = ReadText("/proc/" + std::to_string(pid_) + "/status");
    std::smatch match;
    static const std::regex hwm(R"(VmHWM:\s+(\d+) kB)");
    return std::regex_search(status, match, hwm) ? std::stol(match[1]) : -1;
  }

 private:
  pid_t pid_ = -1;
  fs::path log_;
  std::uint16_t port_ = 0;
};

// Sends `bytes` and waits up to `wait` for the server to close the connection.
bool ClosedByServerAfter(std::uint16_t port, const std::string& bytes, std::chrono::seconds wait) {
  const int fd = ConnectTo("127.0.0.1", port, 5000);
  if (fd < 0) return false;
  if (!bytes.empty()) (void)::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  const auto deadline = std::chrono::steady_clock::now() + wait;
  char buffer[65536];
  bool closed = false;
  while (!closed && std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    closed = n <= 0;  // the greeting arrives first, then the end
  }
  ::close(fd);
  return closed;
}

// A connection whose own end is bound to `source` (any 127.x address is ours).
int ConnectFrom(const std::string& source, std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  ::inet_pton(AF_INET, source.c_str(), &local.sin_addr);
  sockaddr_in remote{};
  remote.sin_family = AF_INET;
  remote.sin_port = htons(port);
  ::inet_pton(AF_INET, "127.0.0.1", &remote.sin_addr);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
      ::connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

std::string Frame(const std::string& payload, char compression) {
  return FrameHeader(static_cast<std::int64_t>(payload.size())) + payload +
         FrameTrailer(kKindObject, compression == kCompressed);
}

TEST(HostileClientsTest, EachIsClosedAndLoggedWhileAnInstallerKeepsBeingServed) {
  quorvane::testing::TempFolder temp("quorvane-server-hostile");
  const fs::path package = temp.path() / "package";
  for (int i = 0; i < 40; ++i)
    WriteFile(package / ("f" + std::to_string(i)), TextBytes(20000, i));
  for (int i = 0; i < 40; ++i)
    WriteFile(package / "DB" / ("d" + std::to_string(i)), NoiseBytes(30000, i));
  WriteFile(package / "Big.bin", NoiseBytes(8 << 20, 1));
  ServerChild server(package, temp.path(), {"--idle-timeout", "2", "--level", "1"});
  ASSERT_NE(server.port(), 0);

  // The well-behaved installer, in a fresh folder each time, all along.
  std::atomic<bool> storm{true};
  std::atomic<int> installs{0}, failures{0};
  std::string first_failure;
  std::thread installer([&] {
    int round = 0;
    while (storm || round < 2) {
      const fs::path target = temp.path() / ("target" + std::to_string(round++));
      fs::create_directories(target);
      InstallClientOptions options;
      options.port = server.port();
      options.folder = target;
      options.timeout_ms = 20000;
      const InstallResult result = RunInstall(options);
      std::map<std::string, std::string> expected;
      for (auto& [path, bytes] : Tree(package))
        expected[LowerCase(path)] = bytes;
      const std::string difference = result.finished ? TreeDifference(Tree(target), expected) : "";
      if (!result.finished || !difference.empty()) {
        if (failures++ == 0) first_failure = result.error + difference;
      } else {
        ++installs;
      }
      fs::remove_all(target);
    }
  });

  EXPECT_TRUE(ClosedByServerAfter(server.port(), NoiseBytes(1000, 9), 10s));
  EXPECT_TRUE(
      ClosedByServerAfter(server.port(), std::string("KDKDKKDBEG2147483647") + "TPF0", 10s));
  const std::string zeros(64 << 20, '\0');
  const std::string bomb = CompressBlock(zeros.data(), zeros.size(), 9);
  ASSERT_LT(bomb.size(), 1u << 20);
  EXPECT_TRUE(ClosedByServerAfter(server.port(), Frame(bomb, kCompressed), 20s));
  EXPECT_TRUE(ClosedByServerAfter(server.port(), "", 10s));         // says nothing
  EXPECT_TRUE(ClosedByServerAfter(server.port(), "KDKDKKD", 10s));  // a header that never ends

  // 1,000 connections, a hundred at a time, opened and dropped at once.
  int opened = 0;
  for (int batch = 0; batch < 10; ++batch) {
    std::vector<int> fds;
    for (int i = 0; i < 100; ++i) {
      const int fd = ConnectTo("127.0.0.1", server.port(), 5000);
      if (fd >= 0) {
        fds.push_back(fd);
        ++opened;
      }
    }
    for (int fd : fds)
      ::close(fd);
  }
  EXPECT_EQ(opened, 1000);
  storm = false;
  installer.join();
  EXPECT_EQ(failures.load(), 0) << first_failure;
  EXPECT_GE(installs.load(), 2);

  // Every connection is logged as closed, with its reason.
  std::string log;
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  auto count = [&](const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = log.find(what); at != std::string::npos; at = log.find(what, at + 1))
      ++n;
    return n;
  };
  do {
    std::this_thread::sleep_for(100ms);
    log = server.Log();
  } while (count(" closed: ") < count(" accepted on ") &&
           std::chrono::steady_clock::now() < deadline);
  EXPECT_EQ(count(" closed: "), count(" accepted on "));
  EXPECT_GE(count(" accepted on "), 1005u);
  EXPECT_NE(log.find("bad frame header"), std::string::npos);
  EXPECT_NE(log.find("bytes announced, over the limit"), std::string::npos);
  EXPECT_NE(log.find("does not decode within"), std::string::npos);
  EXPECT_NE(log.find("idle for 2 s"), std::string::npos);
  EXPECT_NE(log.find("closed by the installer"), std::string::npos);

  // Bounded: the bomb was cut at 32 MiB, the 2 GB frame never reserved.
  const long peak = server.PeakKb();
  EXPECT_GT(peak, 0);
  EXPECT_LT(peak, kPeakLimitKib) << "peak resident memory " << peak << " KiB";
  RecordProperty("server_peak_kib", static_cast<int>(peak));

  EXPECT_EQ(server.Terminate(), 0);
  EXPECT_NE(server.Log().find("stopped"), std::string::npos);
}

TEST(HostileClientsTest, AFloodOfSmallObjectsIsCutAndLogged) {
  RegisterClasses();
  quorvane::testing::TempFolder temp("quorvane-server-flood");
  WriteFile(temp.path() / "package" / "a.txt", "a");
  ServerChild server(temp.path() / "package", temp.path(), {});
  ASSERT_NE(server.port(), 0);
  std::string flood;
  for (int i = 0; i < 400; ++i) {
    TZelSObjectAnswer answer;
    answer.ZelWhat = "spam" + std::to_string(i);
    flood += ObjectFrames(answer, 0);
  }
  EXPECT_TRUE(ClosedByServerAfter(server.port(), flood, 10s));
  EXPECT_TRUE(server.WaitForLog("too many objects"));
  EXPECT_EQ(server.Terminate(), 0);
}

TEST(HostileClientsTest, ARequestTrickledByteByByteMeetsItsDeadline) {
  quorvane::testing::TempFolder temp("quorvane-server-trickle");
  WriteFile(temp.path() / "package" / "a.txt", "a");
  ServerChild server(temp.path() / "package", temp.path(),
                     {"--idle-timeout", "5", "--request-timeout", "2"});
  ASSERT_NE(server.port(), 0);
  const int fd = ConnectTo("127.0.0.1", server.port(), 5000);
  ASSERT_GE(fd, 0);
  // A header announcing 1 MB, then a byte every 200 ms: never idle, never done.
  const std::string header = FrameHeader(1 << 20);
  bool closed = false;
  for (int i = 0; i < 60 && !closed; ++i) {
    const char byte = i < static_cast<int>(header.size()) ? header[i] : 'x';
    closed = ::send(fd, &byte, 1, MSG_NOSIGNAL) != 1;
    char buffer[4096];
    pollfd p{fd, POLLIN, 0};
    while (!closed && ::poll(&p, 1, 200) > 0)
      closed = ::recv(fd, buffer, sizeof buffer, 0) <= 0;
  }
  ::close(fd);
  EXPECT_TRUE(closed);
  // The request's deadline ended it, not the idle one.
  EXPECT_TRUE(server.WaitForLog("no installation request within 2 s")) << server.Log();
  EXPECT_EQ(server.Log().find("idle for"), std::string::npos) << server.Log();
  EXPECT_EQ(server.Terminate(), 0);
}

TEST(HostileClientsTest, ConnectionLimitsPerAddressAndInTotal) {
  quorvane::testing::TempFolder temp("quorvane-server-limits");
  WriteFile(temp.path() / "package" / "a.txt", "a");
  ServerChild server(temp.path() / "package", temp.path(),
                     {"--max-per-address", "3", "--max-connections", "5"});
  ASSERT_NE(server.port(), 0);
  std::vector<int> held;
  for (int i = 0; i < 3; ++i)
    held.push_back(ConnectTo("127.0.0.1", server.port(), 5000));
  // The fourth from the same address is closed at once.
  EXPECT_TRUE(ClosedByServerAfter(server.port(), "", 5s));
  EXPECT_TRUE(server.WaitForLog("too many connections from 127.0.0.1 (3)"));
  // Two more from other addresses fill the total; a sixth is closed at once.
  held.push_back(ConnectFrom("127.0.0.2", server.port()));
  held.push_back(ConnectFrom("127.0.0.3", server.port()));
  const int sixth = ConnectFrom("127.0.0.4", server.port());
  ASSERT_GE(sixth, 0);
  char byte;
  pollfd p{sixth, POLLIN, 0};
  bool closed = false;
  for (int i = 0; i < 100 && !closed; ++i)
    if (::poll(&p, 1, 100) > 0) closed = ::recv(sixth, &byte, 1, 0) <= 0;
  ::close(sixth);
  EXPECT_TRUE(closed);
  EXPECT_TRUE(server.WaitForLog("refused: too many connections (5)")) << server.Log();
  for (int fd : held)
    ::close(fd);
  // Once they are gone, an installation goes through again.
  std::this_thread::sleep_for(300ms);
  fs::create_directories(temp.path() / "target");
  InstallClientOptions options;
  options.port = server.port();
  options.folder = temp.path() / "target";
  options.timeout_ms = 10000;
  const InstallResult result = RunInstall(options);
  EXPECT_TRUE(result.finished) << result.error;
  EXPECT_EQ(result.files, 1);
  EXPECT_EQ(server.Terminate(), 0);
}

}  // namespace
}  // namespace quorvane::server::testing
