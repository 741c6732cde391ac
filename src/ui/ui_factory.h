// Chooses the windows' backend for the program: Qt when a display is there,
// the terminal otherwise. Called once on the main thread, after the instance
// lock is taken and before any window is shown.
#pragma once

#include <memory>
#include <string>

#include "ui/installation_ui.h"

namespace quorvane {

enum class UiBackend { kQt, kConsole };

// QUORVANE_UI=console or =qt decides; otherwise Qt when DISPLAY or
// WAYLAND_DISPLAY is set, the terminal when neither is.
UiBackend ChooseUiBackend();

struct UiDecision {
  UiBackend backend = UiBackend::kConsole;
  std::string notice;  // one line saying why Qt was wanted but not used; empty otherwise
};

// The backend that can really start. Qt ends the process when its platform
// cannot start, so Qt is used only on a platform that needs no display
// (QT_QPA_PLATFORM offscreen or minimal) or when the X server answers;
// display_answers is asked only then. Otherwise the terminal, with a notice,
// whether Qt was chosen by the environment or asked for with QUORVANE_UI=qt.
UiDecision DecideUiBackend(bool (*display_answers)());

// The decided backend; its notice, if any, is written on stderr first.
std::unique_ptr<InstallationUi> CreateInstallationUi();

}  // namespace quorvane
