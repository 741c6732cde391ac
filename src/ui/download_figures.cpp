#include "ui/download_figures.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "ui/gauge.h"

namespace quorvane {

namespace {

constexpr double kMillisecondsPerDay = 24.0 * 3600.0 * 1000.0;

// printf's "%8.3f" without the locale: the windows' toolkit switches the
// process to the user's locale, which would turn the point into a comma.
std::string FixedThreeDecimals(double value) {
  char digits[64];
  auto [end, error] =
      std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, 3);
  std::string text = error == std::errc() ? std::string(digits, end) : std::string("0.000");
  if (text.size() < 8) text.insert(0, 8 - text.size(), ' ');
  return text;
}

}  // namespace

std::string FormatTimeOfDay(double milliseconds) {
  double ms = std::fmod(std::round(std::fabs(milliseconds)), kMillisecondsPerDay);
  if (!std::isfinite(ms)) ms = 0;
  const auto total = static_cast<std::uint32_t>(ms);
  const unsigned seconds = total / 1000;
  char text[16];
  std::snprintf(text, sizeof text, "%02u:%02u:%02u", seconds / 3600, seconds / 60 % 60,
                seconds % 60);
  return text;
}

namespace {

std::string FilesText(const DownloadCounts& counts, bool english) {
  return std::to_string(counts.files_received) + (english ? " files of " : " fichiers sur ") +
         std::to_string(counts.files_expected);
}

std::string AmountsText(const DownloadCounts& counts) {
  return std::to_string(counts.bytes_received / 1000) + " ko/" +
         std::to_string(counts.bytes_expected / 1000);
}

}  // namespace

bool IsDownloadFinished(const DownloadCounts& counts) {
  // Files are what the installation counts; bytes only when no file count came
  // (a server may send more bytes than it announced while files are missing).
  if (counts.files_expected > 0) return counts.files_received >= counts.files_expected;
  return counts.bytes_expected > 0 && counts.bytes_received >= counts.bytes_expected;
}

DownloadFigures FinalDownloadFigures(const DownloadCounts& counts, bool english) {
  DownloadFigures figures;
  figures.percent = 100;
  figures.files = FilesText(counts, english);
  figures.amounts = AmountsText(counts);
  return figures;
}

DownloadFigures ComputeDownloadFigures(const DownloadCounts& counts, std::uint32_t elapsed_ms,
                                       bool english) {
  DownloadFigures figures;
  if (!(counts.bytes_received < counts.bytes_expected &&
        counts.files_received < counts.files_expected))
    return figures;

  figures.in_progress = true;
  figures.percent = CountPercent(counts.bytes_received, counts.bytes_expected);

  const std::uint64_t elapsed_seconds = elapsed_ms / 1000;
  const std::uint64_t speed = elapsed_seconds > 0 ? counts.bytes_received / elapsed_seconds : 0;
  figures.speed = FixedThreeDecimals(static_cast<double>(speed) / 1000.0) + "  ko/s";

  figures.amounts = AmountsText(counts);

  double remaining_ms = 0;
  if (speed > 0)
    remaining_ms = static_cast<double>(counts.bytes_expected - counts.bytes_received) * 1000.0 /
                   static_cast<double>(speed);
  figures.remaining_time = (english ? "Time :" : "Temps restant :") + FormatTimeOfDay(remaining_ms);

  figures.files = FilesText(counts, english);
  return figures;
}

}  // namespace quorvane
