// The installation windows drawn with GDI: the gauge canvas over a device
// context, the windows' fonts and one paint routine per window that draws the
// whole client area from a plain view of its state. The windows paint through
// these, and so can a test drawing into a DIB section. Texts are Windows-1252
// and go to the -A functions unchanged. A DC is drawn from one thread at a time.
#pragma once

#include <windows.h>

#include <string>

#include "ui/colour.h"
#include "ui/download_figures.h"
#include "ui/gauge.h"
#include "ui/window_texts.h"

namespace quorvane {

// System colours through GetSysColor, RGB colours as they are.
COLORREF ResolveGdiColour(Colour colour);

class GdiGaugeCanvas : public GaugeCanvas {
 public:
  explicit GdiGaugeCanvas(HDC dc) : dc_(dc) {}
  void SaveState() override;
  void RestoreState() override;
  void FillRect(const GaugeRect& rect, Colour colour) override;
  void ClipToTriangle(const GaugeTriangle& triangle) override;
  void RemoveClip() override;
  void RoundRect(const GaugeRect& rect, int corner, Colour pen,
                 std::optional<Colour> fill) override;
  void DrawCentredText(const GaugeRect& rect, const std::string& text, Colour colour) override;

 private:
  HDC dc_;
  int saved_ = 0;
};

// The faces the windows use, sized as on a 96 dpi screen. Owns its fonts.
class GdiFonts {
 public:
  GdiFonts();
  ~GdiFonts();
  GdiFonts(const GdiFonts&) = delete;
  GdiFonts& operator=(const GdiFonts&) = delete;

  HFONT tahoma = nullptr;       // Tahoma 8 pt: every window's text
  HFONT tahoma_bold = nullptr;  // the current phase, the search message
  HFONT title = nullptr;        // Tahoma 10 pt bold: the download window's heading
  HFONT sans_serif = nullptr;   // MS Sans Serif 8 pt: the search window's face
};

// Client sizes and the places of what the checks look at, in client pixels.
inline constexpr SIZE kConnectingClient{266, 61};
inline constexpr SIZE kDownloadClient{463, 325};
inline constexpr SIZE kSearchClient{246, 59};
inline constexpr int kDialogHeight = 112;
inline constexpr int kDialogBottomHeight = 49;

// Line 0 is Label3 (top), 1 Label2, 2 Label1 (bottom).
RECT ConnectingLineRect(int line);
// Phases 1 to 3: Label_DB, Label_Service, Label_Kernel.
RECT DownloadPhaseRect(int phase);
RECT DownloadGaugeRect(bool item);
RECT SearchGaugeRect();
// Label_Msg of a dialog of the given client width.
RECT DialogMessageRect(int width);

struct ConnectingView {
  std::string lines[3];  // top to bottom
};

struct DownloadView {
  DownloadWindowTexts texts;
  int phase = 1;  // the bold phase label
  DownloadFigures figures;
  int overall_percent = 0;
  int item_percent = 0;
};

struct DialogView {
  Colour colour = kColourButtonFace;
  std::string text;
  int width = 250;  // client width, see DialogWidth
};

void DrawGdiGauge(HDC dc, const RECT& rect, int percent, HFONT font);

void PaintConnectingWindow(HDC dc, const GdiFonts& fonts, const ConnectingView& view);
void PaintDownloadWindow(HDC dc, const GdiFonts& fonts, const DownloadView& view);
void PaintSearchWindow(HDC dc, const GdiFonts& fonts, int percent);
// The dialog's background, panels and message; its buttons are child windows.
void PaintDialog(HDC dc, const GdiFonts& fonts, const DialogView& view);

// The text's width in the dialog's font + 70, and at least 250.
int DialogWidth(HDC dc, const GdiFonts& fonts, const std::string& text);

}  // namespace quorvane
