// The GDI backend's windows as the program drives them. With a display (Wine
// under xvfb-run) the dialog is answered by pressing its buttons from another
// thread; without one no window can be made, and nothing may wait for a click.
#include "ui/gdi_ui_win32.h"

#include <gtest/gtest.h>

#include <thread>

namespace quorvane {
namespace {

struct DialogCase {
  bool question;
  int button;  // 0: closed without a button
  DialogResult expected;
};

TEST(GdiInstallationUi, DialogAnswersByItsButtons) {
  GdiInstallationUi ui;
  WindowRef probe = ui.ShowConnectingWindow();
  const bool windows = ui.Handle(probe) != nullptr;
  ui.CloseConnectingWindow(probe);
  const DialogCase cases[] = {{false, IDOK, DialogResult::kOk},
                              {true, IDYES, DialogResult::kYes},
                              {true, IDNO, DialogResult::kNo},
                              {true, 0, DialogResult::kNone}};
  for (const DialogCase& c : cases) {
    SCOPED_TRACE(c.button);
    std::thread presser([&c, windows] {
      HWND dialog = nullptr;
      for (int wait = 0; windows && dialog == nullptr && wait < 1000; ++wait) {
        ::Sleep(10);
        dialog = ::FindWindowA(kGdiDialogClass, "Caption");
      }
      if (dialog == nullptr) return;
      if (c.button == 0)
        ::PostMessageA(dialog, WM_CLOSE, 0, 0);
      else
        ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(c.button, BN_CLICKED),
                       reinterpret_cast<LPARAM>(::GetDlgItem(dialog, c.button)));
    });
    DialogResult result = DialogResult::kNone;
    if (c.question)
      result = ui.AskQuestionDialog(kColourButtonFace, "Caption", "Text");
    else
      ui.ShowMessageDialog(kColourButtonFace, "Caption", "Text");
    presser.join();
    EXPECT_EQ(::FindWindowA(kGdiDialogClass, "Caption"), nullptr);
    EXPECT_EQ(result, c.question && windows ? c.expected : DialogResult::kNone);
  }
}

TEST(GdiInstallationUi, DownloadWindowHiddenOrShownAndNotClosedByItsCloseBox) {
  GdiInstallationUi ui;
  for (const bool hidden : {true, false}) {
    WindowRef window = ui.OpenDownloadWindow(hidden);
    const HWND handle = ui.Handle(window);
    if (handle == nullptr) GTEST_SKIP() << "no display: no window can be made";
    EXPECT_EQ(::IsWindowVisible(handle) != FALSE, !hidden);
    ::PostMessageA(handle, WM_CLOSE, 0, 0);
    ui.ProcessMessages();
    EXPECT_TRUE(::IsWindow(handle));
    ui.CloseDownloadWindow(window);
    EXPECT_FALSE(::IsWindow(handle));
  }
}

TEST(GdiInstallationUi, StatusWindowOnlyOnTheMainThread) {
  GdiInstallationUi ui;
  WindowRef from_worker = 1;
  std::thread([&] { from_worker = ui.OpenStatusWindow(); }).join();
  EXPECT_EQ(from_worker, kNoWindow);
}

}  // namespace
}  // namespace quorvane
