#include "util/diagnostic_log.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <mutex>

#include "util/debug_output.h"

namespace quorvane {
namespace {

std::mutex log_mutex;
std::string log_path;  // guarded by log_mutex

int ThreadNumber() {
  static std::atomic<int> next{1};
  thread_local const int number = next.fetch_add(1);
  return number;
}

std::string UtcTimestamp() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm utc{};
#ifdef _WIN32
  gmtime_s(&utc, &seconds);
#else
  gmtime_r(&seconds, &utc);
#endif
  char text[32];
  const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  char with_millis[48];
  std::snprintf(with_millis, sizeof with_millis, "%.*s.%03dZ", static_cast<int>(length), text,
                static_cast<int>(millis));
  return with_millis;
}

// Moves the log aside when the new line would take it past the limit.
void RotateIfFull(const std::string& path, std::size_t incoming) {
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (error || size + incoming <= kDiagnosticLogLimit) return;
  std::filesystem::rename(path, path + ".1", error);
}

}  // namespace

void SetDiagnosticLogFile(std::string native_path) {
  const std::lock_guard lock(log_mutex);
  log_path = std::move(native_path);
}

bool IsDiagnosticLogFile(const std::string& native_path) {
  namespace fs = std::filesystem;
  const fs::path path = fs::path(native_path).lexically_normal();
  const std::lock_guard lock(log_mutex);
  return !log_path.empty() && (path == fs::path(log_path).lexically_normal() ||
                               path == fs::path(log_path + ".1").lexically_normal());
}

void DiagnosticLog(std::string_view layer, std::string_view text) {
  std::string line = UtcTimestamp() + " [" + std::to_string(ThreadNumber()) + "] ";
  line.append(layer);
  line += ": ";
  for (const char c : text)
    line += (c == '\n' || c == '\r') ? ' ' : c;
  DebugOutput(line);
  line = TextFileLine(line) + '\n';

  const std::lock_guard lock(log_mutex);
  if (log_path.empty()) return;
  RotateIfFull(log_path, line.size());
  std::error_code error;
  // A link planted in the log's place would carry every line to a file elsewhere.
  if (std::filesystem::is_symlink(std::filesystem::symlink_status(log_path, error))) return;
  std::filesystem::create_directories(std::filesystem::path(log_path).parent_path(), error);
  std::FILE* file = std::fopen(log_path.c_str(), "ab");
  if (file == nullptr) return;
  std::fwrite(line.data(), 1, line.size(), file);
  std::fclose(file);
}

}  // namespace quorvane
