#include <dlfcn.h>

#include "ui/display_probe.h"

namespace quorvane {

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

}  // namespace quorvane
