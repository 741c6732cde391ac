// The pieces of an end-to-end installation on the loopback: a package folder, a
// real quorvane-server listening on 127.0.0.1-3, and the real quorvane-setup
// copied into a program folder of its own with its settings and site values
// pointing at a danted relay on 127.0.0.1. Main thread of the test only.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
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

#include "support/temp_folder.h"

extern char** environ;

namespace quorvane::testing {

namespace fs = std::filesystem;

inline std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

inline void WriteText(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

inline std::uint16_t FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

inline bool Accepts(const std::string& ip, std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  ::inet_pton(AF_INET, ip.c_str(), &address.sin_addr);
  address.sin_port = htons(port);
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return ok;
}

// posix_spawn with the output in a file; the environment is the test's own with
// `extra` added ("NAME=value") and the names in `removed` taken out.
inline pid_t Spawn(const std::vector<std::string>& args, const std::string& output,
                   const std::vector<std::string>& extra = {},
                   const std::vector<std::string>& removed = {}) {
  std::vector<std::string> environment;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    bool drop = false;
    for (const auto& name : removed)
      drop |= entry.rfind(name + "=", 0) == 0;
    for (const auto& added : extra)
      drop |= entry.rfind(added.substr(0, added.find('=') + 1), 0) == 0;
    if (!drop) environment.push_back(entry);
  }
  environment.insert(environment.end(), extra.begin(), extra.end());
  std::vector<char*> argv;
  std::vector<std::string> args_copy = args;
  for (auto& arg : args_copy)
    argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (auto& entry : environment)
    envp.push_back(entry.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                   0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  pid_t pid = -1;
  const int spawned =
      ::posix_spawn(&pid, args[0].c_str(), &actions, &attributes, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (spawned != 0) throw std::runtime_error("cannot start " + args[0]);
  return pid;
}

// Waits for the process; -1 when it had to be killed after `limit`.
inline int WaitFor(pid_t pid, std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    if (::waitpid(pid, &status, WNOHANG) == pid)
      return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ::kill(-pid, SIGKILL);
  ::waitpid(pid, &status, 0);
  return -1;
}

// quorvane-server serving a package on 127.0.0.1, .2 and .3 at one free port.
class ServerProcess {
 public:
  ServerProcess(const fs::path& package, const std::vector<std::string>& options = {})
      : folder_("quorvane-e2e-server") {
    for (int attempt = 0; attempt < 5; ++attempt) {
      port_ = FreePort();
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
    if (WaitFor(pid_, std::chrono::seconds(10)) == -1) ::kill(-pid_, SIGKILL);
    pid_ = -1;
  }
  bool Launch() {
    pid_ = Spawn(args_, (folder_.path() / "server.out").string());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
      }
      if (Accepts("127.0.0.1", port_) && Accepts("127.0.0.2", port_) && Accepts("127.0.0.3", port_))
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
    const int code = WaitFor(pid, limit);
    if (exit_code != nullptr) *exit_code = code;
    return ReadText(output_);
  }
  pid_t Start(const std::vector<std::string>& arguments) {
    output_ = folder_.parent_path() /
              (folder_.filename().string() + "-run" + std::to_string(++runs_) + ".txt");
    std::vector<std::string> args = {program().string()};
    args.insert(args.end(), arguments.begin(), arguments.end());
    return Spawn(args, output_.string(),
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
