// The installation windows as Qt widgets. Creates the application object when
// there is none, but never runs its event loop: callers pump with
// ProcessMessages, as the installation loop does. GUI (main) thread only, except
// OpenStatusWindow, which answers kNoWindow on any other thread.
#pragma once

#include <QApplication>
#include <QWidget>

#include <cstdint>
#include <map>
#include <memory>

#include "ui/download_figures.h"
#include "ui/installation_ui.h"

namespace quorvane {

class QtInstallationUi : public InstallationUi {
 public:
  // tick: the millisecond clock the download window's speed is measured with.
  explicit QtInstallationUi(TickSource tick = nullptr);
  ~QtInstallationUi() override;

  // The widget behind a reference (nullptr for none), for screenshots and tests.
  QWidget* Widget(WindowRef window) const;

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
  WindowRef Add(std::unique_ptr<QWidget> widget);
  template <typename T>
  void Remove(WindowRef& window);

  std::unique_ptr<QApplication> application_;  // only when we created it
  TickSource tick_;
  std::map<WindowRef, std::unique_ptr<QWidget>> windows_;
  WindowRef next_ref_ = 1;
  WindowRef download_window_ = kNoWindow;
};

}  // namespace quorvane
