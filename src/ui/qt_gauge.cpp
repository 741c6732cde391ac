#include "ui/qt_gauge.h"

#include <QPolygon>
#include <QRegion>

#include "util/codec.h"

namespace quorvane {

QColor ResolveColour(Colour colour, const QPalette& palette) {
  switch (colour) {
    case kColourButtonFace:
      return palette.color(QPalette::Button);
    case kColourButtonShadow:
      return palette.color(QPalette::Dark);
    case kColourButtonHighlight:
      return palette.color(QPalette::Light);
    default:
      break;
  }
  if (IsSystemColour(colour)) return palette.color(QPalette::Window);
  return QColor(RedOf(colour), GreenOf(colour), BlueOf(colour));
}

void QtGaugeCanvas::SaveState() {
  painter_.save();
}

void QtGaugeCanvas::RestoreState() {
  painter_.restore();
}

void QtGaugeCanvas::FillRect(const GaugeRect& rect, Colour colour) {
  painter_.fillRect(QRect(rect.left, rect.top, rect.Width(), rect.Height()),
                    ResolveColour(colour, palette_));
}

void QtGaugeCanvas::ClipToTriangle(const GaugeTriangle& triangle) {
  QPolygon polygon;
  for (const GaugePoint& point : triangle)
    polygon << QPoint(point.x, point.y);
  painter_.setClipRegion(QRegion(polygon, Qt::WindingFill));
}

void QtGaugeCanvas::RemoveClip() {
  painter_.setClipping(false);
}

void QtGaugeCanvas::RoundRect(const GaugeRect& rect, int corner, Colour pen,
                              std::optional<Colour> fill) {
  // GDI leaves out the right and bottom edges; a one-pixel Qt outline of a
  // w x h rectangle covers w + 1 pixels, hence the minus one.
  if (rect.Width() < 2 || rect.Height() < 2) return;
  painter_.setRenderHint(QPainter::Antialiasing, false);
  painter_.setPen(QPen(ResolveColour(pen, palette_), 1));
  if (fill)
    painter_.setBrush(ResolveColour(*fill, palette_));
  else
    painter_.setBrush(Qt::NoBrush);
  const qreal radius = corner / 2.0;
  painter_.drawRoundedRect(QRect(rect.left, rect.top, rect.Width() - 1, rect.Height() - 1), radius,
                           radius, Qt::AbsoluteSize);
}

void QtGaugeCanvas::DrawCentredText(const GaugeRect& rect, const std::string& text, Colour colour) {
  painter_.setPen(ResolveColour(colour, palette_));
  painter_.setBackgroundMode(Qt::TransparentMode);
  painter_.drawText(QRect(rect.left, rect.top, rect.Width(), rect.Height()),
                    Qt::AlignCenter | Qt::TextSingleLine,
                    QString::fromStdString(Cp1252ToUtf8(text)));
}

GaugeImage::GaugeImage(QWidget* parent, const QRect& geometry)
    : QWidget(parent), bitmap_(geometry.size(), QImage::Format_RGB32) {
  setGeometry(geometry);
  bitmap_.fill(palette().color(QPalette::Window));
}

void GaugeImage::Draw(int percent) {
  QPainter painter(&bitmap_);
  painter.setFont(font());
  QtGaugeCanvas canvas(painter, palette());
  const GaugeRect rect{0, 0, bitmap_.width(), bitmap_.height()};
  DrawProgressGauge(canvas, rect, percent, true, WindowGaugeColours(kColourButtonFace));
  painter.end();
  update();
}

void GaugeImage::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawImage(0, 0, bitmap_);
}

}  // namespace quorvane
