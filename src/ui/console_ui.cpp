#include "ui/console_ui.h"

#include <algorithm>
#include <cstring>

#include "settings/settings.h"
#include "ui/gauge.h"
#include "ui/window_texts.h"
#include "util/codec.h"
#include "util/text.h"
#include "util/tick.h"

namespace quorvane {

namespace {

constexpr int kBarWidth = 20;

std::string Percent(int percent) {
  std::string text = std::to_string(percent) + "%";
  return std::string(4 - std::min<std::size_t>(text.size(), 4), ' ') + text;
}

// Most telling first: a narrow terminal cuts the end of the line.
std::string FiguresText(const DownloadFigures& figures) {
  std::string text;
  for (const std::string* part :
       {&figures.files, &figures.amounts, &figures.remaining_time, &figures.speed}) {
    if (!part->empty()) text += "  " + Trim(*part);
  }
  return text;
}

// Texts may come from the server: an escape sequence must not reach the
// terminal, and a line break would spoil the redraw of the live lines. The
// five bytes Windows-1252 leaves undefined decode to C1 controls, so they go too.
std::string TerminalText(const std::string& cp1252) {
  std::string safe = cp1252;
  for (char& c : safe) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || byte == 0x81 || byte == 0x8D || byte == 0x8F ||
        byte == 0x90 || byte == 0x9D)
      c = ' ';
  }
  return Cp1252ToUtf8(safe);
}

}  // namespace

std::string TextBar(int percent, int width) {
  const int filled = width * std::clamp(percent, 0, 100) / 100;
  return "[" + std::string(filled, '#') + std::string(width - filled, '-') + "]";
}

ConsoleUi::ConsoleUi(ConsoleStreams streams, TickSource tick)
    : streams_(streams),
      tick_(tick != nullptr ? tick : TickCount),
      main_thread_(std::this_thread::get_id()) {}

ConsoleUi::~ConsoleUi() {
  // Leave the cursor below whatever is still drawn.
  if (live_lines_ > 0 && streams_.out_is_terminal) std::fputs("\n", streams_.out);
  std::fflush(streams_.out);
}

ConsoleUi::Window* ConsoleUi::Find(WindowRef window, Kind kind) {
  // An empty reference is answered without touching the windows: worker
  // threads pass one (their OpenStatusWindow gave nothing).
  if (window == kNoWindow) return nullptr;
  auto it = windows_.find(window);
  return it != windows_.end() && it->second.kind == kind ? &it->second : nullptr;
}

WindowRef ConsoleUi::Add(Window window) {
  const WindowRef ref = next_ref_++;
  windows_.emplace(ref, std::move(window));
  return ref;
}

void ConsoleUi::Remove(WindowRef& window, Kind kind) {
  if (Find(window, kind) != nullptr) {
    windows_.erase(window);
    if (window == download_window_) download_window_ = kNoWindow;
    Redraw();
  }
  window = kNoWindow;
}

void ConsoleUi::ClearLive() {
  if (!streams_.out_is_terminal || live_lines_ == 0) return;
  std::fputs("\r", streams_.out);
  if (live_lines_ > 1) std::fprintf(streams_.out, "\x1b[%dA", live_lines_ - 1);
  std::fputs("\x1b[J", streams_.out);
  live_lines_ = 0;
}

void ConsoleUi::PrintLine(const std::string& cp1252) {
  ClearLive();
  std::fputs(TerminalText(cp1252).c_str(), streams_.out);
  std::fputs("\n", streams_.out);
  Redraw();
}

std::vector<std::string> ConsoleUi::LiveLines() const {
  std::vector<std::string> lines;
  for (const auto& [ref, window] : windows_) {
    if (!window.visible) continue;
    switch (window.kind) {
      case Kind::kConnecting: {
        std::string text;
        for (const std::string& line : window.lines) {
          if (line.empty()) continue;
          if (!text.empty()) text += " | ";
          text += line;
        }
        if (!text.empty()) lines.push_back(text);
        break;
      }
      case Kind::kSearch:
        lines.push_back(std::string(kSearchMessage) + TextBar(window.search_percent, kBarWidth));
        break;
      case Kind::kDownload: {
        lines.push_back("Total " + TextBar(window.overall_percent, kBarWidth) + " " +
                        Percent(window.overall_percent) + FiguresText(window.figures));
        lines.push_back("File  " + TextBar(window.item_percent, kBarWidth) + " " +
                        Percent(window.item_percent));
        break;
      }
    }
  }
  return lines;
}

void ConsoleUi::Redraw() {
  if (!streams_.out_is_terminal) return;
  ClearLive();
  const std::vector<std::string> lines = LiveLines();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i > 0) std::fputs("\n", streams_.out);
    const std::size_t room = static_cast<std::size_t>(std::max(streams_.columns - 1, 1));
    std::fputs(TerminalText(lines[i].substr(0, room)).c_str(), streams_.out);
  }
  live_lines_ = static_cast<int>(lines.size());
  std::fflush(streams_.out);
}

WindowRef ConsoleUi::ShowConnectingWindow() {
  Window window;
  window.kind = Kind::kConnecting;
  window.visible = true;
  window.lines[1] = kConnectingText;
  const WindowRef ref = Add(window);
  if (streams_.out_is_terminal)
    Redraw();
  else
    PrintLine(kConnectingText);
  return ref;
}

void ConsoleUi::CloseConnectingWindow(WindowRef& window) {
  Remove(window, Kind::kConnecting);
}

WindowRef ConsoleUi::OpenStatusWindow() {
  if (std::this_thread::get_id() != main_thread_) return kNoWindow;
  Window window;
  window.kind = Kind::kConnecting;
  window.visible = true;
  return Add(window);
}

void ConsoleUi::PushStatusLine(WindowRef ref, const std::string& text) {
  Window* window = Find(ref, Kind::kConnecting);
  if (window == nullptr) return;
  window->lines[0] = window->lines[1];
  window->lines[1] = window->lines[2];
  window->lines[2] = text;
  // Each status line is worth keeping in the scrollback.
  PrintLine(text);
}

WindowRef ConsoleUi::OpenDownloadWindow(bool hidden) {
  if (download_window_ != kNoWindow) return download_window_;
  Window window;
  window.kind = Kind::kDownload;
  window.visible = !hidden;
  window.english = IsEnglish();
  window.start_tick = tick_();
  download_window_ = Add(window);
  if (!hidden) {
    const DownloadWindowTexts texts = DownloadTexts(window.english);
    PrintLine(texts.caption + ": " + texts.title_explain);
    PrintLine("[1/3] " + texts.phases[0]);
  }
  return download_window_;
}

void ConsoleUi::SetDownloadPhase(WindowRef ref, int phase) {
  Window* window = Find(ref, Kind::kDownload);
  if (window == nullptr || phase < 1 || phase > 3 || phase == window->phase) return;
  window->phase = phase;
  if (!window->visible) return;
  const DownloadWindowTexts texts = DownloadTexts(window->english);
  PrintLine("[" + std::to_string(phase) + "/3] " + texts.phases[phase - 1]);
}

void ConsoleUi::PrintDownloadPlain(Window& window, bool force) {
  const std::string line = "Total " + Percent(window.overall_percent) + FiguresText(window.figures);
  // Speed and time change with every call; a line is worth printing when the
  // percent or the file count moves.
  const std::string key = std::to_string(window.overall_percent) + "/" + window.figures.files;
  if (!force && key == window.last_plain) return;
  window.last_plain = key;
  PrintLine(line);
}

void ConsoleUi::UpdateDownloadProgress(WindowRef ref, std::uint64_t bytes_expected,
                                       std::uint64_t bytes_received, std::uint64_t files_expected,
                                       std::uint64_t files_received) {
  Window* window = Find(ref, Kind::kDownload);
  if (window == nullptr) return;
  const DownloadCounts counts{bytes_expected, bytes_received, files_expected, files_received};
  window->figures = ComputeDownloadFigures(counts, tick_() - window->start_tick, IsEnglish());
  if (window->figures.in_progress) window->overall_percent = window->figures.percent;
  // The window's labels go blank once everything has arrived; on the terminal
  // the last line stays in view, so it tells the end: 100% and the totals.
  const bool finished = !window->figures.in_progress && IsDownloadFinished(counts);
  if (finished) {
    window->overall_percent = 100;
    window->figures = FinalDownloadFigures(counts, IsEnglish());
  }
  if (!window->visible) return;
  if (streams_.out_is_terminal)
    Redraw();
  else
    PrintDownloadPlain(*window, false);
}

void ConsoleUi::UpdateItemProgress(WindowRef ref, std::uint64_t object_size,
                                   std::uint64_t object_received) {
  Window* window = Find(ref, Kind::kDownload);
  if (window == nullptr) return;
  window->item_percent = CountPercent(object_received, object_size);
  if (!window->visible) return;
  if (streams_.out_is_terminal) {
    Redraw();
    return;
  }
  // Between two objects nothing arrives: no line, and the next object starts
  // its own count rather than reading as a fall from 100% to 0%.
  if (object_size == 0) {
    window->last_item_decile = -1;
    return;
  }
  const int decile = window->item_percent / 10;
  if (decile == window->last_item_decile) return;
  window->last_item_decile = decile;
  PrintLine("File  " + Percent(window->item_percent));
}

void ConsoleUi::CloseDownloadWindow(WindowRef& window) {
  Remove(window, Kind::kDownload);
}

WindowRef ConsoleUi::OpenSearchWindow() {
  Window window;
  window.kind = Kind::kSearch;
  return Add(window);
}

void ConsoleUi::ShowSearchWindow(WindowRef ref) {
  Window* window = Find(ref, Kind::kSearch);
  if (window == nullptr || window->visible) return;
  window->visible = true;
  if (streams_.out_is_terminal)
    Redraw();
  else
    PrintLine(std::string(kSearchCaption) + " ...");
}

void ConsoleUi::SetSearchProgress(WindowRef ref, int percent) {
  Window* window = Find(ref, Kind::kSearch);
  if (window == nullptr) return;
  window->search_percent = std::clamp(percent, 0, 100);
  if (window->visible) Redraw();
}

void ConsoleUi::CloseSearchWindow(WindowRef& window) {
  Remove(window, Kind::kSearch);
}

void ConsoleUi::ShowMessageDialog(Colour, const std::string& caption, const std::string& text) {
  PrintLine(caption + ": " + text);
}

DialogResult ConsoleUi::AskQuestionDialog(Colour, const std::string& caption,
                                          const std::string& text) {
  const std::string prompt = caption + ": " + text + " [y/n] ";
  if (!streams_.in_is_terminal) {
    PrintLine(prompt + "n (no terminal to answer)");
    return DialogResult::kNo;
  }
  ClearLive();
  std::fputs(TerminalText(prompt).c_str(), streams_.out);
  std::fflush(streams_.out);
  char answer[64];
  if (std::fgets(answer, sizeof answer, streams_.in) == nullptr) {
    std::fputs("\n", streams_.out);
    Redraw();
    return DialogResult::kNone;
  }
  Redraw();
  const std::string word = LowerCase(Trim(answer));
  return word == "y" || word == "yes" || word == "o" || word == "oui" ? DialogResult::kYes
                                                                      : DialogResult::kNo;
}

void ConsoleUi::ProcessMessages() {
  std::fflush(streams_.out);
}

}  // namespace quorvane
