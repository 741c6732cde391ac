// Drives the console windows the way an installation does, on the real stderr,
// so tests can watch them under a pseudo-terminal and redirected to a file.
#include <cstdio>

#include "ui/console_ui.h"

int main() {
  quorvane::ConsoleUi ui;
  quorvane::WindowRef connecting = ui.ShowConnectingWindow();
  ui.CloseConnectingWindow(connecting);
  quorvane::WindowRef download = ui.OpenDownloadWindow(false);
  for (int phase = 1; phase <= 3; ++phase) {
    ui.SetDownloadPhase(download, phase);
    for (int file = 0; file < 4; ++file) {
      ui.UpdateItemProgress(download, 100, 100);
      ui.UpdateDownloadProgress(download, 4000, 1000 * file, 4, file);
    }
  }
  ui.UpdateDownloadProgress(download, 4000, 4000, 4, 4);
  ui.CloseDownloadWindow(download);
  const auto answer = ui.AskQuestionDialog(quorvane::kColourButtonFace, "Question", "Continuer ?");
  std::fprintf(stderr, "answer=%s\n", answer == quorvane::DialogResult::kYes ? "yes" : "no");
  return 0;
}
