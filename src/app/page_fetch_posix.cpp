#include "app/page_fetch.h"

#include <curl/curl.h>

#include <algorithm>
#include <memory>
#include <mutex>

#include "util/tick.h"

namespace quorvane {
namespace {

void InitialiseCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// State shared with libcurl's callbacks, all called from curl_multi_perform on
// this thread.
struct Transfer {
  const PageFetchLimits* limits = nullptr;
  std::uint32_t last_activity = 0;
  curl_off_t last_down = -1;
  curl_off_t last_up = -1;
  bool capped = false;
  FetchedPage page;

  void Touch() { last_activity = TickCount(); }
};

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto& transfer = *static_cast<Transfer*>(user);
  transfer.Touch();
  const std::size_t bytes = size * count;
  const std::size_t room = transfer.limits->max_bytes - transfer.page.body.size();
  if (bytes > room) {
    // The title is in the head: what fits is kept, the rest is never read.
    transfer.page.body.append(data, room);
    transfer.capped = true;
    return 0;  // ends the transfer with CURLE_WRITE_ERROR
  }
  transfer.page.body.append(data, bytes);
  return bytes;
}

std::size_t OnHeader(char*, std::size_t size, std::size_t count, void* user) {
  static_cast<Transfer*>(user)->Touch();
  return size * count;
}

int OnProgress(void* user, curl_off_t, curl_off_t down, curl_off_t, curl_off_t up) {
  auto& transfer = *static_cast<Transfer*>(user);
  if (down != transfer.last_down || up != transfer.last_up) {
    transfer.last_down = down;
    transfer.last_up = up;
    transfer.Touch();
  }
  return 0;
}

// A socket was created: the connection attempt is under way.
int OnSocket(void* user, curl_socket_t, curlsocktype) {
  static_cast<Transfer*>(user)->Touch();
  return CURL_SOCKOPT_OK;
}

// The connection is made and the request is about to go out.
int OnConnected(void* user, char*, char*, int, int) {
  static_cast<Transfer*>(user)->Touch();
  return CURL_PREREQFUNC_OK;
}

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};

}  // namespace

FetchedPage FetchPage(const std::string& url, const PageFetchLimits& limits,
                      const PagePollHook& on_poll) {
  InitialiseCurlOnce();
  Transfer transfer;
  transfer.limits = &limits;
  transfer.page.body.reserve(std::min<std::size_t>(limits.max_bytes, 64 * 1024));

  std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
  std::unique_ptr<CURLM, MultiDeleter> multi(curl_multi_init());
  if (!easy || !multi) {
    transfer.page.failure = "libcurl could not be initialised";
    return transfer.page;
  }
  CURL* e = easy.get();
  curl_easy_setopt(e, CURLOPT_URL, url.c_str());
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(e, CURLOPT_MAXREDIRS, 5L);
  curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, "");  // every encoding libcurl decodes
  curl_easy_setopt(e, CURLOPT_USERAGENT, "Quorvane Setup");
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(e, CURLOPT_HEADERDATA, &transfer);
  curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, OnProgress);
  curl_easy_setopt(e, CURLOPT_XFERINFODATA, &transfer);
  curl_easy_setopt(e, CURLOPT_SOCKOPTFUNCTION, OnSocket);
  curl_easy_setopt(e, CURLOPT_SOCKOPTDATA, &transfer);
  curl_easy_setopt(e, CURLOPT_PREREQFUNCTION, OnConnected);
  curl_easy_setopt(e, CURLOPT_PREREQDATA, &transfer);
  curl_multi_add_handle(multi.get(), e);

  const std::uint32_t start = TickCount();
  transfer.last_activity = start;
  bool finished = false;
  CURLcode result = CURLE_OK;
  while (!finished) {
    int running = 0;
    curl_multi_perform(multi.get(), &running);
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi.get(), &queued)) {
      if (message->msg == CURLMSG_DONE) {
        finished = true;
        result = message->data.result;
      }
    }
    if (finished) break;
    // Unsigned differences: the tick count wraps at 32 bits.
    const std::uint32_t now = TickCount();
    const std::uint32_t idle = now - transfer.last_activity;
    const std::uint32_t elapsed = now - start;
    if (on_poll) on_poll(std::min(idle, limits.inactivity_ms));
    if (idle >= limits.inactivity_ms) {
      transfer.page.failure = "no activity for " + std::to_string(limits.inactivity_ms) + " ms";
      break;
    }
    if (elapsed >= limits.overall_ms) {
      transfer.page.failure = "not loaded within " + std::to_string(limits.overall_ms) + " ms";
      break;
    }
    const std::uint32_t wait =
        std::min({limits.poll_ms, limits.inactivity_ms - idle, limits.overall_ms - elapsed});
    curl_multi_poll(multi.get(), nullptr, 0, static_cast<int>(std::max<std::uint32_t>(wait, 1)),
                    nullptr);
  }

  curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &transfer.page.http_status);
  char* content_type = nullptr;
  if (curl_easy_getinfo(e, CURLINFO_CONTENT_TYPE, &content_type) == CURLE_OK &&
      content_type != nullptr)
    transfer.page.content_type = content_type;
  if (finished) {
    if (result == CURLE_OK || (result == CURLE_WRITE_ERROR && transfer.capped)) {
      transfer.page.complete = true;
    } else {
      transfer.page.failure = curl_easy_strerror(result);
    }
  }
  curl_multi_remove_handle(multi.get(), e);
  return transfer.page;
}

}  // namespace quorvane
