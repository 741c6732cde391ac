// The bevelled progress gauge shared by every window: the percent rule, the
// geometry (trough and bar rectangles, their clipping triangles, the text box)
// and the drawing sequence over an abstract canvas that each backend provides.
// Pure computations; a canvas is used from the thread that owns it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "ui/colour.h"

namespace quorvane {

// value * 100 / total, truncated, when 0 < value <= total; otherwise 0 while
// value < total and 100 from there on (so 0 of 0 is 100). Computed in 64 bits,
// so byte counts beyond 21 MB do not overflow, and always within 0..100.
int ProgressPercent(std::int64_t value, std::int64_t total);
// The same for unsigned counters; values beyond 2^63 count as 2^63 - 1.
int CountPercent(std::uint64_t value, std::uint64_t total);

// A rectangle in the GDI sense: right and bottom are one past the last pixel.
struct GaugeRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool operator==(const GaugeRect&) const = default;
};

struct GaugePoint {
  int x = 0;
  int y = 0;
  bool operator==(const GaugePoint&) const = default;
};

using GaugeTriangle = std::array<GaugePoint, 3>;

// Gauges lower than this show no percent text.
inline constexpr int kMinGaugeTextHeight = 20;

struct GaugeGeometry {
  GaugeRect outer;
  // The trough's outline is drawn twice, each time clipped to one of these.
  GaugeTriangle trough_upper_left;
  GaugeTriangle trough_lower_right;
  GaugeRect inner;  // outer shrunk by 2 on every side; also the text box
  int fill_right = 0;
  GaugeRect bar;  // from the inner top-left corner to fill_right
  GaugeTriangle bar_upper_left;
  GaugeTriangle bar_lower_right;
  bool show_text = false;
  std::string text;  // "37%"
};

// percent is clamped to 0..100 so the bar never leaves its rectangle.
GaugeGeometry ComputeGaugeGeometry(const GaugeRect& rect, int percent, bool show_text);

struct GaugeColours {
  Colour dark_edge = kColourButtonShadow;
  Colour light_edge = kColourButtonHighlight;
  Colour text = kColourBlack;
  Colour background = kColourButtonFace;
  Colour fill = kColourButtonFace;
};

// The colours every installation window uses, over the window's own colour.
GaugeColours WindowGaugeColours(Colour window_colour);

// What DrawProgressGauge needs from a surface. Round rectangles follow GDI:
// the right and bottom edges are excluded and the corner is an ellipse of
// corner x corner pixels; clipping polygons use the winding rule.
class GaugeCanvas {
 public:
  virtual ~GaugeCanvas() = default;
  // Remembers, and later restores, brush, pen, font colour and pen width.
  virtual void SaveState() = 0;
  virtual void RestoreState() = 0;
  virtual void FillRect(const GaugeRect& rect, Colour colour) = 0;
  virtual void ClipToTriangle(const GaugeTriangle& triangle) = 0;
  virtual void RemoveClip() = 0;
  // No brush (outline only) when fill is empty.
  virtual void RoundRect(const GaugeRect& rect, int corner, Colour pen,
                         std::optional<Colour> fill) = 0;
  // One line, centred both ways, transparent background.
  virtual void DrawCentredText(const GaugeRect& rect, const std::string& text, Colour colour) = 0;
};

void DrawProgressGauge(GaugeCanvas& canvas, const GaugeRect& rect, int percent, bool show_text,
                       const GaugeColours& colours);

}  // namespace quorvane
