#include "command_line.h"

#include <CLI/CLI.hpp>
#include <sstream>
#include <string_view>

#include "util/codec.h"

namespace quorvane::server {

namespace {

constexpr const char* kDescription = R"(NAME
  quorvane-server - serve a package folder to Quorvane installers

SYNOPSIS
  quorvane-server --package DIR --listen ADDR:PORT [--listen ADDR:PORT ...]
                  [--state DIR] [--level 0-9] [--updater FILE]
                  [--fin-message TEXT] [--log FILE|-] [--sign-key FILE]
                  [--package-version N] [limits]
  quorvane-server keygen --key FILE

DESCRIPTION
  Greets every installer that connects, compares the inventory it sends with
  the package folder (folder, name regardless of case, size, and version for
  files that have one), and sends what is missing or different: the files of
  the DB folder, then those of the other sub-folders, then the top-level
  files, followed by "Fin" (or "FinMessage"). Each file is compressed once
  and the prepared frames are shared by every installer. With --sign-key,
  every installation starts with the package's manifest signed by that key.
  Stops cleanly on SIGINT or SIGTERM.

  keygen --key FILE writes a new Ed25519 key pair: the secret key to FILE
  (mode 0600) and the public key, one base64 line, to FILE.pub; it never
  overwrites an existing file.)";

constexpr const char* kFooter = R"(
FILES
  The state folder holds the prepared frames (STATE/frames/*.frm); frames of an
  earlier run are removed at start. One server at a time uses a state folder
  (STATE/lock). Default: quorvane-server-UID under the system's temporary
  folder when it is this user's own with mode 0700, else (or when another
  server holds it) a fresh quorvane-server-UID-XXXXXX.

EXAMPLES
  Serve ./package on three loopback addresses, as the three servers behind a
  relay, logging to stderr:
    quorvane-server --package ./package --listen 127.0.0.1:700 \
                    --listen 127.0.0.2:700 --listen 127.0.0.3:700

EXIT STATUS
  0 after a clean stop, 1 when the package cannot be read or an address
  cannot be bound, 2 for a usage error.)";

}  // namespace

namespace {

CommandLine ParseKeygen(int argc, const char* const* argv) {
  CommandLine result;
  CLI::App app("Write a new signing key pair: FILE (secret, mode 0600) and FILE.pub (public)",
               "quorvane-server keygen");
  std::string key;
  app.add_option("--key", key, "File for the secret key; the public key goes to FILE.pub")
      ->required();
  try {
    app.parse(argc - 1, argv + 1);
    result.keygen = key;
  } catch (const CLI::ParseError& e) {
    std::ostringstream out, err;
    result.exit_code = app.exit(e, out, err);
    result.message = out.str() + err.str();
  }
  return result;
}

}  // namespace

CommandLine ParseCommandLine(int argc, const char* const* argv) {
  if (argc > 1 && std::string_view(argv[1]) == "keygen") return ParseKeygen(argc, argv);
  CommandLine result;
  ServerOptions& o = result.options;
  CLI::App app(kDescription, "quorvane-server");
  app.footer(kFooter);
  app.get_formatter()->column_width(34);
  std::string package, state, updater, fin_message, sign_key;
  std::uint64_t package_version = 0;
  std::size_t cache_mb = o.cache_memory >> 20;
  std::size_t max_frame_kb = o.max_frame >> 10;
  bool no_cache = false;
  app.add_option("--package", package, "Folder whose files are installed (required)")
      ->required()
      ->check(CLI::ExistingDirectory);
  app.add_option("--listen", o.listen,
                 "Address and port to accept installers on; repeat for several "
                 "(IPv4, or [IPv6]; port 0 picks a free port)")
      ->required()
      ->take_all();
  app.add_option("--state", state,
                 "Folder for prepared frames (default: under the temporary folder)");
  app.add_option("--level", o.level, "bzip2 level of the frames, 0 sends everything uncompressed")
      ->check(CLI::Range(0, 9))
      ->capture_default_str();
  app.add_option("--updater", updater, "File sent to every installer as upd.zub at the top level")
      ->check(CLI::ExistingFile);
  app.add_option("--fin-message", fin_message,
                 "End with \"FinMessage\" and this text (shown to the user) instead of \"Fin\"");
  app.add_option("--log", result.log, "Log file, or - for stderr")->capture_default_str();
  app.add_option("--sign-key", sign_key,
                 "Secret key (from keygen): sign the package manifest sent before every "
                 "installation")
      ->check(CLI::ExistingFile);
  auto* version = app.add_option("--package-version", package_version,
                                 "Version in the signed manifest; it must grow with every change "
                                 "(default: the newest modification time in seconds)");
  app.add_option("--idle-timeout", o.idle_seconds,
                 "Seconds a connection may stay silent before it is closed")
      ->check(CLI::Range(1, 86400))
      ->capture_default_str();
  app.add_option("--request-timeout", o.request_seconds,
                 "Seconds from the connect within which the installation request must have "
                 "arrived, however slowly its bytes come")
      ->check(CLI::Range(1, 86400))
      ->capture_default_str();
  app.add_option("--max-connections", o.max_connections, "Connections at once, in total")
      ->check(CLI::Range(1, 100000))
      ->capture_default_str();
  app.add_option("--max-per-address", o.max_per_address, "Connections at once from one address")
      ->check(CLI::Range(1, 100000))
      ->capture_default_str();
  app.add_option("--max-frame-kb", max_frame_kb, "Largest frame accepted from an installer, in KiB")
      ->check(CLI::Range(1, 1 << 21))
      ->capture_default_str();
  app.add_option("--cache-memory-mb", cache_mb,
                 "Prepared frames kept in memory, in MiB; the rest are read from the state folder")
      ->check(CLI::Range(0, 1 << 20))
      ->capture_default_str();
  app.add_flag("--no-cache", no_cache,
               "Prepare every file anew for every installer (for measurements)");
  app.add_option("--threads", o.io_threads, "Threads running the connections")
      ->check(CLI::Range(1, 64))
      ->capture_default_str();
  app.add_option("--workers", o.workers, "Threads compressing and reading files (0: one per core)")
      ->check(CLI::Range(0, 256))
      ->capture_default_str();
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    std::ostringstream out, err;
    result.exit_code = app.exit(e, out, err);
    result.message = out.str() + err.str();
    return result;
  }
  o.package = package;
  o.state = state;
  if (!updater.empty()) o.updater = std::filesystem::path(updater);
  if (!sign_key.empty()) o.sign_key = std::filesystem::path(sign_key);
  if (version->count() > 0) o.package_version = package_version;
  o.fin_message = Utf8ToCp1252(fin_message);
  o.cache = !no_cache;
  o.cache_memory = cache_mb << 20;
  o.max_frame = max_frame_kb << 10;
  o.max_object = std::max(o.max_object, o.max_frame * 4);
  return result;
}

}  // namespace quorvane::server
