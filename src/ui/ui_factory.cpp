#include "ui/ui_factory.h"

#include <cstdio>
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

UiDecision DecideUiBackend(bool (*display_answers)()) {
  UiDecision decision;
  if (ChooseUiBackend() != UiBackend::kQt) return decision;
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  const bool needs_no_display = platform != nullptr && (std::string_view(platform) == "offscreen" ||
                                                        std::string_view(platform) == "minimal");
  if (needs_no_display || display_answers()) {
    decision.backend = UiBackend::kQt;
    return decision;
  }
  const char* forced = std::getenv("QUORVANE_UI");
  const std::string why =
      IsSet("DISPLAY") ? "the display " + std::string(std::getenv("DISPLAY")) + " does not answer"
                       : "no X display is set";
  const bool asked = forced != nullptr && std::string_view(forced) == "qt";
  decision.notice =
      "quorvane-setup: " + std::string(asked ? "QUORVANE_UI=qt asks for windows, but " : "") + why +
      "; the installation is shown on the terminal.";
  return decision;
}

std::unique_ptr<InstallationUi> CreateInstallationUi() {
  const UiDecision decision = DecideUiBackend(X11DisplayAnswers);
  if (!decision.notice.empty()) {
    std::fputs((decision.notice + "\n").c_str(), stderr);
    std::fflush(stderr);
  }
  if (decision.backend == UiBackend::kQt) return std::make_unique<QtInstallationUi>();
  return std::make_unique<ConsoleUi>();
}

}  // namespace quorvane
