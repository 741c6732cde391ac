// The installation windows on a terminal, for machines without a display or
// with QUORVANE_UI=console: the connecting state, the phases, an overall and an
// item bar with percent and figures, the search bar, messages and questions.
// On a terminal the bars are redrawn in place; otherwise each change worth
// telling becomes one plain line. Main thread only.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "ui/download_figures.h"
#include "ui/installation_ui.h"

namespace quorvane {

struct ConsoleStreams {
  std::FILE* out = stderr;
  bool out_is_terminal = false;
  std::FILE* in = stdin;
  bool in_is_terminal = false;
  int columns = 80;  // live lines are cut to this, so they never wrap
};

// stderr for output, stdin for answers, each checked with isatty.
ConsoleStreams StandardConsoleStreams();

class ConsoleUi : public InstallationUi {
 public:
  // The constructing thread counts as the main thread.
  explicit ConsoleUi(ConsoleStreams streams = StandardConsoleStreams(), TickSource tick = nullptr);
  ~ConsoleUi() override;

  WindowRef ShowConnectingWindow() override;
  void CloseConnectingWindow(WindowRef& window) override;
  WindowRef OpenStatusWindow() override;
  void PushStatusLine(WindowRef window, const std::string& text) override;
  WindowRef OpenDownloadWindow(bool hidden) override;
  void SetDownloadPhase(WindowRef window, int phase) override;
  void UpdateDownloadProgress(WindowRef window, std::uint64_t bytes_expected,
                              std::uint64_t bytes_received, std::uint64_t files_expected,
                              std::uint64_t files_received) override;
  void UpdateItemProgress(WindowRef window, std::uint64_t object_size,
                          std::uint64_t object_received) override;
  void CloseDownloadWindow(WindowRef& window) override;
  WindowRef OpenSearchWindow() override;
  void ShowSearchWindow(WindowRef window) override;
  void SetSearchProgress(WindowRef window, int percent) override;
  void CloseSearchWindow(WindowRef& window) override;
  void ShowMessageDialog(Colour colour, const std::string& caption,
                         const std::string& text) override;
  DialogResult AskQuestionDialog(Colour colour, const std::string& caption,
                                 const std::string& text) override;
  void ProcessMessages() override;

 private:
  enum class Kind { kConnecting, kDownload, kSearch };
  struct Window {
    Kind kind = Kind::kConnecting;
    bool visible = false;
    std::string lines[3];  // connecting window: top, middle, bottom
    // Download window.
    bool english = false;
    int phase = 1;  // phases are announced when they change
    std::uint32_t start_tick = 0;
    int overall_percent = 0;
    DownloadFigures figures;
    int item_percent = 0;
    // Search window.
    int search_percent = 0;
    // What plain-line output last reported, to print only changes.
    std::string last_plain;
    int last_item_decile = -1;
  };

  Window* Find(WindowRef window, Kind kind);
  WindowRef Add(Window window);
  void Remove(WindowRef& window, Kind kind);
  // Prints a lasting line above the live area.
  void PrintLine(const std::string& cp1252);
  // Redraws the live area: one or two lines per visible window.
  void Redraw();
  std::vector<std::string> LiveLines() const;
  void ClearLive();
  void PrintDownloadPlain(Window& window, bool force);

  ConsoleStreams streams_;
  TickSource tick_;
  std::thread::id main_thread_;
  std::map<WindowRef, Window> windows_;
  WindowRef next_ref_ = 1;
  WindowRef download_window_ = kNoWindow;
  int live_lines_ = 0;
};

// "[#######-------------]" of the given inner width.
std::string TextBar(int percent, int width);

}  // namespace quorvane
