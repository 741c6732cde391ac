// The installation server: acceptors on every listening address, sessions on
// an Asio event loop run by a few threads, a worker pool for scanning,
// comparing, reading and compressing, the package catalogue and the
// prepared-frame cache. Start, Stop and the accessors are safe from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "frame_cache.h"
#include "server_log.h"

namespace quorvane::server {

struct ServerOptions {
  std::filesystem::path package;
  std::vector<std::string> listen;  // "ADDR:PORT", IPv4 or [IPv6]; port 0 picks a free one
  std::filesystem::path state;      // empty: a folder under the system's temporary folder
  int level = 9;
  std::optional<std::filesystem::path> updater;
  std::string fin_message;  // Windows-1252; empty sends "Fin"
  bool cache = true;
  std::size_t cache_memory = std::size_t{256} << 20;
  int idle_seconds = 60;
  int request_seconds = 120;  // from connect to the installation request
  std::size_t max_connections = 1024;
  std::size_t max_per_address = 256;
  std::size_t max_frame = std::size_t{8} << 20;    // largest frame accepted from a client
  std::size_t max_object = std::size_t{64} << 20;  // largest object after decompression
  // What decoding one frame may hold (twice the object and the reader's
  // overhead: an inventory of 1,000,000 files needs about 250 MiB), and what all
  // connections' decodes may hold at once (more waits its turn).
  std::size_t max_decode = std::size_t{320} << 20;
  std::size_t max_decode_total = std::size_t{384} << 20;
  int io_threads = 2;
  int workers = 0;  // 0: one per core
  // The vendor's secret key: a signed "PackageManifest" precedes every installation.
  std::optional<std::filesystem::path> sign_key;
  std::optional<std::uint64_t> package_version;  // the manifest's; default: newest time
};

// "127.0.0.1:700", "[::1]:700" -> address and port; nothing when malformed.
struct ListenAddress {
  std::string address;
  std::uint16_t port = 0;
};
std::optional<ListenAddress> ParseListenAddress(const std::string& text);

// The default state folder: quorvane-server-<uid> under the temporary folder.
std::filesystem::path DefaultStateFolder();

class Server {
 public:
  Server(ServerOptions options, ServerLog& log);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds every address and starts the threads. False (and `error`) when an
  // address cannot be bound or a folder cannot be made; nothing runs then.
  bool Start(std::string* error);
  // Closes the acceptors and every connection, then lets the threads end.
  void Stop();
  // Until Stop has run and every thread has ended.
  void Wait();
  // Stop on SIGINT or SIGTERM (call before Wait, once).
  void StopOnSignals();

  // The bound addresses as "ADDR:PORT", in the order given.
  std::vector<std::string> LocalAddresses() const;
  std::vector<std::uint16_t> LocalPorts() const;
  FrameCache::Stats CacheStats() const;
  std::size_t Connections() const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace quorvane::server
