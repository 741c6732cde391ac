// Temporary folders for tests: a fresh folder removed with everything in it when
// the test ends, and the same folder made the process's program folder with a
// settings file of its own, so no test touches the user's files. Unique per
// process and per instance, so tests run in parallel; set up and torn down on
// the test's main thread.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <string_view>

#include "util/program_folder.h"

namespace quorvane::testing {

class TempFolder {
 public:
  explicit TempFolder(std::string_view prefix = "quorvane-test") {
    static std::atomic<int> counter{0};
    path_ =
        std::filesystem::temp_directory_path() /
        (std::string(prefix) + "-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
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

// A temporary program folder whose settings file (named by QUORVANE_SETTINGS)
// lies inside it.
class ProgramFolderScope {
 public:
  explicit ProgramFolderScope(std::string_view prefix = "quorvane-test") : temp_(prefix) {
    SetProgramFolder(temp_.folder());
    ::setenv("QUORVANE_SETTINGS", settings_path().c_str(), 1);
  }
  ~ProgramFolderScope() { ::unsetenv("QUORVANE_SETTINGS"); }

  const std::filesystem::path& path() const { return temp_.path(); }
  std::string folder() const { return temp_.folder(); }
  std::string settings_path() const { return temp_.folder() + "settings.toml"; }

 private:
  TempFolder temp_;
};

}  // namespace quorvane::testing
