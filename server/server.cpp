#include "server.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <asio.hpp>
#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "model/object_stream.h"
#include "objects/protocol.h"
#include "objects/register_classes.h"
#include "session.h"
#include "signing_key.h"
#include "transport/frame_format.h"
#include "util/codec.h"
#include "wire.h"

namespace quorvane::server {
namespace fs = std::filesystem;
using asio::ip::tcp;

std::optional<ListenAddress> ParseListenAddress(const std::string& text) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 >= text.size()) return std::nullopt;
  std::string address = text.substr(0, colon);
  if (address.front() == '[') {
    if (address.size() < 3 || address.back() != ']') return std::nullopt;
    address = address.substr(1, address.size() - 2);
  }
  const std::string port_text = text.substr(colon + 1);
  unsigned port = 0;
  auto [ptr, ec] = std::from_chars(port_text.data(), port_text.data() + port_text.size(), port);
  if (ec != std::errc() || ptr != port_text.data() + port_text.size() || port > 65535)
    return std::nullopt;
  asio::error_code error;
  asio::ip::make_address(address, error);
  if (error) return std::nullopt;
  return ListenAddress{address, static_cast<std::uint16_t>(port)};
}

fs::path DefaultStateFolder() {
  std::error_code ec;
  return fs::temp_directory_path(ec) / ("quorvane-server-" + std::to_string(::getuid()));
}

namespace {

// `wanted` when this user made it, or finds it a folder of its own with mode
// 0700; else (or when `busy`) a fresh folder beside it. Another user may have
// made the folder first, to replace the frames stored there. `note` says why
// another folder was taken, or why none could be made.
fs::path OwnStateFolder(const fs::path& wanted, bool busy, std::string& note) {
  struct stat st {};
  if (!busy && (::mkdir(wanted.c_str(), 0700) == 0 ||
                (errno == EEXIST && ::lstat(wanted.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
                 st.st_uid == ::geteuid() && (st.st_mode & 07777) == 0700)))
    return wanted;
  const std::string why = busy              ? "in use by another quorvane-server"
                          : errno == EEXIST ? "not a folder of this user with mode 0700"
                                            : std::strerror(errno);
  std::string pattern = wanted.string() + "-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    note = "cannot make a state folder " + pattern + ": " + std::strerror(errno);
    return {};
  }
  note = "state folder " + wanted.string() + " refused (" + why + "); using " + pattern;
  return pattern;
}

}  // namespace

struct Server::Impl {
  Impl(ServerOptions o, ServerLog& l)
      : options(std::move(o)),
        log(l),
        catalogue(options.package, options.updater, [this](const std::string& t) { log.Line(t); }),
        workers(static_cast<std::size_t>(options.workers > 0
                                             ? options.workers
                                             : std::max(1u, std::thread::hardware_concurrency()))),
        pool(workers) {}

  void Accept(std::size_t index);
  void Closed(std::uint64_t id);

  ServerOptions options;
  ServerLog& log;
  PackageCatalogue catalogue;
  std::size_t workers;
  asio::io_context io;
  asio::thread_pool pool;
  std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work;
  std::unique_ptr<FrameCache> cache;
  std::unique_ptr<PackageSigner> signer;
  SessionContext context;
  std::unique_ptr<DecodeBudget> decode_budget;  // after context: its waiters hold sessions
  std::vector<std::unique_ptr<tcp::acceptor>> acceptors;
  std::vector<std::string> local;
  std::vector<std::uint16_t> ports;
  std::vector<std::thread> threads;
  std::unique_ptr<asio::signal_set> signals;
  int state_lock = -1;  // flock held while the server runs

  mutable std::mutex mutex;
  std::condition_variable stopped_cv;
  bool started = false;
  bool stopping = false;
  bool joined = false;
  std::uint64_t next_id = 1;
  std::map<std::uint64_t, std::weak_ptr<Session>> sessions;
  std::map<std::uint64_t, std::string> session_address;
  std::map<std::string, std::size_t> per_address;
};

void Server::Impl::Accept(std::size_t index) {
  tcp::acceptor& acceptor = *acceptors[index];
  acceptor.async_accept([this, index](const asio::error_code& error, tcp::socket socket) {
    {
      std::lock_guard guard(mutex);
      if (stopping) return;
    }
    if (error) {
      if (error == asio::error::operation_aborted) return;
      log.Line("accept failed on " + local[index] + ": " + error.message());
      // Out of descriptors and the like: try again shortly rather than spin.
      auto timer = std::make_shared<asio::steady_timer>(io, std::chrono::milliseconds(100));
      timer->async_wait([this, index, timer](const asio::error_code&) { Accept(index); });
      return;
    }
    asio::error_code ec;
    const tcp::endpoint remote = socket.remote_endpoint(ec);
    const std::string address = ec ? std::string("?") : remote.address().to_string();
    const std::string peer = ec ? std::string("?") : address + ":" + std::to_string(remote.port());
    std::shared_ptr<Session> session;
    std::string refused;
    std::uint64_t id = 0;
    {
      std::lock_guard guard(mutex);
      id = next_id++;
      if (sessions.size() >= options.max_connections)
        refused = "too many connections (" + std::to_string(options.max_connections) + ")";
      else if (per_address[address] >= options.max_per_address)
        refused = "too many connections from " + address + " (" +
                  std::to_string(options.max_per_address) + ")";
      if (refused.empty()) {
        socket.set_option(tcp::no_delay(true), ec);
        session = std::make_shared<Session>(std::move(socket), context, id, peer);
        sessions[id] = session;
        session_address[id] = address;
        ++per_address[address];
      }
    }
    if (!refused.empty()) {
      log.Line("#" + std::to_string(id) + " " + peer + " refused: " + refused);
      socket.close(ec);
    } else {
      log.Line("#" + std::to_string(id) + " " + peer + " accepted on " + local[index]);
      session->Start();
    }
    Accept(index);
  });
}

void Server::Impl::Closed(std::uint64_t id) {
  std::lock_guard guard(mutex);
  sessions.erase(id);
  auto it = session_address.find(id);
  if (it != session_address.end()) {
    if (--per_address[it->second] == 0) per_address.erase(it->second);
    session_address.erase(it);
  }
}

Server::Server(ServerOptions options, ServerLog& log)
    : impl_(std::make_unique<Impl>(std::move(options), log)) {}

Server::~Server() {
  Stop();
  Wait();
  impl_->cache.reset();  // removes its stored frames while the lock is held
  if (impl_->state_lock >= 0) ::close(impl_->state_lock);
}

bool Server::Start(std::string* error) {
  static std::once_flag registered;
  std::call_once(registered, [] {
    CompleteFrameMarkers();
    RegisterClasses();
  });
  Impl& d = *impl_;
  auto fail = [&](const std::string& text) {
    if (error != nullptr) *error = text;
    d.acceptors.clear();
    return false;
  };
  std::string scan_error;
  std::vector<PackageFile> files = d.catalogue.Scan(&scan_error);
  if (files.empty() && !scan_error.empty()) return fail(scan_error);
  if (d.options.sign_key) {
    std::optional<std::string> secret = ReadSecretKey(*d.options.sign_key, &scan_error);
    if (!secret) return fail(scan_error);
    d.signer = std::make_unique<PackageSigner>(std::move(*secret), d.catalogue,
                                               Utf8ToCp1252(d.catalogue.Root().filename().string()),
                                               d.options.package_version);
    d.context.signer = d.signer.get();
  }
  if (d.options.listen.empty()) return fail("no --listen address given");
  const bool default_state = d.options.state.empty();
  std::string note;
  if (default_state) d.options.state = OwnStateFolder(DefaultStateFolder(), false, note);
  for (int attempt = 0;; ++attempt) {
    if (d.options.state.empty()) return fail(note);
    if (!note.empty()) d.log.Line(note);
    // Stored frames inside the package would be served as package files.
    if (d.catalogue.Contains(d.options.state))
      return fail("the state folder " + d.options.state.string() +
                  " lies inside the package folder");
    std::error_code ec;
    fs::create_directories(d.options.state, ec);
    if (!fs::is_directory(d.options.state))
      return fail("cannot make the state folder " + d.options.state.string());
    // One server per state folder: a second would delete the first one's frames.
    d.state_lock =
        ::open((d.options.state / "lock").c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (d.state_lock >= 0 && ::flock(d.state_lock, LOCK_EX | LOCK_NB) == 0) break;
    if (d.state_lock >= 0) ::close(d.state_lock);
    d.state_lock = -1;
    if (!default_state || attempt > 0)
      return fail("the state folder " + d.options.state.string() +
                  " is in use by another quorvane-server");
    d.options.state = OwnStateFolder(DefaultStateFolder(), true, note);
  }

  FrameCache::Options cache_options;
  cache_options.folder = d.options.state / "frames";
  cache_options.memory_limit = d.options.cache_memory;
  cache_options.level = std::clamp(d.options.level, 0, 9);
  cache_options.enabled = d.options.cache;
  cache_options.parallel = static_cast<int>(d.workers);
  d.cache = std::make_unique<FrameCache>(
      cache_options, d.catalogue,
      [&d](std::function<void()> job) { asio::post(d.pool, std::move(job)); },
      [&d](const std::string& text) { d.log.Line(text); });

  d.context.options = &d.options;
  d.context.log = &d.log;
  d.context.catalogue = &d.catalogue;
  d.context.cache = d.cache.get();
  d.context.pool = &d.pool;
  d.context.script.greeting = std::make_shared<const std::string>(
      AnswerFrames(protocol::kAuthentication,
                   {std::string(protocol::kItemId) + "=" + std::string(protocol::kServerUserId)}));
  d.context.script.phase2 =
      std::make_shared<const std::string>(AnswerFrames(protocol::kPhase2, {}));
  d.context.script.phase3 =
      std::make_shared<const std::string>(AnswerFrames(protocol::kPhase3, {}));
  d.context.script.end = std::make_shared<const std::string>(
      d.options.fin_message.empty()
          ? AnswerFrames(protocol::kInstallEnd, {})
          : AnswerFrames(protocol::kInstallEndMessage, {d.options.fin_message}));
  d.context.on_closed = [&d](std::uint64_t id) { d.Closed(id); };
  d.context.incoming_limit = std::max<std::int64_t>(
      std::int64_t{256} << 20, 2 * static_cast<std::int64_t>(d.options.max_frame));
  d.context.decode_limit = static_cast<std::int64_t>(
      std::max(d.options.max_decode, 2 * d.options.max_object + kReaderOverheadFloor));
  d.decode_budget = std::make_unique<DecodeBudget>(
      std::max(d.context.decode_limit, static_cast<std::int64_t>(d.options.max_decode_total)));
  d.context.decode_budget = d.decode_budget.get();

  for (const std::string& text : d.options.listen) {
    const std::optional<ListenAddress> address = ParseListenAddress(text);
    if (!address) return fail("bad --listen address \"" + text + "\" (expected ADDR:PORT)");
    asio::error_code bind_error;
    const tcp::endpoint endpoint(asio::ip::make_address(address->address), address->port);
    auto acceptor = std::make_unique<tcp::acceptor>(d.io);
    acceptor->open(endpoint.protocol(), bind_error);
    if (!bind_error) acceptor->set_option(tcp::acceptor::reuse_address(true), bind_error);
    if (!bind_error) acceptor->bind(endpoint, bind_error);
    if (!bind_error) acceptor->listen(asio::socket_base::max_listen_connections, bind_error);
    if (bind_error) return fail("cannot listen on " + text + ": " + bind_error.message());
    const tcp::endpoint bound = acceptor->local_endpoint(bind_error);
    const std::string shown = (bound.address().is_v6() ? "[" + bound.address().to_string() + "]"
                                                       : bound.address().to_string()) +
                              ":" + std::to_string(bound.port());
    d.local.push_back(shown);
    d.ports.push_back(bound.port());
    d.acceptors.push_back(std::move(acceptor));
  }
  d.work.emplace(d.io.get_executor());
  for (std::size_t i = 0; i < d.acceptors.size(); ++i)
    d.Accept(i);
  std::string listening;
  for (const std::string& text : d.local)
    listening += " " + text;
  d.log.Line("serving " + d.catalogue.Root().string() + " on" + listening + "; state " +
             d.options.state.string() + "; level " + std::to_string(cache_options.level) +
             (d.options.cache ? "" : "; cache off"));
  const int io_threads = std::max(1, d.options.io_threads);
  for (int i = 0; i < io_threads; ++i)
    d.threads.emplace_back([&d] { d.io.run(); });
  d.cache->PrepareAll(std::move(files));
  std::lock_guard guard(d.mutex);
  d.started = true;
  return true;
}

void Server::StopOnSignals() {
  Impl& d = *impl_;
  d.signals = std::make_unique<asio::signal_set>(d.io, SIGINT, SIGTERM);
  d.signals->async_wait([this](const asio::error_code& error, int signal) {
    if (error) return;
    impl_->log.Line("signal " + std::to_string(signal) + ": stopping");
    Stop();
  });
}

void Server::Stop() {
  Impl& d = *impl_;
  std::vector<std::shared_ptr<Session>> open;
  {
    std::lock_guard guard(d.mutex);
    if (!d.started || d.stopping) return;
    d.stopping = true;
    for (auto& [id, weak] : d.sessions)
      if (auto session = weak.lock()) open.push_back(std::move(session));
  }
  asio::post(d.io, [&d] {
    asio::error_code ignored;
    for (auto& acceptor : d.acceptors)
      acceptor->close(ignored);
    if (d.signals) d.signals->cancel(ignored);
  });
  for (auto& session : open)
    session->Close("server stopping");
  // Compression in progress ends at its next slice, and nothing half-prepared is kept.
  if (d.cache) d.cache->Cancel();
  d.work.reset();
  d.stopped_cv.notify_all();
}

void Server::Wait() {
  Impl& d = *impl_;
  {
    std::unique_lock lock(d.mutex);
    if (!d.started || d.joined) return;
    d.stopped_cv.wait(lock, [&d] { return d.stopping; });
    d.joined = true;
  }
  for (std::thread& thread : d.threads)
    thread.join();
  d.threads.clear();
  d.pool.join();
  std::lock_guard guard(d.mutex);
  d.log.Line("stopped");
}

std::vector<std::string> Server::LocalAddresses() const {
  return impl_->local;
}
std::vector<std::uint16_t> Server::LocalPorts() const {
  return impl_->ports;
}

FrameCache::Stats Server::CacheStats() const {
  return impl_->cache ? impl_->cache->GetStats() : FrameCache::Stats{};
}

std::size_t Server::Connections() const {
  std::lock_guard guard(impl_->mutex);
  return impl_->sessions.size();
}

}  // namespace quorvane::server
