// The installation windows as the rest of the program sees them: the connecting
// (status) window, the download window, the search window and the modal dialog.
// Backends: Qt widgets, the terminal, and a recorder for tests. Every call is
// made on the main thread; only OpenStatusWindow may be called from any thread
// and then answers kNoWindow.
#pragma once

#include <cstdint>
#include <string>

#include "ui/colour.h"

namespace quorvane {

// A window as its caller holds it. kNoWindow is the empty reference: every
// operation given it does nothing, and the Close calls set the reference to it.
using WindowRef = std::uint32_t;
inline constexpr WindowRef kNoWindow = 0;

enum class DialogResult : std::uint8_t { kNone = 0, kYes = 1, kNo = 2, kOk = 3 };

class InstallationUi {
 public:
  virtual ~InstallationUi() = default;

  // Connecting window: "Connecting ..." on its middle line, shown at once.
  virtual WindowRef ShowConnectingWindow() = 0;
  // Closes and destroys a connecting or status window, and empties the reference.
  virtual void CloseConnectingWindow(WindowRef& window) = 0;
  // A connecting window with three empty lines at the screen's top-left corner.
  virtual WindowRef OpenStatusWindow() = 0;
  // The lines move up; the new text becomes the bottom line.
  virtual void PushStatusLine(WindowRef window, const std::string& text) = 0;

  // Download window, in phase 1 with both gauges at 0 percent. A hidden one is
  // created and updated but never shown. While one exists, it is returned again.
  virtual WindowRef OpenDownloadWindow(bool hidden) = 0;
  // Phases 1 to 3 make one phase label bold; other values change nothing.
  virtual void SetDownloadPhase(WindowRef window, int phase) = 0;
  virtual void UpdateDownloadProgress(WindowRef window, std::uint64_t bytes_expected,
                                      std::uint64_t bytes_received, std::uint64_t files_expected,
                                      std::uint64_t files_received) = 0;
  virtual void UpdateItemProgress(WindowRef window, std::uint64_t object_size,
                                  std::uint64_t object_received) = 0;
  // The only way the download window goes away: its close box does nothing.
  virtual void CloseDownloadWindow(WindowRef& window) = 0;

  // Search window of server discovery: created hidden with its gauge at 0.
  virtual WindowRef OpenSearchWindow() = 0;
  virtual void ShowSearchWindow(WindowRef window) = 0;
  virtual void SetSearchProgress(WindowRef window, int percent) = 0;
  virtual void CloseSearchWindow(WindowRef& window) = 0;

  // Modal dialog with an Ok button.
  virtual void ShowMessageDialog(Colour colour, const std::string& caption,
                                 const std::string& text) = 0;
  // Modal dialog with "Oui" and "Non"; kNone when closed any other way.
  virtual DialogResult AskQuestionDialog(Colour colour, const std::string& caption,
                                         const std::string& text) = 0;

  // Handles pending window messages; the program has no message loop of its
  // own, so its polling loops call this.
  virtual void ProcessMessages() = 0;
};

}  // namespace quorvane
