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
    // Qt ends the process when its platform cannot start, so only a display
    // that answers (or a platform that needs none) gets the Qt windows; a
    // forced choice is the user's own.
    const bool forced = std::getenv("QUORVANE_UI") != nullptr;
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    const bool needs_no_display =
        platform != nullptr &&
        (std::string_view(platform) == "offscreen" || std::string_view(platform) == "minimal");
    if (forced || needs_no_display || X11DisplayAnswers())
      return std::make_unique<QtInstallationUi>();
  }
  return std::make_unique<ConsoleUi>();
}

}  // namespace quorvane
