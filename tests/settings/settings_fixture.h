// A hermetic settings environment per test: a temporary program folder holding
// a site.toml with the loopback relay prefix, and a settings file in that folder
// named by QUORVANE_SETTINGS. Single-threaded set-up and tear-down.
#pragma once

#include <gtest/gtest.h>

#include <toml++/toml.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "settings/settings_backend.h"
#include "settings/site.h"
#include "support/temp_folder.h"
#include "util/program_folder.h"
#ifdef _WIN32
#include "settings/registry_text.h"
#endif

namespace quorvane::testing {

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scope_.emplace("quorvane-settings");
    folder_ = scope_->path().string();
    WriteText(folder_ + "/site.toml", "relay_lan_prefix = \"127.0.0.\"\n");
    ReloadSiteValues();
    settings_path_ = scope_->settings_path();
    InstallSettingsBackend(nullptr);
  }

  void TearDown() override {
    scope_.reset();
  }

  // The settings file's path stands for the registry on Windows.
  void WriteText(const std::string& path, const std::string& text) const {
#ifdef _WIN32
    if (path == settings_path_) return SetRegistryFromToml(text);
#endif
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    ASSERT_TRUE(out.good()) << path;
  }

  std::string ReadText(const std::string& path) const {
#ifdef _WIN32
    if (path == settings_path_) return RegistryAsToml();
#endif
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  // The settings file as a TOML table; fails the test when it does not parse.
  toml::table ParsedFile() const {
    try {
      return toml::parse(ReadText(settings_path_));
    } catch (const toml::parse_error& error) {
      ADD_FAILURE() << "settings file does not parse: " << error.description();
      return {};
    }
  }

  std::optional<ProgramFolderScope> scope_;
  std::string folder_;
  std::string settings_path_;
};

}  // namespace quorvane::testing
