#include "ui/ui_factory.h"

#include <dlfcn.h>

#include <cstdlib>
#include <string_view>

#include "ui/console_ui.h"
#include "ui/qt_ui.h"

namespace quorvane {

namespace {
bool IsSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}
// Qt ends the process when it cannot reach the X server that DISPLAY names (a
// stale DISPLAY over ssh, say), so ask libxcb first. Qt's own X plugin needs
// libxcb, so it is there whenever the Qt windows could work at all.
bool X11DisplayAnswers() {
  void* xcb = ::dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
  if (xcb == nullptr) return false;
  using Connect = void* (*)(const char*, int*);
  using HasError = int (*)(void*);
  using Disconnect = void (*)(void*);
  auto connect = reinterpret_cast<Connect>(::dlsym(xcb, "xcb_connect"));
  auto has_error = reinterpret_cast<HasError>(::dlsym(xcb, "xcb_connection_has_error"));
  auto disconnect = reinterpret_cast<Disconnect>(::dlsym(xcb, "xcb_disconnect"));
  bool answers = false;
  if (connect != nullptr && has_error != nullptr && disconnect != nullptr) {
    void* connection = connect(nullptr, nullptr);
    answers = connection != nullptr && has_error(connection) == 0;
    if (connection != nullptr) disconnect(connection);
  }
  ::dlclose(xcb);
  return answers;
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
