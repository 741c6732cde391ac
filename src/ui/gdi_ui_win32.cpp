#include "ui/gdi_ui_win32.h"

#include <string>
#include <vector>

#include "settings/settings.h"
#include "ui/gauge.h"
#include "ui/window_texts.h"
#include "util/diagnostic_log.h"
#include "util/tick.h"

namespace quorvane {

namespace {

constexpr std::string_view kLogLayer = "ui";

void EnsureClass(const char* name);

}  // namespace

// One top-level window: its handle, its painting through the routines of
// gdi_paint_win32 into an off-screen bitmap (no flicker), and the messages a
// kind of window answers itself. A window that cannot be created is logged
// and kept without a handle, so the installation goes on without it.
class GdiWindow {
 public:
  explicit GdiWindow(const GdiFonts& fonts) : fonts_(fonts) {}
  virtual ~GdiWindow() {
    if (handle_ == nullptr) return;
    ::SetWindowLongPtrA(handle_, GWLP_USERDATA, 0);
    ::DestroyWindow(handle_);
  }
  GdiWindow(const GdiWindow&) = delete;
  GdiWindow& operator=(const GdiWindow&) = delete;

  HWND Handle() const { return handle_; }

  // Centred on the screen unless a place is given.
  bool Create(const char* class_name, const std::string& caption, DWORD style, DWORD ex_style,
              SIZE client, const POINT* at = nullptr) {
    EnsureClass(class_name);
    RECT frame{0, 0, client.cx, client.cy};
    ::AdjustWindowRectEx(&frame, style, FALSE, ex_style);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    const int left = at != nullptr ? at->x : (::GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    const int top = at != nullptr ? at->y : (::GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    client_ = client;
    handle_ = ::CreateWindowExA(ex_style, class_name, caption.c_str(), style, left, top, width,
                                height, nullptr, nullptr, ::GetModuleHandleA(nullptr), this);
    if (handle_ == nullptr)
      DiagnosticLog(kLogLayer, std::string("window ") + class_name + " not created: error " +
                                   std::to_string(::GetLastError()));
    return handle_ != nullptr;
  }

  void Show() {
    if (handle_ != nullptr) ::ShowWindow(handle_, SW_SHOW);
  }

  // Paints now: the caller may not pump again for a while.
  void Repaint() {
    if (handle_ == nullptr) return;
    ::InvalidateRect(handle_, nullptr, FALSE);
    ::UpdateWindow(handle_);
  }

  virtual void Paint(HDC dc) const = 0;

  static LRESULT CALLBACK Procedure(HWND handle, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_NCCREATE) {
      auto* create = reinterpret_cast<CREATESTRUCTA*>(lparam);
      ::SetWindowLongPtrA(handle, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* window = reinterpret_cast<GdiWindow*>(::GetWindowLongPtrA(handle, GWLP_USERDATA));
    if (window == nullptr) return ::DefWindowProcA(handle, message, wparam, lparam);
    switch (message) {
      case WM_ERASEBKGND:
        return 1;  // Paint covers the whole client area
      case WM_PAINT:
        window->PaintBuffered(handle);
        return 0;
      case WM_NCDESTROY:
        window->handle_ = nullptr;
        ::SetWindowLongPtrA(handle, GWLP_USERDATA, 0);
        break;
      default: {
        LRESULT result = 0;
        if (window->Answer(message, wparam, lparam, result)) return result;
      }
    }
    return ::DefWindowProcA(handle, message, wparam, lparam);
  }

 protected:
  // Messages this kind of window answers itself; false leaves them to Windows.
  virtual bool Answer(UINT, WPARAM, LPARAM, LRESULT&) { return false; }

  const GdiFonts& fonts_;
  HWND handle_ = nullptr;
  SIZE client_{};

 private:
  void PaintBuffered(HWND handle) const {
    PAINTSTRUCT paint;
    const HDC dc = ::BeginPaint(handle, &paint);
    const HDC buffer = ::CreateCompatibleDC(dc);
    const HBITMAP bitmap = ::CreateCompatibleBitmap(dc, client_.cx, client_.cy);
    if (buffer != nullptr && bitmap != nullptr) {
      const HGDIOBJ old_bitmap = ::SelectObject(buffer, bitmap);
      Paint(buffer);
      ::BitBlt(dc, 0, 0, client_.cx, client_.cy, buffer, 0, 0, SRCCOPY);
      ::SelectObject(buffer, old_bitmap);
    } else {
      Paint(dc);
    }
    if (bitmap != nullptr) ::DeleteObject(bitmap);
    if (buffer != nullptr) ::DeleteDC(buffer);
    ::EndPaint(handle, &paint);
  }
};

namespace {

void EnsureClass(const char* name) {
  const HINSTANCE instance = ::GetModuleHandleA(nullptr);
  WNDCLASSEXA window_class{};
  window_class.cbSize = sizeof window_class;
  if (::GetClassInfoExA(instance, name, &window_class)) return;
  window_class.lpfnWndProc = GdiWindow::Procedure;
  window_class.hInstance = instance;
  window_class.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
  window_class.lpszClassName = name;
  if (::RegisterClassExA(&window_class) == 0)
    DiagnosticLog(kLogLayer, std::string("window class ") + name + " not registered: error " +
                                 std::to_string(::GetLastError()));
}

class ConnectingWindow : public GdiWindow {
 public:
  using GdiWindow::GdiWindow;
  bool Open(const POINT* at) {
    return Create("TF_Connexion", "", WS_POPUP, WS_EX_TOPMOST, kConnectingClient, at);
  }
  void PushLine(const std::string& text) {
    view_.lines[0] = std::move(view_.lines[1]);
    view_.lines[1] = std::move(view_.lines[2]);
    view_.lines[2] = text;
  }
  ConnectingView& View() { return view_; }
  void Paint(HDC dc) const override { PaintConnectingWindow(dc, fonts_, view_); }

 private:
  ConnectingView view_;
};

class DownloadWindow : public GdiWindow {
 public:
  DownloadWindow(const GdiFonts& fonts, bool english, std::uint32_t start_tick)
      : GdiWindow(fonts), start_tick_(start_tick) {
    view_.texts = DownloadTexts(english);
  }
  bool Open() {
    return Create("TF_User_Download", view_.texts.caption, WS_POPUP | WS_CAPTION | WS_SYSMENU,
                  WS_EX_DLGMODALFRAME | WS_EX_TOPMOST, kDownloadClient);
  }
  DownloadView& View() { return view_; }
  std::uint32_t StartTick() const { return start_tick_; }
  void Paint(HDC dc) const override { PaintDownloadWindow(dc, fonts_, view_); }

 protected:
  // The installation owns this window; its close box does nothing.
  bool Answer(UINT message, WPARAM, LPARAM, LRESULT& result) override {
    if (message != WM_CLOSE) return false;
    result = 0;
    return true;
  }

 private:
  DownloadView view_;
  std::uint32_t start_tick_;
};

class SearchWindow : public GdiWindow {
 public:
  using GdiWindow::GdiWindow;
  bool Open() { return Create("TF_ServerIntrouvable", kSearchCaption, WS_POPUP, 0, kSearchClient); }
  void SetPercent(int percent) { percent_ = percent; }
  void Paint(HDC dc) const override { PaintSearchWindow(dc, fonts_, percent_); }

 private:
  int percent_ = 0;
};

class DialogWindow : public GdiWindow {
 public:
  DialogWindow(const GdiFonts& fonts, const DialogView& view, bool question)
      : GdiWindow(fonts), view_(view), question_(question) {
    brush_ = ::CreateSolidBrush(ResolveGdiColour(view.colour));
  }
  ~DialogWindow() override {
    if (brush_ != nullptr) ::DeleteObject(brush_);
  }

  // Only the yes/no panel or only the Ok panel, centred in the bottom panel.
  bool Open(const std::string& caption) {
    if (!Create(kGdiDialogClass, caption, WS_POPUP | WS_CAPTION | WS_CLIPCHILDREN,
                WS_EX_DLGMODALFRAME | WS_EX_TOPMOST, SIZE{view_.width, kDialogHeight}))
      return false;
    const int panel_width = question_ ? 153 : 86;
    const int panel_left = view_.width / 2 - panel_width / 2;
    const int button_top = kDialogHeight - kDialogBottomHeight + 7 + 4;
    if (question_) {
      first_ = AddButton(kDialogYes, IDYES, panel_left, button_top, true);
      AddButton(kDialogNo, IDNO, panel_left + 78, button_top, false);
    } else {
      first_ = AddButton(kDialogOk, IDOK, panel_left + 5, button_top, true);
    }
    return true;
  }

  HWND FirstButton() const { return first_; }
  DialogResult Result() const { return result_; }
  void Paint(HDC dc) const override { PaintDialog(dc, fonts_, view_); }

 protected:
  bool Answer(UINT message, WPARAM wparam, LPARAM, LRESULT& result) override {
    if (message == WM_CTLCOLORBTN) {
      result = reinterpret_cast<LRESULT>(brush_);
      return brush_ != nullptr;
    }
    if (message != WM_COMMAND) return false;
    switch (LOWORD(wparam)) {
      case IDYES:
        result_ = DialogResult::kYes;
        break;
      case IDNO:
        result_ = DialogResult::kNo;
        break;
      case IDOK:
        // Enter in a question names no button: it does not answer.
        if (question_) return false;
        result_ = DialogResult::kOk;
        break;
      case IDCANCEL:  // Escape: closed without an answer
        break;
      default:
        return false;
    }
    ::DestroyWindow(handle_);
    result = 0;
    return true;
  }

 private:
  HWND AddButton(const char* text, int id, int left, int top, bool default_button) {
    const DWORD style =
        WS_CHILD | WS_VISIBLE | WS_TABSTOP | (default_button ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
    const HWND button = ::CreateWindowExA(0, "BUTTON", text, style, left, top, 75, 26, handle_,
                                          reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                          ::GetModuleHandleA(nullptr), nullptr);
    if (button != nullptr)
      ::SendMessageA(button, WM_SETFONT, reinterpret_cast<WPARAM>(fonts_.tahoma), TRUE);
    return button;
  }

  DialogView view_;
  bool question_;
  HBRUSH brush_ = nullptr;
  HWND first_ = nullptr;
  DialogResult result_ = DialogResult::kNone;
};

}  // namespace

GdiInstallationUi::GdiInstallationUi(TickSource tick)
    : tick_(tick != nullptr ? tick : TickCount), main_thread_(::GetCurrentThreadId()) {}

GdiInstallationUi::~GdiInstallationUi() {
  windows_.clear();
}

HWND GdiInstallationUi::Handle(WindowRef window) const {
  if (window == kNoWindow) return nullptr;
  auto it = windows_.find(window);
  return it == windows_.end() ? nullptr : it->second->Handle();
}

template <typename T>
T* GdiInstallationUi::Find(WindowRef window) const {
  // An empty reference is answered without touching the windows: worker
  // threads pass one (their OpenStatusWindow gave nothing).
  if (window == kNoWindow) return nullptr;
  auto it = windows_.find(window);
  return it == windows_.end() ? nullptr : dynamic_cast<T*>(it->second.get());
}

WindowRef GdiInstallationUi::Add(std::unique_ptr<GdiWindow> window) {
  const WindowRef ref = next_ref_++;
  windows_.emplace(ref, std::move(window));
  return ref;
}

template <typename T>
void GdiInstallationUi::Remove(WindowRef& window) {
  if (Find<T>(window) != nullptr) {
    windows_.erase(window);
    if (window == download_window_) download_window_ = kNoWindow;
  }
  window = kNoWindow;
}

WindowRef GdiInstallationUi::ShowConnectingWindow() {
  auto window = std::make_unique<ConnectingWindow>(fonts_);
  window->View().lines[1] = kConnectingText;
  window->Open(nullptr);
  window->Show();
  window->Repaint();
  return Add(std::move(window));
}

void GdiInstallationUi::CloseConnectingWindow(WindowRef& window) {
  Remove<ConnectingWindow>(window);
}

WindowRef GdiInstallationUi::OpenStatusWindow() {
  if (::GetCurrentThreadId() != main_thread_) return kNoWindow;
  auto window = std::make_unique<ConnectingWindow>(fonts_);
  const POINT corner{10, 10};
  window->Open(&corner);
  window->Show();
  window->Repaint();
  return Add(std::move(window));
}

void GdiInstallationUi::PushStatusLine(WindowRef ref, const std::string& text) {
  ConnectingWindow* window = Find<ConnectingWindow>(ref);
  if (window == nullptr) return;
  window->PushLine(text);
  window->Show();
  window->Repaint();
}

WindowRef GdiInstallationUi::OpenDownloadWindow(bool hidden) {
  if (download_window_ != kNoWindow) return download_window_;
  auto window = std::make_unique<DownloadWindow>(fonts_, IsEnglish(), tick_());
  window->Open();
  if (!hidden) window->Show();
  window->Repaint();
  download_window_ = Add(std::move(window));
  return download_window_;
}

void GdiInstallationUi::SetDownloadPhase(WindowRef ref, int phase) {
  DownloadWindow* window = Find<DownloadWindow>(ref);
  if (window == nullptr) return;
  if (phase >= 1 && phase <= 3) window->View().phase = phase;
  window->Repaint();
}

void GdiInstallationUi::UpdateDownloadProgress(WindowRef ref, std::uint64_t bytes_expected,
                                               std::uint64_t bytes_received,
                                               std::uint64_t files_expected,
                                               std::uint64_t files_received) {
  DownloadWindow* window = Find<DownloadWindow>(ref);
  if (window == nullptr) return;
  const DownloadCounts counts{bytes_expected, bytes_received, files_expected, files_received};
  DownloadView& view = window->View();
  view.figures = ComputeDownloadFigures(counts, tick_() - window->StartTick(), IsEnglish());
  if (view.figures.in_progress) view.overall_percent = view.figures.percent;
  window->Repaint();
}

void GdiInstallationUi::UpdateItemProgress(WindowRef ref, std::uint64_t object_size,
                                           std::uint64_t object_received) {
  DownloadWindow* window = Find<DownloadWindow>(ref);
  if (window == nullptr) return;
  window->View().item_percent = CountPercent(object_received, object_size);
  window->Repaint();
}

void GdiInstallationUi::CloseDownloadWindow(WindowRef& window) {
  Remove<DownloadWindow>(window);
}

WindowRef GdiInstallationUi::OpenSearchWindow() {
  auto window = std::make_unique<SearchWindow>(fonts_);
  window->Open();
  return Add(std::move(window));
}

void GdiInstallationUi::ShowSearchWindow(WindowRef ref) {
  SearchWindow* window = Find<SearchWindow>(ref);
  if (window == nullptr) return;
  window->Show();
  window->Repaint();
}

void GdiInstallationUi::SetSearchProgress(WindowRef ref, int percent) {
  SearchWindow* window = Find<SearchWindow>(ref);
  if (window == nullptr) return;
  window->SetPercent(percent);
  window->Repaint();
}

void GdiInstallationUi::CloseSearchWindow(WindowRef& window) {
  Remove<SearchWindow>(window);
}

void GdiInstallationUi::ShowMessageDialog(Colour colour, const std::string& caption,
                                          const std::string& text) {
  RunDialog(colour, caption, text, false);
}

DialogResult GdiInstallationUi::AskQuestionDialog(Colour colour, const std::string& caption,
                                                  const std::string& text) {
  return RunDialog(colour, caption, text, true);
}

DialogResult GdiInstallationUi::RunDialog(Colour colour, const std::string& caption,
                                          const std::string& text, bool question) {
  DialogView view{colour, text, 250};
  if (const HDC screen = ::GetDC(nullptr)) {
    view.width = DialogWidth(screen, fonts_, text);
    ::ReleaseDC(nullptr, screen);
  }
  DialogWindow dialog(fonts_, view, question);
  if (!dialog.Open(caption)) return DialogResult::kNone;

  // Modal: the other windows take no input while the dialog is up.
  std::vector<HWND> disabled;
  for (const auto& [ref, window] : windows_) {
    const HWND handle = window->Handle();
    if (handle != nullptr && ::IsWindowEnabled(handle)) {
      ::EnableWindow(handle, FALSE);
      disabled.push_back(handle);
    }
  }
  dialog.Show();
  ::SetForegroundWindow(dialog.Handle());
  if (dialog.FirstButton() != nullptr) ::SetFocus(dialog.FirstButton());
  MSG message;
  while (dialog.Handle() != nullptr) {
    const BOOL got = ::GetMessageA(&message, nullptr, 0, 0);
    if (got <= 0) {
      if (got == 0) ::PostQuitMessage(static_cast<int>(message.wParam));
      DiagnosticLog(kLogLayer, "dialog \"" + caption + "\" ended without an answer: " +
                                   (got == 0 ? std::string("quit message")
                                             : "error " + std::to_string(::GetLastError())));
      break;
    }
    if (!::IsDialogMessageA(dialog.Handle(), &message)) {
      ::TranslateMessage(&message);
      ::DispatchMessageA(&message);
    }
  }
  for (const HWND handle : disabled)
    ::EnableWindow(handle, TRUE);
  return dialog.Result();
}

void GdiInstallationUi::ProcessMessages() {
  MSG message;
  while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      // Not ours to end: left for whoever asked for it.
      ::PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    ::TranslateMessage(&message);
    ::DispatchMessageA(&message);
  }
}

}  // namespace quorvane
