#include "ui/gauge.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quorvane {
namespace {

TEST(ProgressPercent, EdgeCases) {
  EXPECT_EQ(ProgressPercent(0, 0), 100);
  EXPECT_EQ(ProgressPercent(5, 0), 100);
  EXPECT_EQ(ProgressPercent(0, 10), 0);
  EXPECT_EQ(ProgressPercent(3, 8), 37);
  EXPECT_EQ(ProgressPercent(12, 10), 100);
  EXPECT_EQ(ProgressPercent(10, 10), 100);
  EXPECT_EQ(ProgressPercent(-5, 10), 0);
  EXPECT_EQ(ProgressPercent(-5, -10), 100);
}

TEST(ProgressPercent, LargeCountsDoNotOverflow) {
  // 30e6 * 100 does not fit 32 bits; the answer must still be exact.
  EXPECT_EQ(ProgressPercent(30'000'000, 60'000'000), 50);
  EXPECT_EQ(ProgressPercent(4'000'000'000LL, 4'000'000'001LL), 99);
  EXPECT_EQ(ProgressPercent(INT64_MAX / 2, INT64_MAX), 49);
  EXPECT_EQ(ProgressPercent(INT64_MAX - 1, INT64_MAX), 99);
  EXPECT_EQ(CountPercent(UINT64_MAX, UINT64_MAX), 100);
  EXPECT_EQ(CountPercent(1, UINT64_MAX), 0);
}

TEST(GaugeGeometry, TroughAndBarOfAWindowGauge) {
  const GaugeGeometry g = ComputeGaugeGeometry(GaugeRect{0, 0, 395, 23}, 37, true);
  const int d = 395 / 2;
  EXPECT_EQ(g.trough_upper_left,
            (GaugeTriangle{GaugePoint{-d, 23}, GaugePoint{-d, 0}, GaugePoint{395 + d, 0}}));
  EXPECT_EQ(g.trough_lower_right,
            (GaugeTriangle{GaugePoint{395 + d, 0}, GaugePoint{395 + d, 23}, GaugePoint{-d, 23}}));
  EXPECT_EQ(g.inner, (GaugeRect{2, 2, 393, 21}));
  // 391 * 37 / 100 = 144, measured from the inner left edge.
  EXPECT_EQ(g.fill_right, 146);
  EXPECT_EQ(g.bar, (GaugeRect{2, 2, 146, 21}));
  const int f = 146 / 2;
  EXPECT_EQ(g.bar_upper_left, (GaugeTriangle{GaugePoint{2 - f, 21}, GaugePoint{2 - f, 2},
                                             GaugePoint{2 + 146 + f, 2}}));
  EXPECT_EQ(g.bar_lower_right[1], (GaugePoint{2 + 146 + f, 21}));
  EXPECT_TRUE(g.show_text);
  EXPECT_EQ(g.text, "37%");
}

TEST(GaugeGeometry, OffsetRectangleAndPercentBounds) {
  const GaugeRect rect{32, 126, 427, 149};
  EXPECT_EQ(ComputeGaugeGeometry(rect, 0, true).fill_right, 34);
  EXPECT_EQ(ComputeGaugeGeometry(rect, 100, true).fill_right, 34 + 391);
  // Out-of-range percents are held to the rectangle.
  EXPECT_EQ(ComputeGaugeGeometry(rect, 250, true).fill_right, 34 + 391);
  EXPECT_EQ(ComputeGaugeGeometry(rect, 250, true).text, "100%");
  EXPECT_EQ(ComputeGaugeGeometry(rect, -7, true).fill_right, 34);
}

TEST(GaugeGeometry, NoTextBelowTwentyPixels) {
  EXPECT_FALSE(ComputeGaugeGeometry(GaugeRect{56, 27, 217, 44}, 50, true).show_text);
  EXPECT_TRUE(ComputeGaugeGeometry(GaugeRect{0, 0, 100, 20}, 50, true).show_text);
  EXPECT_FALSE(ComputeGaugeGeometry(GaugeRect{0, 0, 100, 19}, 50, true).show_text);
  EXPECT_FALSE(ComputeGaugeGeometry(GaugeRect{0, 0, 100, 23}, 50, false).show_text);
}

// Writes each canvas call as a line, to check the drawing sequence.
class TraceCanvas : public GaugeCanvas {
 public:
  std::vector<std::string> calls;
  void SaveState() override { calls.push_back("save"); }
  void RestoreState() override { calls.push_back("restore"); }
  void FillRect(const GaugeRect& r, Colour c) override {
    calls.push_back("fill " + Rect(r) + " " + std::to_string(c));
  }
  void ClipToTriangle(const GaugeTriangle& t) override {
    calls.push_back("clip " + std::to_string(t[2].x) + "," + std::to_string(t[2].y));
  }
  void RemoveClip() override { calls.push_back("unclip"); }
  void RoundRect(const GaugeRect& r, int corner, Colour pen, std::optional<Colour> fill) override {
    calls.push_back("round " + Rect(r) + " " + std::to_string(corner) + " pen " +
                    std::to_string(pen) + (fill ? " brush " + std::to_string(*fill) : " hollow"));
  }
  void DrawCentredText(const GaugeRect& r, const std::string& text, Colour c) override {
    calls.push_back("text " + Rect(r) + " " + text + " " + std::to_string(c));
  }

 private:
  static std::string Rect(const GaugeRect& r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) +
           "," + std::to_string(r.bottom);
  }
};

TEST(DrawProgressGauge, SunkenTroughRaisedBarThenText) {
  TraceCanvas canvas;
  GaugeColours colours;
  colours.dark_edge = 1;
  colours.light_edge = 2;
  colours.text = 3;
  colours.background = 4;
  colours.fill = 5;
  DrawProgressGauge(canvas, GaugeRect{0, 0, 100, 23}, 50, true, colours);
  const std::vector<std::string> expected = {
      "save",
      "fill 0,0,100,23 4",
      "clip 150,0",  // upper-left of the trough: dark edge
      "round 0,0,100,23 5 pen 1 hollow",
      "clip -50,23",  // lower-right: light edge
      "round 0,0,100,23 5 pen 2 hollow",
      "clip 77,2",  // bar: x = 2 + 96 * 50 / 100 = 50, f = 25
      "round 2,2,50,21 3 pen 2 brush 5",
      "clip -23,21",
      "round 2,2,50,21 3 pen 1 brush 5",
      "unclip",
      "text 2,2,98,21 50% 3",
      "restore",
  };
  EXPECT_EQ(canvas.calls, expected);
}

}  // namespace
}  // namespace quorvane
