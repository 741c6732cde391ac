#include "ui/gauge.h"

#include <algorithm>

namespace quorvane {

int ProgressPercent(std::int64_t value, std::int64_t total) {
  if (!(total > 0 && value > 0 && value <= total)) return value < total ? 0 : 100;
  if (value <= INT64_MAX / 100) return static_cast<int>(value * 100 / total);
  // value * 100 needs up to 70 bits here: divide the two-word product bit by bit.
  const auto v = static_cast<std::uint64_t>(value);
  const auto t = static_cast<std::uint64_t>(total);
  const std::uint64_t low_part = (v & 0xFFFFFFFFu) * 100;
  const std::uint64_t high_part = (v >> 32) * 100;
  const std::uint64_t low = low_part + (high_part << 32);
  const std::uint64_t high = (high_part >> 32) + (low < low_part ? 1 : 0);
  std::uint64_t remainder = 0;
  std::uint64_t quotient = 0;
  for (int bit = 127; bit >= 0; --bit) {
    const std::uint64_t next = bit >= 64 ? (high >> (bit - 64)) & 1 : (low >> bit) & 1;
    remainder = remainder << 1 | next;  // remainder < t < 2^63: no overflow
    quotient <<= 1;
    if (remainder >= t) {
      remainder -= t;
      quotient |= 1;
    }
  }
  return static_cast<int>(quotient);
}

int CountPercent(std::uint64_t value, std::uint64_t total) {
  const auto clamp = [](std::uint64_t count) {
    return static_cast<std::int64_t>(std::min<std::uint64_t>(count, INT64_MAX));
  };
  return ProgressPercent(clamp(value), clamp(total));
}

namespace {

// Two triangles that split a rectangle widened by `spread` on each side along
// its rising diagonal: upper-left and lower-right halves.
void SplitTriangles(int left, int right, int top, int bottom, int spread, GaugeTriangle& upper_left,
                    GaugeTriangle& lower_right) {
  upper_left = {GaugePoint{left - spread, bottom}, GaugePoint{left - spread, top},
                GaugePoint{right + spread, top}};
  lower_right = {GaugePoint{right + spread, top}, GaugePoint{right + spread, bottom},
                 GaugePoint{left - spread, bottom}};
}

}  // namespace

GaugeGeometry ComputeGaugeGeometry(const GaugeRect& rect, int percent, bool show_text) {
  percent = std::clamp(percent, 0, 100);
  GaugeGeometry g;
  g.outer = rect;
  const int d = rect.Width() / 2;
  SplitTriangles(rect.left, rect.right, rect.top, rect.bottom, d, g.trough_upper_left,
                 g.trough_lower_right);

  const GaugeRect r{rect.left + 2, rect.top + 2, rect.right - 2, rect.bottom - 2};
  g.inner = r;
  const int x = r.left + static_cast<int>(static_cast<std::int64_t>(r.Width()) * percent / 100);
  g.fill_right = x;
  g.bar = GaugeRect{r.left, r.top, x, r.bottom};
  // The bar's triangles take the fill edge as an offset from the left, which
  // tilts the split diagonal further right; the halves still meet on the bar.
  const int f = x / 2;
  SplitTriangles(r.left, r.left + x, r.top, r.bottom, f, g.bar_upper_left, g.bar_lower_right);

  g.show_text = show_text && rect.Height() >= kMinGaugeTextHeight;
  if (g.show_text) g.text = std::to_string(percent) + "%";
  return g;
}

GaugeColours WindowGaugeColours(Colour window_colour) {
  GaugeColours colours;
  colours.background = window_colour;
  return colours;
}

void DrawProgressGauge(GaugeCanvas& canvas, const GaugeRect& rect, int percent, bool show_text,
                       const GaugeColours& colours) {
  const GaugeGeometry g = ComputeGaugeGeometry(rect, percent, show_text);
  canvas.SaveState();
  canvas.FillRect(g.outer, colours.background);

  canvas.ClipToTriangle(g.trough_upper_left);
  canvas.RoundRect(g.outer, 5, colours.dark_edge, std::nullopt);
  canvas.ClipToTriangle(g.trough_lower_right);
  canvas.RoundRect(g.outer, 5, colours.light_edge, std::nullopt);

  canvas.ClipToTriangle(g.bar_upper_left);
  canvas.RoundRect(g.bar, 3, colours.light_edge, colours.fill);
  canvas.ClipToTriangle(g.bar_lower_right);
  canvas.RoundRect(g.bar, 3, colours.dark_edge, colours.fill);
  canvas.RemoveClip();

  if (g.show_text) canvas.DrawCentredText(g.inner, g.text, colours.text);
  canvas.RestoreState();
}

}  // namespace quorvane
