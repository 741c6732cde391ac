// A real SOCKS 4 relay for integration tests: Debian's danted, started on a free
// port of 127.0.0.1 with a generated configuration that lets only clients of
// 127.0.0.0/8 CONNECT to targets in 127.0.0.0/8 (everything else is blocked and
// logged), and stopped with its whole process group when the object goes.
//
//   quorvane::testing::DantedRelay relay;       // throws when it cannot start
//   connect to relay.address():relay.port() and speak SOCKS 4 through it
//   relay.log();                                 // danted's log, for failure messages
//
// Construct and destroy it on the test's main thread; port(), address() and
// log() may be read from any thread. Safe to run in parallel: every relay has
// its own temporary folder (configuration, log, pid file) and its own port.
#pragma once

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"
#include "support/temp_folder.h"

namespace quorvane::testing {

class DantedRelay {
 public:
  // Starts danted and returns once it accepts connections (at most ~10 s per
  // try; a port taken in between is retried with another one).
  DantedRelay() : folder_("quorvane-danted") {
    const std::string program = FindProgram();
    if (program.empty()) throw std::runtime_error("danted is not installed (dante-server)");
    std::string last_failure;
    for (int attempt = 0; attempt < 5; ++attempt) {
      port_ = FreeLoopbackPort();
      WriteConfiguration();
      if (Launch(program, last_failure)) return;
    }
    throw std::runtime_error("danted did not start: " + last_failure);
  }
  ~DantedRelay() { Stop(); }
  DantedRelay(const DantedRelay&) = delete;
  DantedRelay& operator=(const DantedRelay&) = delete;

  static bool Available() { return !FindProgram().empty(); }

  std::uint16_t port() const { return port_; }
  std::string address() const { return "127.0.0.1"; }
  const std::filesystem::path& folder() const { return folder_.path(); }

  // danted's own log and its standard output/error, to show when a test fails.
  std::string log() const {
    return ReadText(folder_.path() / "danted.log") + ReadText(folder_.path() / "danted.out");
  }

  // Stops danted (SIGTERM to its process group, SIGKILL after 5 s). Idempotent.
  void Stop() {
    StopProcessGroup(pid_, std::chrono::seconds(5));
    pid_ = -1;
  }

 private:
  static std::string FindProgram() {
    for (const char* candidate :
         {"/usr/sbin/danted", "/usr/local/sbin/danted", "/usr/bin/danted"}) {
      if (::access(candidate, X_OK) == 0) return candidate;
    }
    return {};
  }

  void WriteConfiguration() {
    std::ofstream out(folder_.path() / "danted.conf", std::ios::trunc);
    out << "logoutput: " << (folder_.path() / "danted.log").string() << "\n"
        << "internal: 127.0.0.1 port = " << port_ << "\n"
        << "external: 127.0.0.1\n"
        << "clientmethod: none\n"
        << "socksmethod: none\n"
        // danted runs as root here; it must not try to switch to a missing user.
        << "user.privileged: root\n"
        << "user.unprivileged: root\n"
        << "client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 log: error }\n"
        << "socks pass {\n  from: 127.0.0.0/8 to: 127.0.0.0/8\n  command: connect\n"
        << "  log: connect disconnect error\n}\n"
        << "socks block { from: 0.0.0.0/0 to: 0.0.0.0/0 log: connect error }\n";
  }

  bool Launch(const std::string& program, std::string& failure) {
    const std::string conf = (folder_.path() / "danted.conf").string();
    const std::string pid_file = (folder_.path() / "danted.pid").string();
    const std::string out_file = (folder_.path() / "danted.out").string();
    pid_ = SpawnProcess({program, "-f", conf, "-p", pid_file, "-N", "1"}, out_file);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
      if (HasExited(pid_)) {
        pid_ = -1;
        failure = "danted exited at start; log:\n" + log();
        return false;
      }
      if (AcceptsConnections(address(), port_)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    failure = "danted did not listen within 10 s; log:\n" + log();
    Stop();
    return false;
  }

  TempFolder folder_;
  std::uint16_t port_ = 0;
  pid_t pid_ = -1;
};

}  // namespace quorvane::testing
