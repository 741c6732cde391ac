// A temporary program folder and settings file for one test, so tests of the
// windows and of the program entry never touch the user's own. Set up and torn
// down on the test's main thread.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>
#include <string>

#include "settings/settings.h"
#include "support/temp_folder.h"

namespace quorvane {

class HermeticFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scope_.emplace();
    folder_ = scope_->folder();
  }
  void TearDown() override { scope_.reset(); }
  void SetLanguage(int language) { WriteSetting(kSettingLanguage, language); }
  const std::string& Folder() const { return folder_; }

 private:
  std::optional<testing::ProgramFolderScope> scope_;
  std::string folder_;
};

}  // namespace quorvane
