#include "ui/recording_ui.h"

namespace quorvane {

namespace {
std::string Str(std::uint64_t value) {
  return std::to_string(value);
}
}  // namespace

RecordingUi::RecordingUi() : main_thread_(std::this_thread::get_id()) {}

std::vector<RecordedCall> RecordingUi::Calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

std::vector<RecordedCall> RecordingUi::CallsNamed(const std::string& name) const {
  std::lock_guard lock(mutex_);
  std::vector<RecordedCall> out;
  for (const RecordedCall& call : calls_)
    if (call.name == name) out.push_back(call);
  return out;
}

void RecordingUi::ClearCalls() {
  std::lock_guard lock(mutex_);
  calls_.clear();
}

void RecordingUi::SetQuestionAnswer(DialogResult answer) {
  std::lock_guard lock(mutex_);
  answer_ = answer;
}

std::size_t RecordingUi::OpenWindowCount() const {
  std::lock_guard lock(mutex_);
  return windows_.size();
}

void RecordingUi::Record(std::string name, std::vector<std::string> args) {
  calls_.push_back(RecordedCall{std::move(name), std::move(args)});
}

WindowRef RecordingUi::Create(Kind kind) {
  const WindowRef ref = next_ref_++;
  windows_[ref] = kind;
  return ref;
}

bool RecordingUi::IsOpen(WindowRef window, Kind kind) const {
  auto it = windows_.find(window);
  return it != windows_.end() && it->second == kind;
}

void RecordingUi::Close(WindowRef& window, Kind kind) {
  if (IsOpen(window, kind)) windows_.erase(window);
  if (kind == Kind::kDownload && window == download_window_) download_window_ = kNoWindow;
  window = kNoWindow;
}

WindowRef RecordingUi::ShowConnectingWindow() {
  std::lock_guard lock(mutex_);
  const WindowRef ref = Create(Kind::kConnecting);
  Record("ShowConnectingWindow", {Str(ref)});
  return ref;
}

void RecordingUi::CloseConnectingWindow(WindowRef& window) {
  std::lock_guard lock(mutex_);
  Record("CloseConnectingWindow", {Str(window)});
  Close(window, Kind::kConnecting);
}

WindowRef RecordingUi::OpenStatusWindow() {
  std::lock_guard lock(mutex_);
  const WindowRef ref =
      std::this_thread::get_id() == main_thread_ ? Create(Kind::kConnecting) : kNoWindow;
  Record("OpenStatusWindow", {Str(ref)});
  return ref;
}

void RecordingUi::PushStatusLine(WindowRef window, const std::string& text) {
  std::lock_guard lock(mutex_);
  Record("PushStatusLine", {Str(window), text});
}

WindowRef RecordingUi::OpenDownloadWindow(bool hidden) {
  std::lock_guard lock(mutex_);
  if (download_window_ == kNoWindow) download_window_ = Create(Kind::kDownload);
  Record("OpenDownloadWindow", {hidden ? "hidden" : "shown", Str(download_window_)});
  return download_window_;
}

void RecordingUi::SetDownloadPhase(WindowRef window, int phase) {
  std::lock_guard lock(mutex_);
  Record("SetDownloadPhase", {Str(window), std::to_string(phase)});
}

void RecordingUi::UpdateDownloadProgress(WindowRef window, std::uint64_t bytes_expected,
                                         std::uint64_t bytes_received, std::uint64_t files_expected,
                                         std::uint64_t files_received) {
  std::lock_guard lock(mutex_);
  Record("UpdateDownloadProgress", {Str(window), Str(bytes_expected), Str(bytes_received),
                                    Str(files_expected), Str(files_received)});
}

void RecordingUi::UpdateItemProgress(WindowRef window, std::uint64_t object_size,
                                     std::uint64_t object_received) {
  std::lock_guard lock(mutex_);
  Record("UpdateItemProgress", {Str(window), Str(object_size), Str(object_received)});
}

void RecordingUi::CloseDownloadWindow(WindowRef& window) {
  std::lock_guard lock(mutex_);
  Record("CloseDownloadWindow", {Str(window)});
  Close(window, Kind::kDownload);
}

WindowRef RecordingUi::OpenSearchWindow() {
  std::lock_guard lock(mutex_);
  const WindowRef ref = Create(Kind::kSearch);
  Record("OpenSearchWindow", {Str(ref)});
  return ref;
}

void RecordingUi::ShowSearchWindow(WindowRef window) {
  std::lock_guard lock(mutex_);
  Record("ShowSearchWindow", {Str(window)});
}

void RecordingUi::SetSearchProgress(WindowRef window, int percent) {
  std::lock_guard lock(mutex_);
  Record("SetSearchProgress", {Str(window), std::to_string(percent)});
}

void RecordingUi::CloseSearchWindow(WindowRef& window) {
  std::lock_guard lock(mutex_);
  Record("CloseSearchWindow", {Str(window)});
  Close(window, Kind::kSearch);
}

void RecordingUi::ShowMessageDialog(Colour colour, const std::string& caption,
                                    const std::string& text) {
  std::lock_guard lock(mutex_);
  Record("ShowMessageDialog", {Str(colour), caption, text});
}

DialogResult RecordingUi::AskQuestionDialog(Colour colour, const std::string& caption,
                                            const std::string& text) {
  std::lock_guard lock(mutex_);
  Record("AskQuestionDialog", {Str(colour), caption, text});
  return answer_;
}

void RecordingUi::ProcessMessages() {
  std::lock_guard lock(mutex_);
  Record("ProcessMessages", {});
}

}  // namespace quorvane
