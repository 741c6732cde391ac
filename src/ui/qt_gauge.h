// Qt side of the progress gauge: colours resolved against the palette, a
// GaugeCanvas over QPainter, and the gauge image that the windows place. Qt
// backend only; used on the GUI thread.
#pragma once

#include <QImage>
#include <QPainter>
#include <QWidget>

#include "ui/colour.h"
#include "ui/gauge.h"

namespace quorvane {

// System colours come from the palette (button face, its shadow and highlight).
QColor ResolveColour(Colour colour, const QPalette& palette);

class QtGaugeCanvas : public GaugeCanvas {
 public:
  QtGaugeCanvas(QPainter& painter, const QPalette& palette)
      : painter_(painter), palette_(palette) {}
  void SaveState() override;
  void RestoreState() override;
  void FillRect(const GaugeRect& rect, Colour colour) override;
  void ClipToTriangle(const GaugeTriangle& triangle) override;
  void RemoveClip() override;
  void RoundRect(const GaugeRect& rect, int corner, Colour pen,
                 std::optional<Colour> fill) override;
  void DrawCentredText(const GaugeRect& rect, const std::string& text, Colour colour) override;

 private:
  QPainter& painter_;
  const QPalette& palette_;
};

// A gauge as the windows hold it: a bitmap the size of the widget, redrawn by
// Draw and shown as it stands, like an image control.
class GaugeImage : public QWidget {
 public:
  GaugeImage(QWidget* parent, const QRect& geometry);
  void Draw(int percent);
  const QImage& Bitmap() const { return bitmap_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage bitmap_;
};

}  // namespace quorvane
