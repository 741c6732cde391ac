// Chooses the windows' backend for the program: Qt when a display is there,
// the terminal otherwise. Called once on the main thread, after the instance
// lock is taken and before any window is shown.
#pragma once

#include <memory>

#include "ui/installation_ui.h"

namespace quorvane {

enum class UiBackend { kQt, kConsole };

// QUORVANE_UI=console or =qt decides; otherwise Qt when DISPLAY or
// WAYLAND_DISPLAY is set, the terminal when neither is.
UiBackend ChooseUiBackend();
// The chosen backend; the terminal too when DISPLAY names an X server that
// does not answer, where Qt would end the program.
std::unique_ptr<InstallationUi> CreateInstallationUi();

}  // namespace quorvane
