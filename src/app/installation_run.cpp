#include "app/installation_run.h"

#include <filesystem>
#include <memory>

#include "app/connection_status_adapter.h"
#include "app/installation_exchange.h"
#include "app/manager_install_link.h"
#include "app/server_discovery.h"
#include "net/connexion_manager.h"
#include "objects/customer.h"
#include "objects/protocol.h"
#include "objects/register_classes.h"
#include "settings/site.h"
#include "transport/data_transfer.h"
#include "transport/frame_format.h"
#include "transport/objects_stack.h"
#include "util/diagnostic_log.h"
#include "util/program_folder.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kLogLayer = "run";

std::optional<std::string>& PendingUpdater() {
  static std::optional<std::string> pending;
  return pending;
}

// The connection layer's closing lines go to the windows exactly while the run lasts.
class ConnectionStatusInstallation {
 public:
  explicit ConnectionStatusInstallation(InstallationUi& ui) : status_(ui) {
    InstallConnectionStatus(&status_);
  }
  ~ConnectionStatusInstallation() { InstallConnectionStatus(nullptr); }
  ConnectionStatusInstallation(const ConnectionStatusInstallation&) = delete;
  ConnectionStatusInstallation& operator=(const ConnectionStatusInstallation&) = delete;

 private:
  UiConnectionStatus status_;
};

// The run objects. The normal path stops the manager and destroys them in their
// fixed order itself; should an error escape the run, this does the same, so no
// connection thread outlives the stack it pushes onto.
struct RunObjects {
  std::unique_ptr<TZelConnexionsManagerByMe> manager;
  std::unique_ptr<TZelObjectsStackManagerIn> stack;
  std::unique_ptr<TZelDataTransfer> transfer;
  std::unique_ptr<TZelSObjectCustomerIdentification> identification;

  void Destroy() {
    stack.reset();
    manager.reset();
    transfer.reset();
    identification.reset();
  }
  ~RunObjects() {
    if (manager) {
      try {
        manager->Stop();
        manager->Close();
      } catch (...) {
        DiagnosticLog(kLogLayer, "the connections could not be stopped cleanly");
      }
    }
    Destroy();
  }
};

bool Contains(const std::string& flags, std::string_view word) {
  return flags.find(word) != std::string::npos;
}

// "upd.zub" becomes "upd.Exe". Returns its path when it is ready to start.
std::optional<std::string> PrepareUpdater() {
  const std::string delivered = NativePath(protocol::kDeliveredUpdater);
  const std::string started = NativePath(protocol::kStartedUpdater);
  if (const Status inside = CheckInsideProgramFolder(delivered); !inside.ok()) {
    DiagnosticLog(kLogLayer, "updater not started: " + inside.ToString());
    return std::nullopt;
  }
  std::error_code error;
  fs::remove(started, error);  // a failure shows in the rename
  fs::rename(delivered, started, error);
  if (error) {
    DiagnosticLog(kLogLayer, "updater not started: rename failed: " + error.message());
    return std::nullopt;
  }
  return started;
}

}  // namespace

std::optional<std::string> TakePendingUpdater() {
  std::optional<std::string> pending = std::move(PendingUpdater());
  PendingUpdater().reset();
  return pending;
}

bool RunInstallation(const std::string& flags, const std::vector<std::string>&,
                     InstallationUi& ui) {
  DiagnosticLog(kLogLayer, "installation run, flags \"" + flags + "\"");
  PendingUpdater().reset();
  ConnectionStatusInstallation status_lines(ui);
  CompleteFrameMarkers();

  RunObjects run;
  run.manager = std::make_unique<TZelConnexionsManagerByMe>();
  run.stack = std::make_unique<TZelObjectsStackManagerIn>(nullptr);
  run.transfer = std::make_unique<TZelDataTransfer>();
  TZelConnexionsManagerByMe* manager = run.manager.get();
  manager->SetStackManager(run.stack.get());
  manager->SetDeliveryTarget(run.stack.get());
  manager->SetDataTransfer(run.transfer.get());
  RegisterClasses();

  if (!Contains(flags, "NOFS")) {
    TZelFoundServer found(ui);
    found.FindServer(*manager);
  }
  WindowRef connecting = ui.ShowConnectingWindow();

  run.identification = std::make_unique<TZelSObjectCustomerIdentification>(manager);
  TZelSObjectCustomerIdentification* identification = run.identification.get();
  identification->SetPersistName("Identification");
  identification->Open();
  const std::string kept_nick_name = identification->xsNickName;
  identification->xsNickName.clear();
  identification->EnsureId();
  manager->SetIdentification(identification);

  manager->Open();
  manager->SetDevelop(Contains(flags, "DEVELOP"));
  manager->SetHidden(Contains(flags, "HIDE"));
  for (int target = 1; target <= 3; ++target)
    if (Contains(flags, "TRGT" + std::to_string(target))) manager->SetTargetNumber(target);
  manager->Start();
  ui.CloseConnectingWindow(connecting);

  ExchangeLimits limits;
  limits.idle_polls =
      static_cast<std::uint32_t>(Site().install_idle_seconds) * 1000 / limits.poll_ms;
  ManagerInstallLink link(*manager, *run.stack);
  InstallationExchange exchange(link, ui, limits);
  bool result = exchange.RunInstallSession();

  connecting = ui.ShowConnectingWindow();
  manager->Stop();
  manager->Close();

  identification->xsNickName = kept_nick_name.empty() ? kDefaultNickName : kept_nick_name;
  identification->Close();  // stores it in its file

  run.Destroy();

  // Every file is written whole by a rename, so an "upd.zub" present after a
  // complete run is whole too: also one written by a run killed before it
  // started it, which the server will not send again.
  std::error_code error;
  const bool updater_present =
      fs::is_symlink(fs::symlink_status(NativePath(protocol::kDeliveredUpdater), error)) ||
      fs::exists(NativePath(protocol::kDeliveredUpdater), error);
  if (exchange.Outcome().updater_written || (result && updater_present)) {
    result = false;
    PendingUpdater() = PrepareUpdater();
  } else if (updater_present) {
    DiagnosticLog(kLogLayer,
                  "an \"upd.zub\" of an earlier run is left alone: this run is incomplete");
  }
  ui.CloseConnectingWindow(connecting);
  DiagnosticLog(kLogLayer,
                std::string("outcome: ") + (result             ? "client program to start"
                                            : PendingUpdater() ? "updater to start"
                                                               : "installation not complete"));
  return result;
}

}  // namespace quorvane
