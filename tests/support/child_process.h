// Real programs started by tests (danted, python3 -m http.server, quorvane-server,
// quorvane-setup) and the loopback ports they listen on. A child runs in a process
// group of its own, so stopping it reaches the workers it forks. Use from the
// test's main thread.
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
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace quorvane::testing {

// The whole file, or nothing when it cannot be read.
inline std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// A TCP port of 127.0.0.1 that was free a moment ago; a caller that then finds it
// taken tries another.
inline std::uint16_t FreeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) throw std::runtime_error("socket() failed while looking for a free port");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(fd);
    throw std::runtime_error("no free loopback port");
  }
  ::close(fd);
  return ntohs(address.sin_port);
}

// Whether something accepts TCP connections at ip:port.
inline bool AcceptsConnections(const std::string& ip, std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  ::inet_pton(AF_INET, ip.c_str(), &address.sin_addr);
  address.sin_port = htons(port);
  const bool accepted = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return accepted;
}

// Starts args[0] (a path) with its arguments in a process group of its own: input
// from /dev/null, output and errors appended to `output`, the environment ours with
// `extra` ("NAME=value") added and the names in `removed` taken out. Throws when
// it cannot be started.
inline pid_t SpawnProcess(const std::vector<std::string>& args, const std::string& output,
                          const std::vector<std::string>& extra = {},
                          const std::vector<std::string>& removed = {}) {
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    bool drop = false;
    for (const auto& name : removed)
      drop |= text.rfind(name + "=", 0) == 0;
    for (const auto& added : extra)
      drop |= text.rfind(added.substr(0, added.find('=') + 1), 0) == 0;
    if (!drop) environment.push_back(text);
  }
  environment.insert(environment.end(), extra.begin(), extra.end());
  std::vector<std::string> arguments = args;
  std::vector<char*> argv;
  for (auto& argument : arguments)
    argv.push_back(argument.data());
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
  if (spawned != 0)
    throw std::runtime_error("cannot start " + args[0] + ": error " + std::to_string(spawned));
  return pid;
}

// Whether the child has ended (and is reaped); never blocks.
inline bool HasExited(pid_t pid, int* exit_code = nullptr) {
  int status = 0;
  const pid_t done = ::waitpid(pid, &status, WNOHANG);
  if (done == pid && exit_code != nullptr)
    *exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return done == pid || done < 0;
}

// Waits for the child to end within `limit`: its exit code, or -1 when it ended by
// a signal or had to be killed with its group after `limit`.
inline int WaitForExit(pid_t pid, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int exit_code = -1;
  while (std::chrono::steady_clock::now() < deadline) {
    if (HasExited(pid, &exit_code)) return exit_code;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::kill(-pid, SIGKILL);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return -1;
}

// Asks the child's process group to end (SIGTERM) and kills it after `grace`.
inline void StopProcessGroup(pid_t pid, std::chrono::milliseconds grace) {
  if (pid <= 0) return;
  ::kill(-pid, SIGTERM);
  WaitForExit(pid, grace);
}

}  // namespace quorvane::testing
