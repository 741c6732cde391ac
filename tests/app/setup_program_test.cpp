// The real quorvane-setup, copied into a temporary program folder and run as a
// user would, with the console windows.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "app/instance_lock.h"
#include "settings/settings.h"
#include "ui/hermetic_folder.h"

#ifndef QUORVANE_SETUP_PROGRAM
#error "QUORVANE_SETUP_PROGRAM must name the quorvane-setup program"
#endif
#ifndef QUORVANE_RECORDING_CLIENT
#error "QUORVANE_RECORDING_CLIENT must name the stand-in client program"
#endif

namespace quorvane {
namespace {

namespace fs = std::filesystem;

class SetupProgramTest : public HermeticFolderTest {
 protected:
  void SetUp() override {
    HermeticFolderTest::SetUp();
    program_ = Folder() + "quorvane-setup";
    fs::copy_file(QUORVANE_SETUP_PROGRAM, program_);
    fs::copy_file(QUORVANE_RECORDING_CLIENT, Folder() + "quorvanecustomer.exe");
  }
  // Runs the program with the console windows; returns its exit status and
  // fills `err` with what it wrote on stderr.
  int Run(const std::string& arguments, std::string& err) {
    const std::string log = Folder() + "stderr.txt";
    const std::string command = "QUORVANE_UI=console LC_ALL=fr_FR.UTF-8 timeout 60 '" + program_ +
                                "' " + arguments + " </dev/null >/dev/null 2>'" + log + "'";
    const int status = std::system(command.c_str());
    std::ifstream file(log);
    err.assign(std::istreambuf_iterator<char>(file), {});
    fs::remove(log);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::string program_;
};

TEST_F(SetupProgramTest, RunsSettlesTheLanguageAndStartsNothingWhenTheRunFails) {
  std::ofstream(Folder() + "upd.exe") << "stale";
  std::string err;
  EXPECT_EQ(Run("nofs", err), 0);
  EXPECT_NE(err.find("cannot install yet"), std::string::npos) << err;
  EXPECT_TRUE(fs::exists(Folder() + "merx"));
  EXPECT_FALSE(fs::exists(Folder() + "upd.exe"));
  EXPECT_EQ(ReadIntSetting(kSettingLanguage), kLanguageFrench);
  EXPECT_FALSE(fs::exists(Folder() + "client-args.txt"));
}

TEST_F(SetupProgramTest, SecondInstanceEndsSilentlyWhileTheFirstHoldsTheLock) {
  LockAttempt first = AcquireInstanceLock(Folder());
  ASSERT_EQ(first.outcome, LockOutcome::kAcquired);
  std::ofstream(Folder() + "upd.exe") << "kept while another instance runs";
  std::string err;
  EXPECT_EQ(Run("english", err), 0);
  EXPECT_EQ(err, "");
  EXPECT_TRUE(fs::exists(Folder() + "upd.exe"));
  EXPECT_EQ(ReadIntSetting(kSettingLanguage), 0);
}

}  // namespace
}  // namespace quorvane
