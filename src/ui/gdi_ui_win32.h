// The installation windows as GDI windows: the program's backend on Windows.
// There is no message loop: the windows are repainted at once after each
// change and the callers' polling loops pump with ProcessMessages; only the
// modal dialog runs a loop of its own until a button closes it. Main thread
// only, except OpenStatusWindow, which answers kNoWindow on any other thread.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>

#include "ui/download_figures.h"
#include "ui/gdi_paint_win32.h"
#include "ui/installation_ui.h"

namespace quorvane {

// The window class of the dialog, for those that look for it (the screenshots).
inline constexpr const char* kGdiDialogClass = "TF_ModalDialog";

class GdiWindow;

class GdiInstallationUi : public InstallationUi {
 public:
  // tick: the millisecond clock the download window's speed is measured with.
  explicit GdiInstallationUi(TickSource tick = nullptr);
  ~GdiInstallationUi() override;

  // The window behind a reference (nullptr for none), for the screenshots.
  HWND Handle(WindowRef window) const;

  WindowRef ShowConnectingWindow() override;
  void CloseConnectingWindow(WindowRef& window) override;
  WindowRef OpenStatusWindow() override;
  void PushStatusLine(WindowRef window, const std::string& text) override;
  WindowRef OpenDownloadWindow(bool hidden) override;
  void SetDownloadPhase(WindowRef window, int phase) override;
  void UpdateDownloadProgress(WindowRef window, std::uint64_t bytes_expected,
                              std::uint64_t bytes_received, std::uint64_t files_expected,
                              std::uint64_t files_received) override;
  void UpdateItemProgress(WindowRef window, std::uint64_t object_size,
                          std::uint64_t object_received) override;
  void CloseDownloadWindow(WindowRef& window) override;
  WindowRef OpenSearchWindow() override;
  void ShowSearchWindow(WindowRef window) override;
  void SetSearchProgress(WindowRef window, int percent) override;
  void CloseSearchWindow(WindowRef& window) override;
  void ShowMessageDialog(Colour colour, const std::string& caption,
                         const std::string& text) override;
  DialogResult AskQuestionDialog(Colour colour, const std::string& caption,
                                 const std::string& text) override;
  void ProcessMessages() override;

 private:
  template <typename T>
  T* Find(WindowRef window) const;
  WindowRef Add(std::unique_ptr<GdiWindow> window);
  template <typename T>
  void Remove(WindowRef& window);
  DialogResult RunDialog(Colour colour, const std::string& caption, const std::string& text,
                         bool question);

  GdiFonts fonts_;
  TickSource tick_;
  DWORD main_thread_;
  std::map<WindowRef, std::unique_ptr<GdiWindow>> windows_;
  WindowRef next_ref_ = 1;
  WindowRef download_window_ = kNoWindow;
};

}  // namespace quorvane
