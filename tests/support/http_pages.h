// Real web pages for tests: `python3 -m http.server` serving a temporary folder
// on a free port of 127.0.0.1, stopped with its process when the object goes.
//
//   quorvane::testing::HttpPages pages;
//   pages.Write("ip.htm", "<title>ip.fic:127.0.0.9</title>");
//   pages.Url("ip.htm");   // "http://127.0.0.1:<port>/ip.htm"
//
// Construct and destroy it on the test's main thread; Url() and Write() may be
// used from any thread once it is up. Every instance has its own folder and port.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <regex>
#include <stdexcept>
#include <string>
#include <thread>

#include "support/child_process.h"
#include "support/temp_folder.h"

namespace quorvane::testing {

class HttpPages {
 public:
  // Starts the server and returns once it has said which port it listens on.
  HttpPages() : folder_("quorvane-pages") {
    std::filesystem::create_directories(root());
    const std::string out_file = (folder_.path() / "server.out").string();
    pid_ = SpawnProcess({"/usr/bin/python3", "-u", "-m", "http.server", "0", "--bind", "127.0.0.1",
                         "--directory", root().string()},
                        out_file);
    const std::regex serving("port ([0-9]+)");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (std::chrono::steady_clock::now() < deadline) {
      std::smatch match;
      const std::string out = ReadText(out_file);
      if (std::regex_search(out, match, serving)) {
        port_ = static_cast<std::uint16_t>(std::stoi(match[1]));
        return;
      }
      if (HasExited(pid_)) {
        pid_ = -1;
        throw std::runtime_error("http.server exited: " + out);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    Stop();
    throw std::runtime_error("http.server did not start within 15 s");
  }
  ~HttpPages() { Stop(); }
  HttpPages(const HttpPages&) = delete;
  HttpPages& operator=(const HttpPages&) = delete;

  std::uint16_t port() const { return port_; }
  std::filesystem::path root() const { return folder_.path() / "www"; }
  std::string Url(const std::string& name) const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/" + name;
  }
  // Writes a page (bytes as given) into the served folder.
  void Write(const std::string& name, const std::string& bytes) const {
    std::ofstream out(root() / name, std::ios::binary | std::ios::trunc);
    out << bytes;
  }

  // What the server printed, one line per request ("GET /ip.htm HTTP/1.1" 200 ...).
  std::string RequestLog() const { return ReadText(folder_.path() / "server.out"); }

  void Stop() {
    StopProcessGroup(pid_, std::chrono::seconds(5));
    pid_ = -1;
  }

 private:
  TempFolder folder_;
  pid_t pid_ = -1;
  std::uint16_t port_ = 0;
};

}  // namespace quorvane::testing
