// The connection layer's status lines and trace notices, shown by the ui. net
// declares the seam and the ui installs its implementation at start-up (never
// included from here). Without one, lines go to the diagnostic log only.
// Install once from the main thread before connections start; the calls come
// from the main thread (CloseAll), trace notices from any thread.
#pragma once

#include <string>

namespace quorvane {

class ConnectionStatus {
 public:
  virtual ~ConnectionStatus() = default;
  // The connecting window for the closing lines, shown and closed by CloseAll.
  virtual void ShowClosing() = 0;
  // One status line, e.g. "Fermeture connexion sortante N°:3".
  virtual void StatusLine(const std::string& text) = 0;
  virtual void CloseClosing() = 0;
  // "Connexion server ..", "Waiting autentification .." ... (Windows-1252).
  virtual void TraceNotice(const std::string& text) = 0;
};

// nullptr removes it. The service is not owned.
void InstallConnectionStatus(ConnectionStatus* status);
ConnectionStatus* CurrentConnectionStatus();

// Sends a trace notice to the installed status, and to the diagnostic log.
void ConnectionTrace(const std::string& text);

}  // namespace quorvane
