// The program's start and end: instance lock, the work folders checked, left
// temporaries and a stale updater removed, language, flags, installation run,
// and the hand-off to the installed client program (never through a link that
// leads outside the program folder). The
// services are injectable so tests can run the whole sequence in-process.
// Main thread only.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ui/installation_ui.h"
#include "util/status.h"

namespace quorvane {

inline constexpr const char* kClientProgram = "QuorvaneCustomer.exe";

struct EntryServices {
  // Shared, so a test can look at the windows' record after the entry ends.
  std::function<std::shared_ptr<InstallationUi>()> create_ui;
  std::function<bool(const std::string& flags, const std::vector<std::string>& arguments,
                     InstallationUi& ui)>
      run_installation;
  std::function<bool(const std::string& path, const std::vector<std::string>& arguments)>
      start_program;
  // Text asked for with --help or --version (standard output). May be empty.
  std::function<void(const std::string& text)> print_information;
  // One line for a user who is watching a terminal (standard error when it is
  // one, nowhere otherwise). May be empty.
  std::function<void(const std::string& line)> notify_user;
};

// The windows chosen for the machine, the real run, the real process start.
EntryServices DefaultEntryServices();

// arguments: argv as given, program path first. Always returns 0, the exit code.
// --help and --version print and return before the lock or any setting is
// touched; a second instance tells a watching user why it ends.
int RunEntry(const std::vector<std::string>& arguments, const EntryServices& services);

// Deletes every "upd.exe", in any case, from the folder: an updater left by an
// earlier run.
void RemoveStaleUpdater(const std::string& folder);

// Ok when "DB" and its frame folders stay inside the program folder. A link
// there that leads elsewhere would carry the log, the identification and the
// frames out of it, so the run does not start.
Status CheckWorkFolders();

// Setting 18 at 0 or below (never chosen) takes the user's system language.
void SettleLanguage();

}  // namespace quorvane
