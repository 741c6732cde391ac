// The server's log: one line per connection event (accepted, identified, asked,
// sent, closed and why) or package event, each with the UTC time, written to
// stderr or to a file. A file that reaches its size limit is renamed to
// "<file>.1" (replacing the previous one) and started again. Safe from any
// thread; a line that cannot be written is dropped, never an error for the caller.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane::server {

class ServerLog {
 public:
  ServerLog() = default;
  ~ServerLog();
  ServerLog(const ServerLog&) = delete;
  ServerLog& operator=(const ServerLog&) = delete;

  // "-" or "" writes to stderr; anything else is a file opened for appending.
  // False (and `error` set) when the file cannot be opened.
  bool Open(const std::string& target, std::string* error,
            std::uintmax_t limit = std::uintmax_t{64} << 20);

  // One line: "<UTC time> <text>". Control characters in `text` become blanks.
  void Line(std::string_view text);

  // Lines written so far (for the summary at exit and for tests).
  std::size_t LineCount() const;

 private:
  mutable std::mutex mutex_;
  std::FILE* file_ = nullptr;  // null: stderr
  std::string path_;
  std::uintmax_t limit_ = 0;
  std::uintmax_t size_ = 0;
  std::size_t lines_ = 0;
};

// Lines that one connection may repeat at the peer's will: at most one per
// reason and second. The lines held back are counted in the next one of their
// reason, or in Flush. Not thread-safe: one per connection, used on its strand.
class LineThrottle {
 public:
  using Clock = std::chrono::steady_clock;
  // The line to write now for `text`, or empty when it is held back.
  std::string Pass(const std::string& reason, const std::string& text,
                   Clock::time_point now = Clock::now());
  // One line per reason whose lines are still held back.
  std::vector<std::string> Flush();

 private:
  struct Seen {
    Clock::time_point last;
    int held = 0;
  };
  std::map<std::string, Seen> seen_;
};

// Client-supplied text made fit for one log line: Windows-1252 turned into
// UTF-8, control characters into blanks, cut to `limit` bytes.
std::string LogSafe(std::string_view cp1252, std::size_t limit = 160);

}  // namespace quorvane::server
