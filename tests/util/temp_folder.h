// A fresh folder under the system's temporary folder for one test, removed with
// everything in it when the test ends. Unique per process and per instance, so
// tests can run in parallel.
#pragma once

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>

namespace quorvane::testing {

class TempFolder {
 public:
  TempFolder() {
    static std::atomic<int> counter{0};
    path_ = std::filesystem::temp_directory_path() /
            ("quorvane-util-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // With a trailing "/", as the program folder is written.
  std::string folder() const { return path_.string() + "/"; }

 private:
  std::filesystem::path path_;
};

}  // namespace quorvane::testing
