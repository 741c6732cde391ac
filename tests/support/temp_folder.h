// Temporary folders for tests: a fresh folder removed with everything in it when
// the test ends, and the same folder made the process's program folder with a
// settings file of its own, so no test touches the user's files. Unique per
// process and per instance, so tests run in parallel; set up and torn down on
// the test's main thread.
#pragma once

#include <stdlib.h>
#ifdef _WIN32
#include <process.h>
#include <windows.h>
// Macros of windows.h that are names in the tests (near, far, RegisterClass).
#undef near
#undef far
#undef RegisterClass
#else
#include <unistd.h>
#endif

#include <atomic>
#include <filesystem>
#include <string>
#include <string_view>

#include "util/program_folder.h"

namespace quorvane::testing {

// The process environment, through the C library of the platform.
#ifdef _WIN32
inline void SetEnvironment(const char* name, const char* value) {
  ::_putenv_s(name, value);
}
inline void ClearEnvironment(const char* name) {
  ::_putenv_s(name, "");
}
inline int ProcessId() {
  return ::_getpid();
}
#else
inline void SetEnvironment(const char* name, const char* value) {
  ::setenv(name, value, 1);
}
inline void ClearEnvironment(const char* name) {
  ::unsetenv(name);
}
inline int ProcessId() {
  return ::getpid();
}
#endif

class TempFolder {
 public:
#ifdef _WIN32
  static constexpr char kSeparator = '\\';
#else
  static constexpr char kSeparator = '/';
#endif

  explicit TempFolder(std::string_view prefix = "quorvane-test") {
    static std::atomic<int> counter{0};
    path_ =
        std::filesystem::temp_directory_path() /
        (std::string(prefix) + "-" + std::to_string(ProcessId()) + "-" + std::to_string(counter++));
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

  const std::filesystem::path& path() const {
    return path_;
  }
  // With a trailing separator, as the program folder is written.
  std::string folder() const {
    return path_.string() + kSeparator;
  }

 private:
  std::filesystem::path path_;
};

// A temporary program folder whose settings file (named by QUORVANE_SETTINGS)
// lies inside it.
class ProgramFolderScope {
 public:
  explicit ProgramFolderScope(std::string_view prefix = "quorvane-test") : temp_(prefix) {
    SetProgramFolder(temp_.folder());
    SetEnvironment("QUORVANE_SETTINGS", settings_path().c_str());
#ifdef _WIN32
    // The settings live in the registry there: every test starts without them
    // (so the Windows tests run one at a time).
    ::RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Quorvane");
#endif
  }
  ~ProgramFolderScope() {
    ClearEnvironment("QUORVANE_SETTINGS");
  }

  const std::filesystem::path& path() const {
    return temp_.path();
  }
  std::string folder() const {
    return temp_.folder();
  }
  std::string settings_path() const {
    return temp_.folder() + "settings.toml";
  }

 private:
  TempFolder temp_;
};

}  // namespace quorvane::testing
