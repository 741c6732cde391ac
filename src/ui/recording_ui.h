// An InstallationUi that shows nothing and records every call with its
// arguments, for tests of the layers that drive the windows. It follows the
// same reference rules as the real backends (empty references do nothing, one
// download window at a time). Thread-safe: calls may come from any thread.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ui/installation_ui.h"

namespace quorvane {

struct RecordedCall {
  std::string name;               // the method's name, e.g. "SetDownloadPhase"
  std::vector<std::string> args;  // each argument in decimal or as given
  bool operator==(const RecordedCall&) const = default;
};

class RecordingUi : public InstallationUi {
 public:
  // The constructing thread counts as the main thread.
  RecordingUi();

  std::vector<RecordedCall> Calls() const;
  std::vector<RecordedCall> CallsNamed(const std::string& name) const;
  void ClearCalls();
  // What AskQuestionDialog answers (kNo unless set).
  void SetQuestionAnswer(DialogResult answer);
  // Windows created and not yet closed.
  std::size_t OpenWindowCount() const;

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
  enum class Kind { kConnecting, kDownload, kSearch };

  void Record(std::string name, std::vector<std::string> args);
  WindowRef Create(Kind kind);
  bool IsOpen(WindowRef window, Kind kind) const;
  void Close(WindowRef& window, Kind kind);

  mutable std::mutex mutex_;
  std::thread::id main_thread_;
  std::vector<RecordedCall> calls_;
  std::map<WindowRef, Kind> windows_;
  WindowRef next_ref_ = 1;
  WindowRef download_window_ = kNoWindow;
  DialogResult answer_ = DialogResult::kNo;
};

}  // namespace quorvane
