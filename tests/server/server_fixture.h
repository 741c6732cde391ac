// Helpers for the server's tests: package folders with files of chosen sizes,
// tree comparison, and an in-process server on a loopback port of its own.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>

#include "server.h"
#include "server_log.h"
#include "support/child_process.h"
#include "support/temp_folder.h"

namespace quorvane::server::testing {

namespace fs = std::filesystem;
using ::quorvane::testing::FreeLoopbackPort;
using ::quorvane::testing::ReadText;

// Deterministic bytes: compressible text, or noise that bzip2 cannot shrink.
inline std::string TextBytes(std::size_t size, unsigned seed) {
  std::string out;
  out.reserve(size);
  std::mt19937 random(seed);
  static const char* words[] = {"quorvane ", "install ", "frame ", "server ", "DB ", "phase\n"};
  while (out.size() < size)
    out += words[random() % 6];
  out.resize(size);
  return out;
}

inline std::string NoiseBytes(std::size_t size, unsigned seed) {
  std::string out(size, '\0');
  std::mt19937_64 random(seed);
  for (std::size_t i = 0; i + 8 <= size; i += 8) {
    const std::uint64_t v = random();
    std::memcpy(out.data() + i, &v, 8);
  }
  return out;
}

inline void WriteFile(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Relative path (as found) -> contents, of every file below `root`.
inline std::map<std::string, std::string> Tree(const fs::path& root) {
  std::map<std::string, std::string> tree;
  for (const auto& entry : fs::recursive_directory_iterator(root))
    if (entry.is_regular_file())
      tree[entry.path().lexically_relative(root).string()] = ReadText(entry.path());
  return tree;
}

// "" when the trees are equal, else the first difference.
inline std::string TreeDifference(const std::map<std::string, std::string>& got,
                                  const std::map<std::string, std::string>& want) {
  for (const auto& [path, bytes] : want) {
    auto it = got.find(path);
    if (it == got.end()) return "missing " + path;
    if (it->second != bytes)
      return "different " + path + " (" + std::to_string(it->second.size()) + " bytes, want " +
             std::to_string(bytes.size()) + ")";
  }
  for (const auto& [path, bytes] : got)
    if (!want.contains(path)) return "extra " + path;
  return "";
}

// An in-process server on one loopback address with a free port.
class ServerProcess {
 public:
  explicit ServerProcess(ServerOptions options, const fs::path& log_path) {
    std::string error;
    EXPECT_TRUE(log_.Open(log_path.string(), &error)) << error;
    if (options.listen.empty()) options.listen = {"127.0.0.1:0"};
    server_ = std::make_unique<Server>(std::move(options), log_);
    started_ = server_->Start(&error);
    EXPECT_TRUE(started_) << error;
  }
  ~ServerProcess() {
    server_->Stop();
    server_->Wait();
  }
  Server& server() { return *server_; }
  std::uint16_t port(std::size_t i = 0) const { return server_->LocalPorts().at(i); }
  bool started() const { return started_; }

 private:
  ServerLog log_;
  std::unique_ptr<Server> server_;
  bool started_ = false;
};

}  // namespace quorvane::server::testing
