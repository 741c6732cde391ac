// HAProxy (TCP mode, 127.0.0.1-3) over three quorvane-server processes with one
// package and their own state folders; 100 installers through danted. One backend
// is killed while all are connected: its installers connect again and complete.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <thread>

#include "install_client.h"
#include "objects/protocol.h"
#include "server_fixture.h"
#include "support/danted_relay.h"
#include "util/text.h"

namespace quorvane::server::testing {
namespace {

using namespace std::chrono_literals;
using quorvane::testing::SpawnProcess;

constexpr int kInstallers = 100;
const char* const kHaproxy = "/usr/sbin/haproxy";

bool WaitUntilAccepting(const std::string& ip, std::uint16_t port) {
  for (int i = 0; i < 500; ++i) {
    if (quorvane::testing::AcceptsConnections(ip, port)) return true;
    std::this_thread::sleep_for(20ms);
  }
  return false;
}

TEST(HaproxyTest, HundredInstallersThroughTheRelayOneBackendKilledMidway) {
  if (::access(kHaproxy, X_OK) != 0) GTEST_SKIP() << "haproxy is not installed";
  quorvane::testing::DantedRelay relay;
  quorvane::testing::TempFolder work("quorvane-haproxy");
  const fs::path package = work.path() / "package";
  for (int i = 0; i < 12; ++i)
    WriteFile(package / ("Prog" + std::to_string(i) + ".bin"), NoiseBytes(512 << 10, i));
  for (int i = 0; i < 20; ++i)
    WriteFile(package / "DB" / ("T" + std::to_string(i) + ".PRP"), TextBytes(4000 + i, i));

  // Three backends on 127.0.1.1-3, HAProxy on 127.0.0.1-3, one port each.
  const std::uint16_t backend_port = FreeLoopbackPort(), front_port = FreeLoopbackPort();
  std::vector<pid_t> backends;
  std::string servers;
  for (int b = 1; b <= 3; ++b) {
    const std::string address = "127.0.1." + std::to_string(b);
    const fs::path state = work.path() / ("state" + std::to_string(b));
    backends.push_back(SpawnProcess(
        {QUORVANE_SERVER_PATH, "--package", package.string(), "--state", state.string(), "--level",
         "1", "--listen", address + ":" + std::to_string(backend_port), "--log",
         (work.path() / ("server" + std::to_string(b) + ".log")).string()},
        (work.path() / "servers.out").string()));
    servers += "  server s" + std::to_string(b) + " " + address + ":" +
               std::to_string(backend_port) + " check inter 300ms fall 1 rise 2\n";
  }
  {
    std::ofstream config(work.path() / "haproxy.cfg");
    config << "global\n  maxconn 2000\ndefaults\n  mode tcp\n  timeout connect 2s\n"
           << "  timeout client 60s\n  timeout server 60s\n  retries 3\n  option redispatch\n"
           << "frontend installers\n";
    for (int a = 1; a <= 3; ++a)
      config << "  bind 127.0.0." << a << ":" << front_port << "\n";
    config << "  default_backend servers\nbackend servers\n  balance roundrobin\n" << servers;
  }
  for (int b = 1; b <= 3; ++b)  // up before HAProxy's first checks
    ASSERT_TRUE(WaitUntilAccepting("127.0.1." + std::to_string(b), backend_port));
  const pid_t haproxy =
      SpawnProcess({kHaproxy, "-db", "-f", (work.path() / "haproxy.cfg").string()},
                   (work.path() / "haproxy.out").string());
  ASSERT_TRUE(WaitUntilAccepting("127.0.0.3", front_port)) << ReadText(work.path() / "haproxy.out");

  // Every installer holds once greeted, before its request, until the backend has
  // been killed: nothing of its installation can be waiting in the relays' buffers.
  std::mutex mutex;
  std::condition_variable changed;
  int waiting = 0;
  bool killed = false;
  std::vector<InstallResult> results(kInstallers);
  std::vector<std::thread> installers;
  for (int c = 0; c < kInstallers; ++c) {
    installers.emplace_back([&, c] {
      InstallClientOptions options;
      options.port = front_port;
      options.relay_port = relay.port();
      options.targets = {"127.0.0.1", "127.0.0.2", "127.0.0.3"};
      std::rotate(options.targets.begin(), options.targets.begin() + c % 3, options.targets.end());
      options.attempts = 3;
      options.timeout_ms = 60000;
      options.folder = work.path() / "targets" / std::to_string(c);
      fs::create_directories(options.folder);
      bool held = false;
      options.on_answer = [&](const std::string& word) {
        if (word != protocol::kAuthentication || held) return;
        held = true;
        std::unique_lock lock(mutex);
        ++waiting;
        changed.notify_all();
        changed.wait_for(lock, 60s, [&] { return killed; });
      };
      results[c] = RunInstall(options);
    });
  }
  {
    std::unique_lock lock(mutex);
    EXPECT_TRUE(changed.wait_for(lock, 120s, [&] { return waiting == kInstallers; }));
    ::kill(backends[1], SIGKILL);
    killed = true;
    changed.notify_all();
  }
  for (std::thread& installer : installers)
    installer.join();

  std::map<std::string, std::string> expected;
  for (auto& [path, bytes] : Tree(package))
    expected[LowerCase(path)] = bytes;
  int reconnected = 0;
  for (int c = 0; c < kInstallers; ++c) {
    EXPECT_TRUE(results[c].finished) << c << ": " << results[c].error;
    EXPECT_EQ(TreeDifference(Tree(work.path() / "targets" / std::to_string(c)), expected), "") << c;
    reconnected += results[c].reconnections > 0;
  }
  // Round robin gave the killed backend a third of them.
  EXPECT_GE(reconnected, kInstallers / 4) << ReadText(work.path() / "haproxy.out");
  for (pid_t child : {haproxy, backends[0], backends[1], backends[2]})
    quorvane::testing::StopProcessGroup(child, 5s);
}

}  // namespace
}  // namespace quorvane::server::testing
