// The four installation windows as Qt widgets: connecting (status) window,
// download window, search window and the modal dialog, with the layouts, texts
// and fonts the installer has always shown. Qt backend only; GUI thread only.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <string>

#include "ui/colour.h"
#include "ui/download_figures.h"
#include "ui/installation_ui.h"
#include "ui/qt_gauge.h"

namespace quorvane {

// The dialog font of the installer at the given point size; where the family
// is missing, a close sans-serif stands in. Pixel-sized as on a 96 dpi screen.
QFont InstallerFont(const char* family, int point_size, bool bold = false);
QString ToQString(const std::string& cp1252);
std::string FromQString(const QString& text);
// Places a top-level window in the middle of the primary screen.
void CentreOnScreen(QWidget& window);

class ConnectingWindow : public QWidget {
 public:
  ConnectingWindow();
  // Label3 (top), Label2, Label1 (bottom).
  QLabel* Line(int index) const { return lines_[index]; }
  void SetLines(const std::string& top, const std::string& middle, const std::string& bottom);
  void PushLine(const std::string& text);

 private:
  QLabel* lines_[3];
};

class DownloadWindow : public QWidget {
 public:
  DownloadWindow(bool english, std::uint32_t start_tick);
  QLabel* PhaseLabel(int phase) const { return phase_labels_[phase - 1]; }
  GaugeImage* OverallGauge() const { return overall_; }
  GaugeImage* ItemGauge() const { return item_; }
  void SetPhase(int phase);
  void ShowFigures(const DownloadFigures& figures);
  std::uint32_t StartTick() const { return start_tick_; }

 protected:
  // The installation owns this window; its close box must not take it away.
  void closeEvent(QCloseEvent* event) override;

 private:
  QLabel* phase_labels_[3];
  QLabel* speed_;
  QLabel* remaining_;
  QLabel* amounts_;
  QLabel* files_;
  GaugeImage* overall_;
  GaugeImage* item_;
  std::uint32_t start_tick_;
};

class SearchWindow : public QWidget {
 public:
  SearchWindow();
  GaugeImage* Gauge() const { return gauge_; }

 private:
  GaugeImage* gauge_;
};

class ModalDialog : public QDialog {
 public:
  ModalDialog(Colour colour, const std::string& caption, const std::string& text, bool question);
  DialogResult Result() const { return result_; }
  QLabel* Message() const { return message_; }
  QWidget* VisibleButtons() const { return question_ ? yes_no_ : ok_; }

 private:
  void Answer(DialogResult result);

  QLabel* message_;
  QWidget* yes_no_;
  QWidget* ok_;
  bool question_;
  DialogResult result_ = DialogResult::kNone;
};

}  // namespace quorvane
