// The pieces of an end-to-end installation on the loopback: a package folder, a
// real quorvane-server listening on 127.0.0.1-3, and the real quorvane-setup
// copied into a program folder of its own with its settings and site values
// pointing at a danted relay on 127.0.0.1. Main thread of the test only.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"
#include "support/temp_folder.h"

namespace quorvane::testing {

namespace fs = std::filesystem;

inline void WriteText(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// quorvane-server serving a package on 127.0.0.1, .2 and .3 at one free port.
class ServerProcess {
 public:
  ServerProcess(const fs::path& package, const std::vector<std::string>& options = {})
      : folder_("quorvane-e2e-server") {
    for (int attempt = 0; attempt < 5; ++attempt) {
      port_ = FreeLoopbackPort();
      std::vector<std::string> args = {QUORVANE_SERVER_PROGRAM,
                                       "--package",
                                       package.string(),
                                       "--state",
                                       (folder_.path() / "state").string(),
                                       "--log",
                                       log_path().string()};
      for (const char* ip : {"127.0.0.1", "127.0.0.2", "127.0.0.3"}) {
        args.push_back("--listen");
        args.push_back(std::string(ip) + ":" + std::to_string(port_));
      }
      args.insert(args.end(), options.begin(), options.end());
      args_ = args;
      if (Launch()) return;
    }
    throw std::runtime_error("quorvane-server did not start: " + output());
  }

  // Kills the server and starts it again on the same port (a server restart).
  void Restart() {
    Kill();
    if (!Launch()) throw std::runtime_error("quorvane-server did not restart: " + output());
  }
  ~ServerProcess() { Stop(); }

  std::uint16_t port() const { return port_; }
  fs::path log_path() const { return folder_.path() / "server.log"; }
  std::string output() const {
    return ReadText(folder_.path() / "server.out") + ReadText(log_path());
  }
  void Signal(int signal) const {
    if (pid_ > 0) ::kill(pid_, signal);
  }
  void Stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGCONT);
    ::kill(pid_, SIGTERM);
    WaitForExit(pid_, std::chrono::seconds(10));  // kills the group after the limit
    pid_ = -1;
  }
  bool Launch() {
    pid_ = SpawnProcess(args_, (folder_.path() / "server.out").string());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (std::chrono::steady_clock::now() < deadline) {
      if (HasExited(pid_)) {
        pid_ = -1;
        return false;
      }
      if (AcceptsConnections("127.0.0.1", port_) && AcceptsConnections("127.0.0.2", port_) &&
          AcceptsConnections("127.0.0.3", port_))
        return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    Stop();
    return false;
  }

  void Kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
  }

 private:
  TempFolder folder_;
  std::vector<std::string> args_;
  std::uint16_t port_ = 0;
  pid_t pid_ = -1;
};

// The real quorvane-setup in a fresh program folder, reaching `server` through
// the relay at 127.0.0.1:relay_port.
class SetupProgram {
 public:
  // copy: puts the program into the folder (else the caller has put it there).
  explicit SetupProgram(const fs::path& folder, bool copy = true) : folder_(folder) {
    fs::create_directories(folder_);
    if (copy)
      fs::copy_file(QUORVANE_SETUP_PROGRAM, program(), fs::copy_options::overwrite_existing);
  }

  fs::path program() const { return folder_ / "quorvane-setup"; }
  const fs::path& folder() const { return folder_; }
  fs::path settings() const { return folder_ / "settings.toml"; }
  std::string log() const { return ReadText(folder_ / "db" / "setup.log"); }

  void Configure(std::uint16_t relay_port, std::uint16_t server_port,
                 const std::string& site_extra = "", int language = 9) {
    WriteText(settings(), "[Server]\nPORTINST = " + std::to_string(server_port) +
                              "\nPROXYPORT = " + std::to_string(relay_port) +
                              "\nPROXYIP = \"127.0.0.1\"\nPROXYTYPE = 1\n[Language]\nID = " +
                              std::to_string(language) + "\n");
    WriteText(folder_ / "site.toml",
              "relay_lan_prefix = \"127.0.0.\"\n"
              "address_page_url = \"http://127.0.0.1:1/ip.htm\"\n"
              "owner_page_url = \"http://127.0.0.1:1/getowner.htm\"\n" +
                  site_extra);
  }

  // Runs it with the console windows; returns what it printed.
  std::string Run(const std::vector<std::string>& arguments, int* exit_code = nullptr,
                  std::chrono::seconds limit = std::chrono::seconds(120)) {
    const pid_t pid = Start(arguments);
    const int code = WaitForExit(pid, limit);
    if (exit_code != nullptr) *exit_code = code;
    return ReadText(output_);
  }
  pid_t Start(const std::vector<std::string>& arguments) {
    output_ = folder_.parent_path() /
              (folder_.filename().string() + "-run" + std::to_string(++runs_) + ".txt");
    std::vector<std::string> args = {program().string()};
    args.insert(args.end(), arguments.begin(), arguments.end());
    return SpawnProcess(
        args, output_.string(),
        {"QUORVANE_SETTINGS=" + settings().string(), "QUORVANE_UI=console", "LC_ALL=C"},
        {"DISPLAY", "WAYLAND_DISPLAY", "QUORVANE_DEBUG"});
  }
  std::string LastOutput() const { return ReadText(output_); }

 private:
  fs::path folder_;
  fs::path output_;
  int runs_ = 0;
};

// Every regular file below `root`, by its path relative to it, with its bytes.
inline std::map<std::string, std::string> Tree(const fs::path& root) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root))
    if (entry.is_regular_file())
      files[fs::relative(entry.path(), root).string()] = ReadText(entry.path());
  return files;
}

// The installer starts a program and ends at once: what the program writes
// comes a moment later. True when the file is there within five seconds.
inline bool WaitForFile(const fs::path& path) {
  for (int i = 0; i < 250; ++i) {
    if (fs::exists(path)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

// The opposite: true when the file is still missing half a second later, so a
// program started by mistake has had its chance to write it.
inline bool StaysAbsent(const fs::path& path) {
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  return !fs::exists(path);
}

// A client program stand-in: a script that writes its arguments beside itself.
inline std::string ClientScript(const std::string& written_file) {
  return "#!/bin/sh\necho \"$@\" > \"$(dirname \"$0\")/" + written_file + "\"\n";
}

}  // namespace quorvane::testing
