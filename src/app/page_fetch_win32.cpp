// The page fetch on Windows with WinINet. Its calls block, so a worker thread
// makes them and marks every byte as activity, while the calling (main) thread
// keeps the limits and calls the poll hook at least every poll_ms. A fetch that
// runs over a limit is cancelled by closing its WinINet handle, which WinINet
// documents as the way to unblock a call of another thread.
#include <windows.h>
// After windows.h, which must come first.
#include <wininet.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "app/page_fetch.h"
#include "util/text.h"
#include "util/tick.h"

namespace quorvane {
namespace {

struct Transfer {
  const PageFetchLimits* limits = nullptr;
  std::atomic<std::uint32_t> last_activity{0};
  std::mutex mutex;
  std::condition_variable finished_signal;
  bool finished = false;
  bool cancelled = false;
  HINTERNET session = nullptr;
  HINTERNET request = nullptr;
  FetchedPage page;  // written by the worker until finished

  void Touch() { last_activity.store(TickCount()); }
};

std::string LastErrorText(const char* call) {
  return std::string(call) + " failed with error " + std::to_string(::GetLastError());
}

// The worker: open the URL, read the answer into the page within the size cap.
void Fetch(Transfer& transfer, const std::string& url) {
  FetchedPage page;
  const HINTERNET request = ::InternetOpenUrlA(transfer.session, url.c_str(), nullptr, 0,
                                               INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_RELOAD |
                                                   INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_COOKIES,
                                               0);
  std::unique_lock lock(transfer.mutex);
  if (request == nullptr || transfer.cancelled) {
    if (request != nullptr) ::InternetCloseHandle(request);
    if (request == nullptr && !transfer.cancelled) page.failure = LastErrorText("InternetOpenUrl");
  } else {
    transfer.request = request;
    transfer.Touch();
    lock.unlock();
    DWORD status = 0;
    DWORD size = sizeof status;
    if (::HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                         nullptr))
      page.http_status = static_cast<long>(status);
    char type[512] = {};
    size = sizeof type - 1;
    if (::HttpQueryInfoA(request, HTTP_QUERY_CONTENT_TYPE, type, &size, nullptr))
      page.content_type.assign(type, size);
    std::vector<char> block(16 * 1024);
    for (;;) {
      const std::size_t room = transfer.limits->max_bytes - page.body.size();
      if (room == 0) {  // the title is in the head: the rest is never read
        page.complete = true;
        break;
      }
      DWORD got = 0;
      const DWORD ask = static_cast<DWORD>(std::min(room, block.size()));
      if (!::InternetReadFile(request, block.data(), ask, &got)) {
        page.failure = LastErrorText("InternetReadFile");
        break;
      }
      if (got == 0) {
        page.complete = true;
        break;
      }
      transfer.Touch();
      page.body.append(block.data(), got);
    }
    lock.lock();
    if (!transfer.cancelled) ::InternetCloseHandle(request);
    transfer.request = nullptr;
  }
  if (!transfer.cancelled) transfer.page = std::move(page);
  transfer.finished = true;
  transfer.finished_signal.notify_all();
}

bool IsWebUrl(const std::string& url) {
  const std::string lower = LowerCase(url);
  return lower.rfind("http://", 0) == 0 || lower.rfind("https://", 0) == 0;
}

}  // namespace

FetchedPage FetchPage(const std::string& url, const PageFetchLimits& limits,
                      const PagePollHook& on_poll) {
  Transfer transfer;
  transfer.limits = &limits;
  if (!IsWebUrl(url)) {
    transfer.page.failure = "only http and https pages are fetched";
    return transfer.page;
  }
  transfer.session =
      ::InternetOpenA("Quorvane Setup", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (transfer.session == nullptr) {
    transfer.page.failure = LastErrorText("InternetOpen");
    return transfer.page;
  }
  // A backstop for the system's own waits; the limits below end the fetch first.
  DWORD overall = limits.overall_ms;
  ::InternetSetOptionA(transfer.session, INTERNET_OPTION_CONNECT_TIMEOUT, &overall, sizeof overall);
  ::InternetSetOptionA(transfer.session, INTERNET_OPTION_RECEIVE_TIMEOUT, &overall, sizeof overall);

  const std::uint32_t start = TickCount();
  transfer.last_activity.store(start);
  std::thread worker([&] { Fetch(transfer, url); });
  std::string failure;
  {
    std::unique_lock lock(transfer.mutex);
    while (!transfer.finished) {
      // Unsigned differences: the tick count wraps at 32 bits.
      const std::uint32_t now = TickCount();
      const std::uint32_t idle = now - transfer.last_activity.load();
      const std::uint32_t elapsed = now - start;
      if (on_poll) {
        lock.unlock();
        on_poll(std::min(idle, limits.inactivity_ms));
        lock.lock();
        if (transfer.finished) break;
      }
      if (idle >= limits.inactivity_ms) {
        failure = "no activity for " + std::to_string(limits.inactivity_ms) + " ms";
      } else if (elapsed >= limits.overall_ms) {
        failure = "not loaded within " + std::to_string(limits.overall_ms) + " ms";
      }
      if (!failure.empty()) {
        transfer.cancelled = true;
        ::InternetCloseHandle(transfer.request != nullptr ? transfer.request : transfer.session);
        if (transfer.request == nullptr) transfer.session = nullptr;
        break;
      }
      const std::uint32_t wait =
          std::min({limits.poll_ms, limits.inactivity_ms - idle, limits.overall_ms - elapsed});
      transfer.finished_signal.wait_for(
          lock, std::chrono::milliseconds(std::max<std::uint32_t>(wait, 1)));
    }
  }
  worker.join();
  if (transfer.session != nullptr) ::InternetCloseHandle(transfer.session);
  if (!failure.empty()) {
    transfer.page.complete = false;
    transfer.page.failure = failure;
  }
  return transfer.page;
}

}  // namespace quorvane
