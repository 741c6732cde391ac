// Load generator for quorvane-server: N installers at once, each a thread with
// the frame-format client, each installing into its own empty folder (or
// counting only, with --no-write). Prints one line of figures:
//   clients=N finished=F failed=X seconds=S files=.. bytes=.. wire_bytes=..
//   first_error=...
//
//   server_load --port P [--host 127.0.0.1] [--clients 200] [--folder DIR] [--no-write]
//
// With --amplify it is instead an attacker: one connection sends 128 requests
// of 257 bytes each whose xWhat decodes to 30 MB of zeros, and waits (60 s at
// most) for the server to close it: amplify_closed=0|1 seconds=S
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "install_client.h"
#include "objects/files.h"
#include "objects/register_classes.h"
#include "transport/frame_format.h"
#include "wire.h"

namespace {

bool Amplify(const std::string& host, int port) {
  quorvane::CompleteFrameMarkers();
  quorvane::RegisterClasses();
  quorvane::TSOFilesList bomb;
  bomb.xWhat = std::string(30'000'000, '\0');
  const std::string frame = quorvane::server::ObjectFrames(bomb, 9);
  std::string attack;
  for (int i = 0; i < 128; ++i)
    attack += frame;
  const int fd = quorvane::server::ConnectTo(host, static_cast<std::uint16_t>(port), 5000);
  if (fd < 0) return false;
  (void)::send(fd, attack.data(), attack.size(), MSG_NOSIGNAL);
  bool closed = false;
  char buffer[65536];
  for (int waited = 0; !closed && waited < 60000; waited += 100) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 100) > 0) closed = ::recv(fd, buffer, sizeof buffer, 0) <= 0;
  }
  ::close(fd);
  return closed;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace quorvane::server;
  std::string host = "127.0.0.1";
  int port = 0, clients = 200;
  std::filesystem::path folder = std::filesystem::temp_directory_path() / "server-load";
  bool write = true, amplify = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
    if (arg == "--port")
      port = std::atoi(next().c_str());
    else if (arg == "--host")
      host = next();
    else if (arg == "--clients")
      clients = std::atoi(next().c_str());
    else if (arg == "--folder")
      folder = next();
    else if (arg == "--no-write")
      write = false;
    else if (arg == "--amplify")
      amplify = true;
    else {
      std::fprintf(stderr, "unknown argument %s\n", arg.c_str());
      return 2;
    }
  }
  if (port <= 0 || clients <= 0) {
    std::fprintf(stderr, "usage: server_load --port P [--clients N] [--folder DIR] [--no-write]\n");
    return 2;
  }
  if (amplify) {
    const auto start = std::chrono::steady_clock::now();
    const bool closed = Amplify(host, port);
    std::printf("amplify_closed=%d seconds=%.2f\n", closed ? 1 : 0,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    return closed ? 0 : 1;
  }
  std::atomic<int> finished{0}, failed{0};
  std::atomic<long long> files{0}, bytes{0}, wire{0};
  std::mutex mutex;
  std::string first_error;
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> threads;
  for (int c = 0; c < clients; ++c) {
    threads.emplace_back([&, c] {
      InstallClientOptions options;
      options.host = host;
      options.port = static_cast<std::uint16_t>(port);
      options.folder = folder / std::to_string(c);
      options.write_files = write;
      options.timeout_ms = 170000;
      std::filesystem::create_directories(options.folder);
      const InstallResult result = RunInstall(options);
      if (result.finished && result.files == result.expected_files) {
        ++finished;
      } else {
        ++failed;
        std::lock_guard guard(mutex);
        if (first_error.empty()) first_error = result.error.empty() ? "incomplete" : result.error;
      }
      files += result.files;
      bytes += result.bytes;
      wire += result.wire_bytes;
    });
  }
  for (std::thread& t : threads)
    t.join();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf(
      "clients=%d finished=%d failed=%d seconds=%.3f files=%lld bytes=%lld wire_bytes=%lld "
      "first_error=%s\n",
      clients, finished.load(), failed.load(), seconds, files.load(), bytes.load(), wire.load(),
      first_error.empty() ? "-" : first_error.c_str());
  return failed == 0 ? 0 : 1;
}
