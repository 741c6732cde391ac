#include "ui/gdi_paint_win32.h"

#include <algorithm>
#include <climits>

namespace quorvane {

namespace {

// Panel_Client of the download window starts under the white top panel.
constexpr int kDownloadPanelTop = 65;
constexpr RECT kGroupBox{16, kDownloadPanelTop + 182, 447, kDownloadPanelTop + 250};
constexpr int kDialogBorder = 25;

// Point size to a character height in pixels at 96 dpi, rounded.
HFONT MakeFont(const char* face, int points, bool bold) {
  return ::CreateFontA(-((points * 96 + 36) / 72), 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE,
                       FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                       DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, face);
}

GaugeRect ToGaugeRect(const RECT& rect) {
  return GaugeRect{rect.left, rect.top, rect.right, rect.bottom};
}

// One line, clipped to its rectangle. No '&' prefixes: texts may come from
// the server and are shown as they are.
void DrawLabel(HDC dc, HFONT font, const RECT& rect, const std::string& text,
               UINT align = DT_LEFT) {
  if (text.empty()) return;
  const HGDIOBJ old_font = ::SelectObject(dc, font);
  ::SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, ::GetSysColor(COLOR_BTNTEXT));
  RECT box = rect;
  const int length = static_cast<int>(std::min<std::size_t>(text.size(), INT_MAX));
  ::DrawTextA(dc, text.data(), length, &box, align | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
  ::SelectObject(dc, old_font);
}

void FillColour(HDC dc, const RECT& rect, COLORREF colour) {
  const HBRUSH brush = ::CreateSolidBrush(colour);
  ::FillRect(dc, &rect, brush);
  ::DeleteObject(brush);
}

void Panel(HDC dc, RECT rect, UINT edge) {
  ::DrawEdge(dc, &rect, edge, BF_RECT);
}

void Icon(HDC dc, int left, int top, LPCSTR which) {
  if (const HICON icon = ::LoadIconA(nullptr, which))
    ::DrawIconEx(dc, left, top, icon, 32, 32, 0, nullptr, DI_NORMAL);
}

}  // namespace

COLORREF ResolveGdiColour(Colour colour) {
  if (IsSystemColour(colour)) return ::GetSysColor(static_cast<int>(colour & 0xFF));
  return RGB(RedOf(colour), GreenOf(colour), BlueOf(colour));
}

void GdiGaugeCanvas::SaveState() {
  saved_ = ::SaveDC(dc_);
}

void GdiGaugeCanvas::RestoreState() {
  if (saved_ != 0) ::RestoreDC(dc_, saved_);
  saved_ = 0;
}

void GdiGaugeCanvas::FillRect(const GaugeRect& rect, Colour colour) {
  FillColour(dc_, RECT{rect.left, rect.top, rect.right, rect.bottom}, ResolveGdiColour(colour));
}

void GdiGaugeCanvas::ClipToTriangle(const GaugeTriangle& triangle) {
  POINT points[3];
  for (int i = 0; i < 3; ++i)
    points[i] = POINT{triangle[i].x, triangle[i].y};
  const HRGN region = ::CreatePolygonRgn(points, 3, WINDING);
  ::SelectClipRgn(dc_, region);
  ::DeleteObject(region);
}

void GdiGaugeCanvas::RemoveClip() {
  ::SelectClipRgn(dc_, nullptr);
}

void GdiGaugeCanvas::RoundRect(const GaugeRect& rect, int corner, Colour pen,
                               std::optional<Colour> fill) {
  // An empty bar (0 percent) draws nothing rather than a stray edge.
  if (rect.Width() <= 0 || rect.Height() <= 0) return;
  const HPEN line = ::CreatePen(PS_SOLID, 1, ResolveGdiColour(pen));
  const HBRUSH brush = fill ? ::CreateSolidBrush(ResolveGdiColour(*fill))
                            : static_cast<HBRUSH>(::GetStockObject(NULL_BRUSH));
  const HGDIOBJ old_pen = ::SelectObject(dc_, line);
  const HGDIOBJ old_brush = ::SelectObject(dc_, brush);
  ::RoundRect(dc_, rect.left, rect.top, rect.right, rect.bottom, corner, corner);
  ::SelectObject(dc_, old_brush);
  ::SelectObject(dc_, old_pen);
  ::DeleteObject(line);
  if (fill) ::DeleteObject(brush);
}

void GdiGaugeCanvas::DrawCentredText(const GaugeRect& rect, const std::string& text,
                                     Colour colour) {
  ::SetBkMode(dc_, TRANSPARENT);
  ::SetTextColor(dc_, ResolveGdiColour(colour));
  RECT box{rect.left, rect.top, rect.right, rect.bottom};
  ::DrawTextA(dc_, text.data(), static_cast<int>(text.size()), &box,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
}

GdiFonts::GdiFonts()
    : tahoma(MakeFont("Tahoma", 8, false)),
      tahoma_bold(MakeFont("Tahoma", 8, true)),
      title(MakeFont("Tahoma", 10, true)),
      sans_serif(MakeFont("MS Sans Serif", 8, false)) {}

GdiFonts::~GdiFonts() {
  for (HFONT font : {tahoma, tahoma_bold, title, sans_serif})
    if (font != nullptr) ::DeleteObject(font);
}

RECT ConnectingLineRect(int line) {
  const int tops[3] = {13, 24, 34};
  const int top = tops[std::clamp(line, 0, 2)];
  return RECT{9, top, 9 + 248, top + 13};
}

RECT DownloadPhaseRect(int phase) {
  const int tops[3] = {60, 82, 104};
  const int top = kDownloadPanelTop + tops[std::clamp(phase, 1, 3) - 1];
  return RECT{48, top, 48 + 380, top + 16};
}

RECT DownloadGaugeRect(bool item) {
  const int top = kDownloadPanelTop + (item ? 152 : 126);
  return RECT{32, top, 32 + 395, top + 23};
}

RECT SearchGaugeRect() {
  return RECT{56, 27, 56 + 161, 27 + 17};
}

RECT DialogMessageRect(int width) {
  return RECT{0, kDialogBorder, width, kDialogHeight - kDialogBottomHeight - kDialogBorder};
}

void DrawGdiGauge(HDC dc, const RECT& rect, int percent, HFONT font) {
  const HGDIOBJ old_font = ::SelectObject(dc, font);
  GdiGaugeCanvas canvas(dc);
  DrawProgressGauge(canvas, ToGaugeRect(rect), percent, true,
                    WindowGaugeColours(kColourButtonFace));
  ::SelectObject(dc, old_font);
}

void PaintConnectingWindow(HDC dc, const GdiFonts& fonts, const ConnectingView& view) {
  const RECT client{0, 0, kConnectingClient.cx, kConnectingClient.cy};
  FillColour(dc, client, ::GetSysColor(COLOR_BTNFACE));
  Panel(dc, client, BDR_RAISEDINNER);
  for (int line = 0; line < 3; ++line)
    DrawLabel(dc, fonts.tahoma, ConnectingLineRect(line), view.lines[line], DT_CENTER);
}

void PaintDownloadWindow(HDC dc, const GdiFonts& fonts, const DownloadView& view) {
  const RECT client{0, 0, kDownloadClient.cx, kDownloadClient.cy};
  FillColour(dc, client, ::GetSysColor(COLOR_BTNFACE));

  const RECT top{0, 0, kDownloadClient.cx, kDownloadPanelTop};
  FillColour(dc, top, RGB(255, 255, 255));
  Panel(dc, top, BDR_SUNKENOUTER);
  DrawLabel(dc, fonts.title, RECT{16, 8, 316, 26}, view.texts.title);
  DrawLabel(dc, fonts.tahoma, RECT{32, 32, 392, 48}, view.texts.title_explain);
  Icon(dc, 411, 16, IDI_INFORMATION);

  Panel(dc, RECT{0, kDownloadPanelTop, kDownloadClient.cx, kDownloadClient.cy}, BDR_RAISEDINNER);
  DrawLabel(dc, fonts.tahoma, RECT{16, kDownloadPanelTop + 34, 416, kDownloadPanelTop + 50},
            view.texts.installation);
  for (int phase = 1; phase <= 3; ++phase)
    DrawLabel(dc, phase == view.phase ? fonts.tahoma_bold : fonts.tahoma, DownloadPhaseRect(phase),
              view.texts.phases[phase - 1]);
  DrawGdiGauge(dc, DownloadGaugeRect(false), view.overall_percent, fonts.tahoma);
  DrawGdiGauge(dc, DownloadGaugeRect(true), view.item_percent, fonts.tahoma);

  // GroupBox_Detail: an etched frame whose caption interrupts its top line.
  RECT frame = kGroupBox;
  frame.top += 6;
  ::DrawEdge(dc, &frame, EDGE_ETCHED, BF_RECT);
  const HGDIOBJ old_font = ::SelectObject(dc, fonts.tahoma);
  SIZE caption{};
  ::GetTextExtentPoint32A(dc, view.texts.details.data(),
                          static_cast<int>(view.texts.details.size()), &caption);
  ::SelectObject(dc, old_font);
  const RECT caption_box{kGroupBox.left + 6, kGroupBox.top, kGroupBox.left + 10 + caption.cx,
                         kGroupBox.top + 13};
  FillColour(dc, caption_box, ::GetSysColor(COLOR_BTNFACE));
  DrawLabel(dc, fonts.tahoma, caption_box, view.texts.details, DT_CENTER);

  const int left = kGroupBox.left + 12;
  const int right = kGroupBox.left + 220;
  const int row1 = kGroupBox.top + 20;
  const int row2 = kGroupBox.top + 42;
  DrawLabel(dc, fonts.tahoma, RECT{left, row1, left + 200, row1 + 16}, view.figures.speed);
  DrawLabel(dc, fonts.tahoma, RECT{right, row1, right + 200, row1 + 16},
            view.figures.remaining_time);
  DrawLabel(dc, fonts.tahoma, RECT{left, row2, left + 200, row2 + 16}, view.figures.amounts);
  DrawLabel(dc, fonts.tahoma, RECT{right, row2, right + 200, row2 + 16}, view.figures.files);
}

void PaintSearchWindow(HDC dc, const GdiFonts& fonts, int percent) {
  const RECT client{0, 0, kSearchClient.cx, kSearchClient.cy};
  FillColour(dc, client, ::GetSysColor(COLOR_BTNFACE));
  Panel(dc, client, BDR_RAISEDINNER);
  DrawLabel(dc, fonts.tahoma_bold, RECT{56, 8, 236, 24}, kSearchMessage);
  Icon(dc, 12, 14, IDI_QUESTION);
  DrawGdiGauge(dc, SearchGaugeRect(), percent, fonts.sans_serif);
}

void PaintDialog(HDC dc, const GdiFonts& fonts, const DialogView& view) {
  const int bottom_top = kDialogHeight - kDialogBottomHeight;
  FillColour(dc, RECT{0, 0, view.width, kDialogHeight}, ResolveGdiColour(view.colour));
  Panel(dc, RECT{0, 0, view.width, bottom_top}, BDR_RAISEDINNER);
  Panel(dc, RECT{0, bottom_top, view.width, kDialogHeight}, BDR_RAISEDINNER);
  DrawLabel(dc, fonts.tahoma, DialogMessageRect(view.width), "   " + view.text + "   ", DT_CENTER);
}

int DialogWidth(HDC dc, const GdiFonts& fonts, const std::string& text) {
  const HGDIOBJ old_font = ::SelectObject(dc, fonts.tahoma);
  SIZE size{};
  const int length = static_cast<int>(std::min<std::size_t>(text.size(), INT_MAX));
  ::GetTextExtentPoint32A(dc, text.data(), length, &size);
  ::SelectObject(dc, old_font);
  // A server's text could ask for any width: the screen bounds it.
  const int widest = std::max(250, ::GetSystemMetrics(SM_CXSCREEN));
  return std::clamp(static_cast<int>(size.cx) + 70, 250, widest);
}

}  // namespace quorvane
