// The GDI windows drawn into a DIB section, checked by their pixels: the gauge,
// the bold phase label, the texts in their places, the dialog's width rule.
#include "ui/gdi_paint_win32.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "util/codec.h"

namespace quorvane {
namespace {

using namespace quorvane::literals;

class Dib {
 public:
  Dib(int width, int height) : width_(width) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    dc_ = ::CreateCompatibleDC(nullptr);
    bitmap_ = ::CreateDIBSection(dc_, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_),
                                 nullptr, 0);
    old_ = ::SelectObject(dc_, bitmap_);
  }
  ~Dib() {
    ::SelectObject(dc_, old_);
    ::DeleteObject(bitmap_);
    ::DeleteDC(dc_);
  }
  HDC dc() const { return dc_; }
  COLORREF Pixel(int x, int y) const {
    const std::uint32_t bgr = bits_[y * width_ + x];
    return RGB(bgr >> 16 & 0xFF, bgr >> 8 & 0xFF, bgr & 0xFF);
  }
  // Pixels darker than mid-grey: the text drawn in black.
  int Ink(const RECT& rect) const {
    int count = 0;
    for (int y = rect.top; y < rect.bottom; ++y)
      for (int x = rect.left; x < rect.right; ++x) {
        const COLORREF c = Pixel(x, y);
        count += GetRValue(c) + GetGValue(c) + GetBValue(c) < 3 * 128;
      }
    return count;
  }

 private:
  int width_;
  HDC dc_;
  HBITMAP bitmap_;
  HGDIOBJ old_;
  std::uint32_t* bits_ = nullptr;
};

TEST(GdiGauge, TroughBarAndPercentText) {
  const GdiFonts fonts;
  const COLORREF face = ::GetSysColor(COLOR_BTNFACE);
  const COLORREF shadow = ::GetSysColor(COLOR_BTNSHADOW);
  const COLORREF highlight = ::GetSysColor(COLOR_BTNHIGHLIGHT);
  struct Case {
    int percent;
    int height;
    bool text;
  } cases[] = {{0, 23, true}, {51, 23, true}, {100, 23, true}, {51, 17, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.percent) + "% " + std::to_string(c.height) + " high");
    Dib dib(395, c.height);
    DrawGdiGauge(dib.dc(), RECT{0, 0, 395, c.height}, c.percent, fonts.tahoma);
    const GaugeGeometry g = ComputeGaugeGeometry({0, 0, 395, c.height}, c.percent, true);
    EXPECT_EQ(dib.Pixel(0, c.height / 2), shadow);
    EXPECT_EQ(dib.Pixel(394, c.height / 2), highlight);
    // The bar's raised right edge (dark near the bottom), then the trough.
    const int row = g.inner.bottom - 2;
    EXPECT_EQ(dib.Pixel(g.fill_right - 1, row), c.percent > 0 ? shadow : face);
    EXPECT_EQ(dib.Pixel(g.fill_right, row), face);
    EXPECT_EQ(dib.Ink(RECT{g.inner.left, g.inner.top, g.inner.right, g.inner.bottom}) > 0, c.text);
  }
}

DownloadView French(int phase) {
  DownloadView view;
  view.texts = DownloadTexts(false);
  view.phase = phase;
  return view;
}

TEST(GdiDownloadWindow, OnlyTheCurrentPhaseIsBold) {
  const GdiFonts fonts;
  int ink[4][4] = {};  // [phase shown][label]
  for (int phase = 1; phase <= 3; ++phase) {
    Dib dib(kDownloadClient.cx, kDownloadClient.cy);
    PaintDownloadWindow(dib.dc(), fonts, French(phase));
    for (int label = 1; label <= 3; ++label)
      ink[phase][label] = dib.Ink(DownloadPhaseRect(label));
  }
  for (int label = 1; label <= 3; ++label)
    for (int phase = 1; phase <= 3; ++phase) {
      if (phase == label) continue;
      EXPECT_GT(ink[label][label], ink[phase][label] * 6 / 5) << label;
    }
}

// A text drawn on its own where a window puts it, in the window's font.
void DrawAlone(HDC dc, HFONT font, RECT rect, const std::string& text, UINT align) {
  ::SelectObject(dc, font);
  ::SetBkMode(dc, TRANSPARENT);
  ::DrawTextA(dc, text.data(), static_cast<int>(text.size()), &rect,
              align | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
}

TEST(GdiWindows, TextsStandInTheirPlaces) {
  const GdiFonts fonts;
  DownloadView english = French(1);
  english.texts = DownloadTexts(true);
  ConnectingView connecting;
  connecting.lines[1] = kConnectingText;
  const std::string message = "Serveur injoignable, réessayez"_w;
  struct Case {
    const char* what;
    SIZE size;
    std::function<void(HDC)> paint;
    RECT rect;
    std::string text;
    UINT align;
  } cases[] = {
      {"connecting", kConnectingClient,
       [&](HDC dc) { PaintConnectingWindow(dc, fonts, connecting); }, ConnectingLineRect(1),
       kConnectingText, DT_CENTER},
      {"French phase 2", kDownloadClient,
       [&](HDC dc) { PaintDownloadWindow(dc, fonts, French(1)); }, DownloadPhaseRect(2),
       "Agencement des services", DT_LEFT},
      {"English phase 3", kDownloadClient, [&](HDC dc) { PaintDownloadWindow(dc, fonts, english); },
       DownloadPhaseRect(3), "Installing kernel", DT_LEFT},
      {"dialog", SIZE{400, kDialogHeight},
       [&](HDC dc) {
         PaintDialog(dc, fonts, DialogView{kColourButtonFace, message, 400});
       },
       DialogMessageRect(400), "   " + message + "   ", DT_CENTER},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Dib window(c.size.cx, c.size.cy);
    c.paint(window.dc());
    Dib alone(c.size.cx, c.size.cy);
    const HBRUSH face = ::GetSysColorBrush(COLOR_BTNFACE);
    const RECT all{0, 0, c.size.cx, c.size.cy};
    ::FillRect(alone.dc(), &all, face);
    DrawAlone(alone.dc(), fonts.tahoma, c.rect, c.text, c.align);
    ASSERT_GT(alone.Ink(c.rect), 0);
    // Inside the panels' edges.
    for (int y = c.rect.top; y < c.rect.bottom; ++y)
      for (int x = std::max<LONG>(2, c.rect.left); x < std::min<LONG>(c.size.cx - 2, c.rect.right);
           ++x)
        ASSERT_EQ(window.Pixel(x, y), alone.Pixel(x, y)) << x << "," << y;
  }
  // The empty lines of the connecting window, above and below the middle one, show nothing.
  Dib dib(kConnectingClient.cx, kConnectingClient.cy);
  PaintConnectingWindow(dib.dc(), fonts, connecting);
  const RECT middle = ConnectingLineRect(1);
  EXPECT_EQ(dib.Ink({2, 2, 264, middle.top}) + dib.Ink({2, middle.bottom, 264, 59}), 0);
}

TEST(GdiDialog, WidthIsTheTextsPlusSeventyAndAtLeast250) {
  const GdiFonts fonts;
  Dib dib(1, 1);
  EXPECT_EQ(DialogWidth(dib.dc(), fonts, "Ok"), 250);
  const std::string text(60, 'W');
  ::SelectObject(dib.dc(), fonts.tahoma);
  SIZE size{};
  ::GetTextExtentPoint32A(dib.dc(), text.data(), static_cast<int>(text.size()), &size);
  ASSERT_GT(size.cx + 70, 250);
  EXPECT_EQ(DialogWidth(dib.dc(), fonts, text), size.cx + 70);
}

}  // namespace
}  // namespace quorvane
