// The windows' backend on Windows: the desktop is always there, so the GDI
// windows, unless QUORVANE_UI=console asks for the terminal.
#include <cstdlib>
#include <string_view>

#include "ui/console_ui.h"
#include "ui/gdi_ui_win32.h"
#include "ui/ui_factory.h"

namespace quorvane {

std::unique_ptr<InstallationUi> CreateInstallationUi() {
  const char* forced = std::getenv("QUORVANE_UI");
  if (forced != nullptr && std::string_view(forced) == "console")
    return std::make_unique<ConsoleUi>();
  return std::make_unique<GdiInstallationUi>();
}

}  // namespace quorvane
