// The server's log: one line per connection event (accepted, identified, asked,
// sent, closed and why) or package event, each with the UTC time, written to
// stderr or to a file. A file that reaches its size limit is renamed to
// "<file>.1" (replacing the previous one) and started again. Safe from any
// thread; a line that cannot be written is dropped, never an error for the caller.
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

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

// Client-supplied text made fit for one log line: Windows-1252 turned into
// UTF-8, control characters into blanks, cut to `limit` bytes.
std::string LogSafe(std::string_view cp1252, std::size_t limit = 160);

}  // namespace quorvane::server
