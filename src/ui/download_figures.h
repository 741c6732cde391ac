// The download window's transfer figures (speed, amounts, remaining time, file
// counts) and the overall percent, computed once for every backend. Pure
// functions, safe from any thread.
#pragma once

#include <cstdint>
#include <string>

namespace quorvane {

// Counters as the installation loop keeps them. Compared as unsigned numbers,
// so a negative count handed over by mistake reads as huge, never as less.
struct DownloadCounts {
  std::uint64_t bytes_expected = 0;
  std::uint64_t bytes_received = 0;
  std::uint64_t files_expected = 0;
  std::uint64_t files_received = 0;
};

struct DownloadFigures {
  // False once nothing is expected any more, or everything has arrived: the
  // labels are then empty and the overall gauge keeps its last drawing.
  bool in_progress = false;
  int percent = 0;
  std::string speed;           // "%8.3f " then " ko/s"
  std::string remaining_time;  // "Time :hh:nn:ss" / "Temps restant :hh:nn:ss"
  std::string amounts;         // "1234 ko/56789"
  std::string files;           // "3 files of 10" / "3 fichiers sur 10"
};

// The millisecond clock a download window measures its speed with (TickCount
// unless a test gives its own).
using TickSource = std::uint32_t (*)();

// elapsed_ms: milliseconds since the window opened (a wrapped tick difference).
DownloadFigures ComputeDownloadFigures(const DownloadCounts& counts, std::uint32_t elapsed_ms,
                                       bool english);

// Something was expected and all of it has arrived: every file, or, when no
// file count was announced, every byte.
bool IsDownloadFinished(const DownloadCounts& counts);

// The figures that close a finished download: 100%, the files and the amounts
// received of those expected; no speed and no remaining time.
DownloadFigures FinalDownloadFigures(const DownloadCounts& counts, bool english);

// hh:nn:ss of a duration in milliseconds, rounded to the millisecond as a
// time of day is and wrapping at 24 hours.
std::string FormatTimeOfDay(double milliseconds);

}  // namespace quorvane
