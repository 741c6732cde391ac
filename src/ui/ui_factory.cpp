#include "ui/ui_factory.h"

#include <cstdlib>
#include <string_view>

#include "ui/console_ui.h"
#include "ui/display_probe.h"
#include "ui/qt_ui.h"

namespace quorvane {

namespace {
bool IsSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}
}  // namespace

UiBackend ChooseUiBackend() {
  if (const char* forced = std::getenv("QUORVANE_UI")) {
    if (std::string_view(forced) == "console") return UiBackend::kConsole;
    if (std::string_view(forced) == "qt") return UiBackend::kQt;
  }
  return IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY") ? UiBackend::kQt : UiBackend::kConsole;
}

std::unique_ptr<InstallationUi> CreateInstallationUi() {
  if (ChooseUiBackend() == UiBackend::kQt) {
    // Only a display found in the environment is checked; a forced choice or
    // a Wayland session is left to Qt.
    const bool forced = std::getenv("QUORVANE_UI") != nullptr;
    if (forced || IsSet("WAYLAND_DISPLAY") || IsSet("QT_QPA_PLATFORM") || X11DisplayAnswers())
      return std::make_unique<QtInstallationUi>();
  }
  return std::make_unique<ConsoleUi>();
}

}  // namespace quorvane
