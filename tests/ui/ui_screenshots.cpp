// Grabs the four installation windows to PNG files in the folder given on the
// command line, as they appear during an installation: the pictures of the docs.
#include <QImage>
#include <QString>
#include <QWidget>

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "settings/settings.h"
#include "ui/qt_ui.h"
#include "ui/qt_windows.h"

namespace {

std::uint32_t g_now = 0;
std::uint32_t Clock() {
  return g_now;
}

bool Save(QWidget* widget, const std::string& path) {
  const bool saved = widget->grab().toImage().save(QString::fromStdString(path));
  if (!saved) std::fprintf(stderr, "ui_screenshots: cannot write %s\n", path.c_str());
  return saved;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace quorvane;
  if (argc != 2) {
    std::fprintf(stderr, "usage: ui_screenshots <folder>\n");
    return 2;
  }
  const std::string folder = std::string(argv[1]) + "/";
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  char settings[] = "/tmp/quorvane-screenshots-XXXXXX";
  const int fd = ::mkstemp(settings);
  if (fd < 0) return 1;
  ::close(fd);
  ::setenv("QUORVANE_SETTINGS", settings, 1);

  bool ok = true;
  {
    QtInstallationUi ui(Clock);
    WindowRef connecting = ui.ShowConnectingWindow();
    ok &= Save(ui.Widget(connecting), folder + "window-connecting.png");
    ui.CloseConnectingWindow(connecting);

    WindowRef search = ui.OpenSearchWindow();
    ui.ShowSearchWindow(search);
    ui.SetSearchProgress(search, 40);
    ok &= Save(ui.Widget(search), folder + "window-search.png");
    ui.CloseSearchWindow(search);

    WriteSetting(kSettingLanguage, kLanguageEnglish);
    WindowRef download = ui.OpenDownloadWindow(false);
    ui.SetDownloadPhase(download, 2);
    g_now += 42'000;
    ui.UpdateDownloadProgress(download, 48'500'000, 17'950'000, 212, 81);
    ui.UpdateItemProgress(download, 2'400'000, 1'680'000);
    ok &= Save(ui.Widget(download), folder + "window-download-en.png");
    ui.CloseDownloadWindow(download);

    WriteSetting(kSettingLanguage, kLanguageFrench);
    download = ui.OpenDownloadWindow(false);
    ui.SetDownloadPhase(download, 3);
    g_now += 95'000;
    ui.UpdateDownloadProgress(download, 48'500'000, 44'100'000, 212, 197);
    ui.UpdateItemProgress(download, 900'000, 210'000);
    ok &= Save(ui.Widget(download), folder + "window-download-fr.png");
    ui.CloseDownloadWindow(download);

    ModalDialog dialog(kColourButtonFace, "Serveur don't answer", "Try again in few minutes.",
                       false);
    dialog.show();
    ok &= Save(&dialog, folder + "window-dialog.png");
  }
  ::unlink(settings);
  return ok ? 0 : 1;
}
