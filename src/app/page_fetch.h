// Fetching one web page for server discovery, the way an embedded browser would
// load it: libcurl's multi interface polled between window-message pumps, an
// inactivity limit that any byte or connection event restarts, an overall
// deadline and a cap on the page size. Main thread; one fetch at a time per call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace quorvane {

struct PageFetchLimits {
  std::uint32_t inactivity_ms = 10000;  // since the last byte or connection event
  std::uint32_t overall_ms = 60000;     // whatever the activity
  std::size_t max_bytes = 1024 * 1024;  // the body is cut here and the transfer ended
  std::uint32_t poll_ms = 500;          // longest wait between two pumps
};

struct FetchedPage {
  bool complete = false;     // the transfer ended without error (or at the size cap)
  long http_status = 0;      // 0 when no answer came
  std::string content_type;  // the Content-Type header, as sent
  std::string body;          // at most max_bytes
  std::string failure;       // why it is not complete, for the diagnostic log
};

// Called after every poll with the milliseconds since the last activity; the
// caller pumps its window messages and draws its gauge there.
using PagePollHook = std::function<void(std::uint32_t idle_ms)>;

// Only http and https URLs are followed (redirects too, at most 5).
FetchedPage FetchPage(const std::string& url, const PageFetchLimits& limits,
                      const PagePollHook& on_poll);

}  // namespace quorvane
