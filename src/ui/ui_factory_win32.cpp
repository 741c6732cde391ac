// The windows' backend on Windows: the desktop is always there.
#include "ui/console_ui.h"
#include "ui/ui_factory.h"

namespace quorvane {

std::unique_ptr<InstallationUi> CreateInstallationUi() {
  return std::make_unique<ConsoleUi>();
}

}  // namespace quorvane
