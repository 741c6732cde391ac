// Shows the network layer's closing lines ("Fermeture connexion sortante N°:3") in
// a status window of the installation windows. Installed by the installation run
// with InstallConnectionStatus. Trace notices need an application with tracing on,
// which this program never has: they only reach the diagnostic log.
// Called on the main thread; from another thread the window calls do nothing.
#pragma once

#include <string>

#include "net/connection_status.h"
#include "ui/installation_ui.h"

namespace quorvane {

class UiConnectionStatus : public ConnectionStatus {
 public:
  explicit UiConnectionStatus(InstallationUi& ui) : ui_(ui) {}
  ~UiConnectionStatus() override { CloseClosing(); }

  void ShowClosing() override;
  void StatusLine(const std::string& text) override;
  void CloseClosing() override;
  void TraceNotice(const std::string& text) override;

 private:
  InstallationUi& ui_;
  WindowRef window_ = kNoWindow;
};

}  // namespace quorvane
