// One installer connection: it greets the installer with the server user's
// "Atfctn", reassembles and decodes what the installer sends (bounded in size,
// decoded on the worker pool), answers the installation request, and streams
// the answers and prepared frames with back-pressure: the next file is only
// queued once the previous one has left, so a slow reader never makes the
// session hold more than one prepared file and one 256 KiB chunk. All its work
// runs on its strand; Close may be called from any thread.
#pragma once

#include <asio.hpp>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "catalogue.h"
#include "frame_cache.h"
#include "inventory.h"
#include "package_signer.h"
#include "server.h"
#include "transport/frame_reassembler.h"

namespace quorvane {
class TZelObject;
class TSOFilesList;
}  // namespace quorvane

namespace quorvane::server {

// What the sessions of one server share.
struct SessionContext {
  const ServerOptions* options = nullptr;
  ServerLog* log = nullptr;
  PackageCatalogue* catalogue = nullptr;
  FrameCache* cache = nullptr;
  asio::thread_pool* pool = nullptr;
  std::shared_ptr<const std::string> greeting;  // the server user's "Atfctn"
  std::shared_ptr<const std::string> phase2, phase3, end;
  std::function<void(std::uint64_t id)> on_closed;  // frees the connection's slot
  PackageSigner* signer = nullptr;                  // with --sign-key
  // Payload bytes being received or decoded by all connections together, and
  // their ceiling: a frame that would pass it closes its connection.
  std::atomic<std::int64_t> incoming_bytes{0};
  std::int64_t incoming_limit = std::int64_t{256} << 20;
};

class Session : public std::enable_shared_from_this<Session>, private FrameSink {
 public:
  Session(asio::ip::tcp::socket socket, SessionContext& context, std::uint64_t id,
          std::string peer);
  ~Session() override;

  void Start();
  void Close(std::string why);  // any thread

 private:
  struct Outgoing {
    std::shared_ptr<const std::string> memory;
    int fd = -1;
    std::int64_t size = 0;
    std::int64_t offset = 0;
  };
  struct Received {
    std::string payload;
    FrameTrailerFields trailer;
    std::int64_t reserved = 0;  // its share of the receiving ceiling
  };
  struct Step {
    std::shared_ptr<const std::string> frames;  // a control answer, or
    int file = -1;                              // an index into the plan
  };

  // FrameSink
  bool BeginFrame(std::int64_t expected) override;
  bool WritePayload(const std::uint8_t* bytes, std::size_t n) override;
  void PayloadProgress(std::int64_t, std::int64_t) override {}
  void EndFrame(const FrameTrailerFields& trailer, bool failed) override;
  void BadHeader(const std::uint8_t* bytes, std::size_t n) override;

  void ReadMore();
  void OnRead(const asio::error_code& error, std::size_t n);
  void Decode(std::vector<Received> frames);
  void Handle(std::unique_ptr<TZelObject> object);
  void StartInstall(std::unique_ptr<TSOFilesList> request, std::string word);
  void BeginSending(InstallPlan plan, std::shared_ptr<const std::string> manifest);
  void Fill();
  void Prefetch();
  void Acquire(int index);
  void WriteNext();
  void OnWritten(const asio::error_code& error, std::size_t n);
  void Touch();
  void ArmIdleTimer();
  void CloseOnStrand(const std::string& why);
  void Log(const std::string& text);
  void ReleaseIncoming();
  void Release(std::int64_t bytes);

  SessionContext& context_;
  const std::uint64_t id_;
  const std::string peer_;
  asio::ip::tcp::socket socket_;
  asio::strand<asio::any_io_executor> strand_;
  asio::steady_timer idle_timer_;
  std::chrono::steady_clock::time_point last_activity_;
  std::chrono::steady_clock::time_point install_started_;
  std::chrono::steady_clock::time_point connected_ = std::chrono::steady_clock::now();
  std::vector<std::uint8_t> read_buffer_;
  std::vector<char> chunk_;
  FrameReassembler reassembler_{*this};
  std::string payload_;
  std::vector<Received> received_;
  std::string failure_;
  int unreadable_ = 0;
  int objects_ = 0;                     // objects received on this connection
  int pool_jobs_ = 0;                   // decodes and scans running for it
  std::int64_t incoming_reserved_ = 0;  // its share of incoming_bytes
  std::int64_t frame_expected_ = 0;     // the frame being received
  std::string who_;

  std::deque<Outgoing> queue_;
  bool writing_ = false;
  bool closed_ = false;
  bool installing_ = false;
  bool finished_ = false;
  InstallPlan plan_;
  std::vector<Step> steps_;
  std::size_t next_step_ = 0;
  std::size_t next_fetch_ = 0;  // next plan index to acquire
  std::map<int, std::shared_ptr<const PreparedFrames>> prepared_;
  std::map<int, std::string> failed_;
  std::set<int> retried_;          // files acquired a second time after a failure
  std::int64_t files_passed_ = 0;  // file steps queued or skipped
  std::int64_t files_sent_ = 0;
  std::int64_t bytes_sent_ = 0;  // wire bytes
  std::int64_t file_bytes_sent_ = 0;
};

}  // namespace quorvane::server
