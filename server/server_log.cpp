#include "server_log.h"

#include <chrono>
#include <ctime>
#include <filesystem>
#include <utility>

#include "util/codec.h"

namespace quorvane::server {

ServerLog::~ServerLog() {
  if (file_ != nullptr) std::fclose(file_);
}

bool ServerLog::Open(const std::string& target, std::string* error, std::uintmax_t limit) {
  std::lock_guard guard(mutex_);
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
  path_.clear();
  if (target.empty() || target == "-") return true;
  file_ = std::fopen(target.c_str(), "a");
  if (file_ == nullptr) {
    if (error != nullptr) *error = "cannot open the log file " + target;
    return false;
  }
  std::setvbuf(file_, nullptr, _IOLBF, 0);
  path_ = target;
  limit_ = limit;
  std::error_code ec;
  size_ = std::filesystem::file_size(target, ec);
  if (ec) size_ = 0;
  return true;
}

void ServerLog::Line(std::string_view text) {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t seconds = system_clock::to_time_t(now);
  const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char stamp[96];
  std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<int>(millis));
  std::string line = stamp;
  line.reserve(line.size() + text.size() + 1);
  for (char c : text)
    line += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
  line += '\n';
  std::lock_guard guard(mutex_);
  if (file_ != nullptr && size_ > 0 && size_ + line.size() > limit_) {
    std::fclose(file_);
    std::error_code ec;
    std::filesystem::rename(path_, path_ + ".1", ec);
    file_ = std::fopen(path_.c_str(), "a");
    if (file_ != nullptr) std::setvbuf(file_, nullptr, _IOLBF, 0);
    size_ = 0;
  }
  std::FILE* out = file_ != nullptr ? file_ : stderr;
  std::fwrite(line.data(), 1, line.size(), out);
  size_ += line.size();
  ++lines_;
}

std::size_t ServerLog::LineCount() const {
  std::lock_guard guard(mutex_);
  return lines_;
}

std::string LineThrottle::Pass(const std::string& reason, const std::string& text,
                               Clock::time_point now) {
  auto [it, first] = seen_.try_emplace(reason);
  Seen& seen = it->second;
  if (!first && now - seen.last < std::chrono::seconds(1)) {
    ++seen.held;
    return {};
  }
  seen.last = now;
  const int held = std::exchange(seen.held, 0);
  return held == 0 ? text : text + " (and " + std::to_string(held) + " more like it before)";
}

std::vector<std::string> LineThrottle::Flush() {
  std::vector<std::string> lines;
  for (auto& [reason, seen] : seen_)
    if (seen.held > 0)
      lines.push_back(reason + ": " + std::to_string(std::exchange(seen.held, 0)) +
                      " more not logged");
  return lines;
}

std::string LogSafe(std::string_view cp1252, std::size_t limit) {
  std::string text = Cp1252ToUtf8(cp1252.substr(0, limit));
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
  return text;
}

}  // namespace quorvane::server
