#include "ui/qt_ui.h"

#include <QThread>

#include "settings/settings.h"
#include "ui/gauge.h"
#include "ui/qt_windows.h"
#include "ui/window_texts.h"
#include "util/tick.h"

namespace quorvane {

namespace {

// Paints the window now and lets the system show it: callers may not pump
// again for a while (a connection being opened), and the window must be seen.
void Present(QWidget& window) {
  if (!window.isVisible()) return;
  window.repaint();
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

// Shows the dialog modally by pumping, not with a Qt event loop of its own,
// like every other wait of the program; blocks until the dialog is closed.
void RunModal(QDialog& dialog) {
  dialog.setWindowModality(Qt::ApplicationModal);
  dialog.show();
  while (dialog.isVisible())
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

// QApplication keeps references to these for its whole life.
int g_argc = 1;
char g_program_name[] = "quorvane-setup";
char* g_argv[] = {g_program_name, nullptr};

}  // namespace

QtInstallationUi::QtInstallationUi(TickSource tick) : tick_(tick != nullptr ? tick : TickCount) {
  if (QApplication::instance() == nullptr) {
    application_ = std::make_unique<QApplication>(g_argc, g_argv);
    // Closing a window must never end anything: the program has no main window.
    QApplication::setQuitOnLastWindowClosed(false);
  }
}

QtInstallationUi::~QtInstallationUi() {
  windows_.clear();
  application_.reset();
}

QWidget* QtInstallationUi::Widget(WindowRef window) const {
  // An empty reference is answered without touching the windows: worker
  // threads pass one (their OpenStatusWindow gave nothing).
  if (window == kNoWindow) return nullptr;
  auto it = windows_.find(window);
  return it == windows_.end() ? nullptr : it->second.get();
}

template <typename T>
T* QtInstallationUi::Find(WindowRef window) const {
  return dynamic_cast<T*>(Widget(window));
}

WindowRef QtInstallationUi::Add(std::unique_ptr<QWidget> widget) {
  const WindowRef ref = next_ref_++;
  windows_.emplace(ref, std::move(widget));
  return ref;
}

template <typename T>
void QtInstallationUi::Remove(WindowRef& window) {
  if (T* widget = Find<T>(window)) {
    widget->hide();
    windows_.erase(window);
    if (window == download_window_) download_window_ = kNoWindow;
  }
  window = kNoWindow;
}

WindowRef QtInstallationUi::ShowConnectingWindow() {
  auto window = std::make_unique<ConnectingWindow>();
  window->SetLines("", kConnectingText, "");
  window->show();
  Present(*window);
  return Add(std::move(window));
}

void QtInstallationUi::CloseConnectingWindow(WindowRef& window) {
  Remove<ConnectingWindow>(window);
}

WindowRef QtInstallationUi::OpenStatusWindow() {
  if (QThread::currentThread() != QCoreApplication::instance()->thread()) return kNoWindow;
  auto window = std::make_unique<ConnectingWindow>();
  window->SetLines("", "", "");
  window->move(10, 10);
  window->show();
  Present(*window);
  return Add(std::move(window));
}

void QtInstallationUi::PushStatusLine(WindowRef ref, const std::string& text) {
  ConnectingWindow* window = Find<ConnectingWindow>(ref);
  if (window == nullptr) return;
  window->PushLine(text);
  window->show();
  Present(*window);
}

WindowRef QtInstallationUi::OpenDownloadWindow(bool hidden) {
  if (download_window_ != kNoWindow) return download_window_;
  auto window = std::make_unique<DownloadWindow>(IsEnglish(), tick_());
  window->SetPhase(1);
  window->ShowFigures(DownloadFigures{});
  window->OverallGauge()->Draw(0);
  window->ItemGauge()->Draw(0);
  if (!hidden) window->show();
  Present(*window);
  download_window_ = Add(std::move(window));
  return download_window_;
}

void QtInstallationUi::SetDownloadPhase(WindowRef ref, int phase) {
  DownloadWindow* window = Find<DownloadWindow>(ref);
  if (window == nullptr) return;
  window->SetPhase(phase);
  Present(*window);
}

void QtInstallationUi::UpdateDownloadProgress(WindowRef ref, std::uint64_t bytes_expected,
                                              std::uint64_t bytes_received,
                                              std::uint64_t files_expected,
                                              std::uint64_t files_received) {
  DownloadWindow* window = Find<DownloadWindow>(ref);
  if (window == nullptr) return;
  const DownloadCounts counts{bytes_expected, bytes_received, files_expected, files_received};
  window->ShowFigures(ComputeDownloadFigures(counts, tick_() - window->StartTick(), IsEnglish()));
  Present(*window);
}

void QtInstallationUi::UpdateItemProgress(WindowRef ref, std::uint64_t object_size,
                                          std::uint64_t object_received) {
  DownloadWindow* window = Find<DownloadWindow>(ref);
  if (window == nullptr) return;
  window->ItemGauge()->Draw(CountPercent(object_received, object_size));
  Present(*window);
}

void QtInstallationUi::CloseDownloadWindow(WindowRef& window) {
  Remove<DownloadWindow>(window);
}

WindowRef QtInstallationUi::OpenSearchWindow() {
  return Add(std::make_unique<SearchWindow>());
}

void QtInstallationUi::ShowSearchWindow(WindowRef ref) {
  SearchWindow* window = Find<SearchWindow>(ref);
  if (window == nullptr) return;
  window->show();
  Present(*window);
}

void QtInstallationUi::SetSearchProgress(WindowRef ref, int percent) {
  SearchWindow* window = Find<SearchWindow>(ref);
  if (window == nullptr) return;
  window->Gauge()->Draw(percent);
  Present(*window);
}

void QtInstallationUi::CloseSearchWindow(WindowRef& window) {
  Remove<SearchWindow>(window);
}

void QtInstallationUi::ShowMessageDialog(Colour colour, const std::string& caption,
                                         const std::string& text) {
  ModalDialog dialog(colour, caption, text, false);
  RunModal(dialog);
}

DialogResult QtInstallationUi::AskQuestionDialog(Colour colour, const std::string& caption,
                                                 const std::string& text) {
  ModalDialog dialog(colour, caption, text, true);
  RunModal(dialog);
  return dialog.Result();
}

void QtInstallationUi::ProcessMessages() {
  QCoreApplication::processEvents();
}

}  // namespace quorvane
