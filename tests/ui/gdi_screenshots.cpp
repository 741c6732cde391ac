// Shows the GDI windows one after the other, as they appear during an
// installation, for scripts/windows-screenshots: for each it prints
// "<name> <x> <y> <width> <height>" (the window on the screen) and keeps it up,
// pumping, until the file <folder>\<name>.done appears (30 s at most).
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>

#include "settings/settings.h"
#include "ui/gdi_ui_win32.h"

namespace {

using namespace quorvane;

std::uint32_t g_now = 0;
std::uint32_t Clock() {
  return g_now;
}

// Waits for `find` to give the window, tells where it is, waits for the
// script's word, then runs `dismiss`. Never more than 30 s in all.
void Capture(const std::string& folder, const char* name, const std::function<HWND()>& find,
             const std::function<void(HWND)>& dismiss) {
  const std::string done = folder + name + ".done";
  HWND window = nullptr;
  for (int wait = 0; wait < 600; ++wait) {
    if (window == nullptr && (window = find()) != nullptr) {
      ::Sleep(500);  // let it be drawn on the display
      RECT rect;
      ::GetWindowRect(window, &rect);
      std::printf("%s %ld %ld %ld %ld\n", name, rect.left, rect.top, rect.right - rect.left,
                  rect.bottom - rect.top);
      std::fflush(stdout);
    }
    if (window != nullptr && ::GetFileAttributesA(done.c_str()) != INVALID_FILE_ATTRIBUTES) break;
    ::Sleep(50);
  }
  dismiss(window);
}

// A modeless window: the main thread pumps while another one waits.
void Hold(GdiInstallationUi& ui, const std::string& folder, const char* name, WindowRef ref) {
  std::atomic<bool> done = false;
  const HWND handle = ui.Handle(ref);
  std::thread waiter(
      Capture, folder, name, [handle] { return handle; }, [&done](HWND) { done = true; });
  while (!done) {
    ui.ProcessMessages();
    ::Sleep(20);
  }
  waiter.join();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: gdi_screenshots <folder>\\\n");
    return 2;
  }
  const std::string folder = argv[1];
  GdiInstallationUi ui(Clock);

  WindowRef connecting = ui.ShowConnectingWindow();
  Hold(ui, folder, "connecting", connecting);
  ui.CloseConnectingWindow(connecting);

  WindowRef search = ui.OpenSearchWindow();
  ui.ShowSearchWindow(search);
  ui.SetSearchProgress(search, 40);
  Hold(ui, folder, "search", search);
  ui.CloseSearchWindow(search);

  WriteSetting(kSettingLanguage, kLanguageEnglish);
  WindowRef download = ui.OpenDownloadWindow(false);
  ui.SetDownloadPhase(download, 2);
  g_now += 42'000;
  ui.UpdateDownloadProgress(download, 48'500'000, 17'950'000, 212, 81);
  ui.UpdateItemProgress(download, 2'400'000, 1'680'000);
  Hold(ui, folder, "download-en", download);
  ui.CloseDownloadWindow(download);

  WriteSetting(kSettingLanguage, kLanguageFrench);
  download = ui.OpenDownloadWindow(false);
  ui.SetDownloadPhase(download, 3);
  g_now += 95'000;
  ui.UpdateDownloadProgress(download, 48'500'000, 44'100'000, 212, 197);
  ui.UpdateItemProgress(download, 900'000, 210'000);
  Hold(ui, folder, "download-fr", download);
  ui.CloseDownloadWindow(download);

  // The dialog runs its own loop; the waiter presses Ok for the script.
  std::thread waiter(
      Capture, folder, "dialog", [] { return ::FindWindowA(kGdiDialogClass, nullptr); },
      [](HWND dialog) { ::PostMessageA(dialog, WM_COMMAND, IDOK, 0); });
  ui.ShowMessageDialog(kColourButtonFace, "Serveur don't answer", "Try again in few minutes.");
  waiter.join();
  return 0;
}
