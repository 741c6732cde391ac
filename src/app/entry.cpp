#include "app/entry.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <optional>

#include "app/command_line.h"
#include "app/installation_run.h"
#include "app/instance_lock.h"
#include "app/message_box_adapter.h"
#include "app/program_launch.h"
#include "settings/settings.h"
#include "ui/console_ui.h"
#include "ui/ui_factory.h"
#include "util/atomic_file.h"
#include "util/debug_output.h"
#include "util/diagnostic_log.h"
#include "util/program_folder.h"
#include "util/system_info.h"
#include "util/text.h"

namespace quorvane {

namespace {

constexpr std::string_view kLogLayer = "entry";

// The windows show the object base's message boxes exactly while they exist.
class MessageBoxInstallation {
 public:
  explicit MessageBoxInstallation(MessageBoxService& service) {
    InstallMessageBoxService(&service);
  }
  ~MessageBoxInstallation() { InstallMessageBoxService(nullptr); }
  MessageBoxInstallation(const MessageBoxInstallation&) = delete;
  MessageBoxInstallation& operator=(const MessageBoxInstallation&) = delete;
};

}  // namespace

EntryServices DefaultEntryServices() {
  EntryServices services;
  services.create_ui = [] { return std::shared_ptr<InstallationUi>(CreateInstallationUi()); };
  services.run_installation = RunInstallation;
  services.start_program = StartProgram;
  services.print_information = [](const std::string& text) {
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
  };
  services.notify_user = [](const std::string& line) {
    if (!StandardConsoleStreams().out_is_terminal) return;
    std::fputs((line + "\n").c_str(), stderr);
  };
  return services;
}

void RemoveStaleUpdater(const std::string& folder) {
  // Advanced with an error code: a folder that changes under the walk never throws.
  std::error_code error;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
       it.increment(error)) {
    if (SameText(it->path().filename().string(), "upd.exe"))
      std::filesystem::remove(it->path(), error);
  }
}

Status CheckWorkFolders() {
  for (const char* name : {"DB", "DB\\TRM", "DB\\TRM\\FST"}) {
    const Status inside = CheckInsideProgramFolder(NativePath(name));
    if (!inside.ok()) return inside;
  }
  return Status::Ok();
}

void SettleLanguage() {
  if (ReadIntSetting(kSettingLanguage) <= 0)
    WriteSetting(kSettingLanguage, SystemLanguageId() & 0x3FF);
}

int RunEntry(const std::vector<std::string>& arguments, const EntryServices& services) {
  if (std::optional<std::string> information = InformationRequest(arguments)) {
    if (services.print_information) services.print_information(*information);
    return 0;
  }
  const std::string& folder = ProgramFolder();
  LockAttempt attempt = AcquireInstanceLock(folder);
  if (attempt.outcome == LockOutcome::kHeldByAnotherInstance) {
    if (services.notify_user)
      services.notify_user("quorvane-setup: another installation is running in " + folder + " (" +
                           folder + "merx is locked); this one ends.");
    return 0;
  }

  std::shared_ptr<InstallationUi> ui = services.create_ui();
  if (attempt.outcome == LockOutcome::kFailed) {
    // Without the lock two installers could write the same files at once.
    ui->ShowMessageDialog(kColourButtonFace, "Quorvane installation",
                          "Cannot lock the program folder: " + attempt.error);
    return 0;
  }
  if (const Status work = CheckWorkFolders(); !work.ok()) {
    ui->ShowMessageDialog(kColourButtonFace, "Quorvane installation",
                          "The folder " + work.what() + " " + work.why() +
                              ". Nothing was installed; remove the link and start again.");
    ReleaseInstanceLock(attempt.lock);
    return 0;
  }
  SetDiagnosticLogFile(NativePath("DB\\setup.log"));
  RemoveLeftTemporaries(folder);
  bool start_client = false;
  {
    UiMessageBoxService message_boxes(*ui);
    MessageBoxInstallation installed(message_boxes);
    RemoveStaleUpdater(folder);
    SettleLanguage();
    const std::string flags = ParseCommandLine(arguments);
    try {
      start_client = services.run_installation(flags, arguments, *ui);
    } catch (const std::exception& error) {
      // Nothing may escape the entry: the exit code is 0 whatever happens.
      DiagnosticLog(kLogLayer, std::string("installation run ended by an error: ") + error.what());
      ui->ShowMessageDialog(kColourButtonFace, "Erreur logicielle", error.what());
    } catch (...) {
      DiagnosticLog(kLogLayer, "installation run ended by an error of unknown type");
      ui->ShowMessageDialog(kColourButtonFace, "Erreur logicielle", "Unknown error");
    }
  }
  ReleaseInstanceLock(attempt.lock);
  const std::vector<std::string> passed_on(
      arguments.empty() ? arguments.end() : arguments.begin() + 1, arguments.end());
  // An updater the run delivered starts after the lock is free, instead of the client.
  std::optional<std::string> program = TakePendingUpdater();
  if (!program && start_client) program = NativePath(kClientProgram);
  if (program) {
    // A program planted as a link to a file elsewhere is never started.
    if (const Status inside = CheckInsideProgramFolder(*program); !inside.ok())
      DiagnosticLog(kLogLayer, "program not started: " + inside.ToString());
    else
      services.start_program(*program, passed_on);
  }
  SetDiagnosticLogFile("");  // the log belongs to this entry's program folder
  return 0;
}

}  // namespace quorvane
