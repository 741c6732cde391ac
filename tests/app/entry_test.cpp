#include "app/entry.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

#include "app/command_line.h"
#include "app/instance_lock.h"
#include "app/message_box_adapter.h"
#include "app/program_launch.h"
#include "model/message_box.h"
#include "settings/settings.h"
#include "ui/hermetic_folder.h"
#include "ui/recording_ui.h"
#include "util/atomic_file.h"
#include "util/program_folder.h"

#ifndef QUORVANE_RECORDING_CLIENT
#error "QUORVANE_RECORDING_CLIENT must name the stand-in client program"
#endif

namespace quorvane {
namespace {

namespace fs = std::filesystem;

// Runs the entry with a recording ui, a run that answers `run_result`, and a
// process start that only notes what it was asked.
class EntryTest : public HermeticFolderTest {
 protected:
  void SetUp() override {
    HermeticFolderTest::SetUp();
    services_.create_ui = [this] {
      ++uis_created_;
      ui_ = std::make_shared<RecordingUi>();
      return ui_;
    };
    services_.run_installation = [this](const std::string& flags,
                                        const std::vector<std::string>& arguments,
                                        InstallationUi&) {
      ++runs_;
      flags_ = flags;
      run_arguments_ = arguments;
      lock_held_during_run_ =
          AcquireInstanceLock(Folder()).outcome == LockOutcome::kHeldByAnotherInstance;
      updater_gone_during_run_ = !fs::exists(Folder() + "upd.exe");
      CurrentMessageBoxService().ShowMessage("Caption", "shown through the windows");
      return run_result_;
    };
    services_.start_program = [this](const std::string& path,
                                     const std::vector<std::string>& arguments) {
      started_path_ = path;
      started_arguments_ = arguments;
      lock_free_at_start_ = AcquireInstanceLock(Folder()).outcome == LockOutcome::kAcquired;
      return true;
    };
  }

  EntryServices services_;
  std::shared_ptr<RecordingUi> ui_;
  int uis_created_ = 0;
  int runs_ = 0;
  bool run_result_ = false;
  std::string flags_;
  std::vector<std::string> run_arguments_;
  bool lock_held_during_run_ = false;
  bool updater_gone_during_run_ = false;
  std::string started_path_;
  std::vector<std::string> started_arguments_;
  bool lock_free_at_start_ = false;
};

TEST_F(EntryTest, SecondInstanceEndsAtOnceAndSilently) {
  LockAttempt first = AcquireInstanceLock(Folder());
  ASSERT_EQ(first.outcome, LockOutcome::kAcquired);
  EXPECT_EQ(RunEntry({"setup", "english"}, services_), 0);
  EXPECT_EQ(uis_created_, 0);
  EXPECT_EQ(runs_, 0);
  EXPECT_TRUE(started_path_.empty());
  EXPECT_EQ(ReadIntSetting(kSettingLanguage), 0);  // not even the language is touched
}

TEST_F(EntryTest, ASecondInstanceTellsAWatchingUserWhy) {
  std::vector<std::string> told;
  services_.notify_user = [&told](const std::string& line) { told.push_back(line); };
  RunEntry({"setup"}, services_);
  EXPECT_TRUE(told.empty());  // nothing to tell when the lock was free
  LockAttempt first = AcquireInstanceLock(Folder());
  ASSERT_EQ(first.outcome, LockOutcome::kAcquired);
  EXPECT_EQ(RunEntry({"setup"}, services_), 0);
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told[0], "quorvane-setup: another installation is running in " + Folder() + " (" +
                         Folder() + "merx is locked); this one ends.");
  EXPECT_EQ(runs_, 1);
  EXPECT_EQ(uis_created_, 1);
}

TEST_F(EntryTest, HelpAndVersionPrintWithoutTheLockOrTheSettings) {
  std::string printed;
  services_.print_information = [&printed](const std::string& text) { printed += text; };
  for (const char* request : {"--version", "--help"}) {
    EXPECT_EQ(RunEntry({"setup", "english", request}, services_), 0);
    EXPECT_EQ(uis_created_, 0);
    EXPECT_EQ(runs_, 0);
  }
  EXPECT_EQ(printed.rfind(std::string("quorvane-setup ") + kSetupVersion + "\nusage:", 0), 0u)
      << printed;
  EXPECT_FALSE(fs::exists(Folder() + "merx"));
  EXPECT_FALSE(fs::exists(Folder() + "settings.toml"));  // not even "english" was written
  // and while another instance holds the lock, they still answer
  LockAttempt first = AcquireInstanceLock(Folder());
  ASSERT_EQ(first.outcome, LockOutcome::kAcquired);
  printed.clear();
  RunEntry({"setup", "--version"}, services_);
  EXPECT_EQ(printed, std::string("quorvane-setup ") + kSetupVersion + "\n");
}

TEST_F(EntryTest, RunFalseReleasesTheLockAndStartsNothing) {
  run_result_ = false;
  EXPECT_EQ(RunEntry({"setup", "nofs", "hide", "extra"}, services_), 0);
  EXPECT_EQ(runs_, 1);
  EXPECT_EQ(flags_, "NOFSHIDE");
  EXPECT_EQ(run_arguments_, (std::vector<std::string>{"setup", "nofs", "hide", "extra"}));
  EXPECT_TRUE(lock_held_during_run_);
  EXPECT_TRUE(started_path_.empty());
  EXPECT_EQ(AcquireInstanceLock(Folder()).outcome, LockOutcome::kAcquired);
}

TEST_F(EntryTest, RunTrueStartsTheClientWithTheArgumentsAfterTheLockIsGone) {
  run_result_ = true;
  EXPECT_EQ(RunEntry({"setup", "a", "b"}, services_), 0);
  EXPECT_EQ(started_path_, NativePath(kClientProgram));
  EXPECT_EQ(started_arguments_, (std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(lock_free_at_start_);
}

TEST_F(EntryTest, AClientProgramPlantedAsALinkToAFileElsewhereIsNotStarted) {
  testing::TempFolder elsewhere;
  fs::create_symlink(elsewhere.path() / "tool", NativePath(kClientProgram));
  run_result_ = true;
  RunEntry({"setup"}, services_);
  EXPECT_TRUE(started_path_.empty()) << started_path_;
}

TEST_F(EntryTest, AFailingRunIsShownAndStartsNothing) {
  services_.run_installation = [](const std::string&, const std::vector<std::string>&,
                                  InstallationUi&) -> bool {
    throw std::runtime_error("Fichier illisible");
  };
  EXPECT_EQ(RunEntry({"setup"}, services_), 0);
  EXPECT_EQ(ui_->CallsNamed("ShowMessageDialog").at(0).args,
            (std::vector<std::string>{std::to_string(kColourButtonFace), "Erreur logicielle",
                                      "Fichier illisible"}));
  EXPECT_NE(ReadWholeFile(NativePath("DB\\setup.log")).value_or("").find("Fichier illisible"),
            std::string::npos);
  EXPECT_TRUE(started_path_.empty());
  EXPECT_EQ(AcquireInstanceLock(Folder()).outcome, LockOutcome::kAcquired);
  EXPECT_EQ(dynamic_cast<UiMessageBoxService*>(&CurrentMessageBoxService()), nullptr);
}

TEST_F(EntryTest, MessageBoxesGoThroughTheWindowsWhileTheRunLasts) {
  RunEntry({"setup"}, services_);
  ASSERT_NE(ui_, nullptr);
  EXPECT_EQ(ui_->CallsNamed("ShowMessageDialog").size(), 1u);
  EXPECT_EQ(ui_->CallsNamed("ShowMessageDialog").at(0).args.at(2), "shown through the windows");
  // After the entry the windows are gone, and so is the service that used them.
  EXPECT_EQ(dynamic_cast<UiMessageBoxService*>(&CurrentMessageBoxService()), nullptr);
}

TEST_F(EntryTest, StaleUpdaterIsDeletedBeforeTheRun) {
  std::ofstream(Folder() + "upd.exe") << "old updater";
  std::ofstream(Folder() + "UPD.Exe") << "old updater in other case";
  std::ofstream(Folder() + "upd.zub") << "kept";
  RunEntry({"setup"}, services_);
  EXPECT_TRUE(updater_gone_during_run_);
  EXPECT_FALSE(fs::exists(Folder() + "upd.exe"));
  EXPECT_FALSE(fs::exists(Folder() + "UPD.Exe"));
  EXPECT_TRUE(fs::exists(Folder() + "upd.zub"));
}

TEST_F(EntryTest, MissingLanguageTakesTheSystemLanguage) {
  testing::SetEnvironment("LC_ALL", "fr_FR.UTF-8");
  RunEntry({"setup"}, services_);
  testing::ClearEnvironment("LC_ALL");
  EXPECT_EQ(ReadIntSetting(kSettingLanguage), kLanguageFrench);
}

TEST_F(EntryTest, ChosenLanguageSurvivesAndWordsOverrideIt) {
  testing::SetEnvironment("LC_ALL", "fr_FR.UTF-8");
  SetLanguage(7);
  RunEntry({"setup"}, services_);
  EXPECT_EQ(ReadIntSetting(kSettingLanguage), 7);
  RunEntry({"setup", "english"}, services_);
  EXPECT_EQ(ReadIntSetting(kSettingLanguage), kLanguageEnglish);
  SetLanguage(-3);  // never a valid choice: replaced like a missing one
  RunEntry({"setup"}, services_);
  testing::ClearEnvironment("LC_ALL");
  EXPECT_EQ(ReadIntSetting(kSettingLanguage), kLanguageFrench);
}

TEST_F(EntryTest, UnusableFolderIsReportedNotIgnored) {
  SetProgramFolder(Folder() + "missing/");
  EXPECT_EQ(RunEntry({"setup"}, services_), 0);
  EXPECT_EQ(runs_, 0);
  ASSERT_NE(ui_, nullptr);
  const auto shown = ui_->CallsNamed("ShowMessageDialog");
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_NE(shown[0].args.at(2).find("merx"), std::string::npos) << shown[0].args.at(2);
}

std::string WaitForFile(const std::string& path) {
  for (int i = 0; i < 1000 && !fs::exists(path); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::ifstream file(path);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

TEST_F(EntryTest, TheRealClientReceivesTheArguments) {
  // Executable, as the installation writes the client program.
  fs::copy_file(QUORVANE_RECORDING_CLIENT, NativePath(kClientProgram));
  run_result_ = true;
  services_.start_program = StartProgram;
  RunEntry({"setup", "a", "b c", "nofs"}, services_);
  EXPECT_EQ(WaitForFile(Folder() + "client-args.txt"), "a\nb c\nnofs\n");
}

TEST_F(EntryTest, StartingAMissingProgramFailsQuietly) {
  EXPECT_FALSE(StartProgram(Folder() + "absent.exe", {"x"}));
}

}  // namespace
}  // namespace quorvane
