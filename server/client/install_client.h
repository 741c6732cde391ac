// A small installer client speaking the frame format over a plain blocking
// loopback socket: it waits for the server's "Atfctn", sends its own, an
// identification, "CustomerInformation" and the installation request with the
// inventory of its folder (top level and "DB", as the installer lists them),
// then takes the answers and files until "Fin". Files are written below the
// folder, lower-cased, as the installer writes them. Used by the server's
// tests and its load benchmark; one client per thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quorvane {
class TSOFilesList;
}

namespace quorvane::server {

struct InstallClientOptions {
  std::string host = "127.0.0.1";
  std::uint16_t port = 0;
  // When set, host:relay_port is a SOCKS 4 relay, asked to connect to
  // targets[i]:port, the next target for each new connection.
  std::uint16_t relay_port = 0;
  std::vector<std::string> targets;
  // Connections tried until "Fin": a connection that ends before it asks again
  // on a new one, with the inventory of what the folder now holds.
  int attempts = 1;
  std::filesystem::path folder;  // the program folder to install into
  bool english = false;
  bool write_files = true;  // false: count what arrives, write nothing
  int timeout_ms = 60000;   // the longest silence accepted from the server
  // Called with each control word as it arrives (tests act between steps).
  std::function<void(const std::string& word)> on_answer;
  // Called with the request before it is sent (tests add to its inventory).
  std::function<void(TSOFilesList& request)> on_request;
};

struct InstallResult {
  bool finished = false;  // "Fin" or "FinMessage" arrived
  std::string error;
  std::string server_id;                                  // MERXID of the server's "Atfctn"
  std::int64_t expected_files = -1, expected_bytes = -1;  // from "DebutInstall"
  std::int64_t files = 0, bytes = 0;                      // received
  std::int64_t wire_bytes = 0;
  std::vector<std::string> words;  // control words in order of arrival
  std::vector<std::string> paths;  // relative path + name of each file, as sent
  std::vector<bool> compressed;    // per file: its frame was compressed
  std::string fin_message;
  int reconnections = 0;
};

// The request as the installer builds it for `folder`.
std::unique_ptr<TSOFilesList> BuildInstallRequest(const std::filesystem::path& folder,
                                                  bool english);

InstallResult RunInstall(const InstallClientOptions& options);

// A connected blocking socket to host:port, or -1.
int ConnectTo(const std::string& host, std::uint16_t port, int timeout_ms);

}  // namespace quorvane::server
