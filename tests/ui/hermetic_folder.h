// A temporary program folder and settings file for one test, so tests of the
// windows and of the program entry never touch the user's own. Set up and torn
// down on the test's main thread.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "settings/settings.h"
#include "util/program_folder.h"

namespace quorvane {

class HermeticFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "quorvane-test-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder_ = pattern + "/";
    SetProgramFolder(folder_);
    ::setenv("QUORVANE_SETTINGS", (folder_ + "settings.toml").c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("QUORVANE_SETTINGS");
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  void SetLanguage(int language) { WriteSetting(kSettingLanguage, language); }
  const std::string& Folder() const { return folder_; }

 private:
  std::string folder_;
};

}  // namespace quorvane
