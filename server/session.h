// One installer connection: its socket, strand, buffers and timers. It
// reassembles what the installer sends and decodes it on the worker pool, one
// frame at a time within the decoding budget, hands the objects to its
// Conversation, and writes what the conversation hands out with back-pressure:
// the next piece is only asked for once the previous one has left, so a slow
// reader never makes the session hold more than one prepared file and one
// 256 KiB chunk (stored frames are read on the worker pool). All its work runs
// on its strand; Close may be called from any thread.
#pragma once

#include <asio.hpp>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "catalogue.h"
#include "conversation.h"
#include "decode_budget.h"
#include "frame_cache.h"
#include "package_signer.h"
#include "server.h"
#include "transport/frame_reassembler.h"

namespace quorvane::server {

// What the sessions of one server share.
struct SessionContext {
  const ServerOptions* options = nullptr;
  ServerLog* log = nullptr;
  PackageCatalogue* catalogue = nullptr;
  FrameCache* cache = nullptr;
  asio::thread_pool* pool = nullptr;
  ConversationScript script;
  std::function<void(std::uint64_t id)> on_closed;  // frees the connection's slot
  PackageSigner* signer = nullptr;                  // with --sign-key
  // Payload bytes received and not yet decoded, by all connections together,
  // and their ceiling: bytes are charged as they arrive, and a connection whose
  // bytes would pass it is closed.
  std::atomic<std::int64_t> incoming_bytes{0};
  std::int64_t incoming_limit = std::int64_t{256} << 20;
  // What decoding one frame may hold (its stream, the values read from it and
  // the reader's overhead), and what all decodes together may hold.
  std::int64_t decode_limit = std::int64_t{320} << 20;
  DecodeBudget* decode_budget = nullptr;
};

class Session : public std::enable_shared_from_this<Session>,
                private FrameSink,
                private ConversationHost {
 public:
  Session(asio::ip::tcp::socket socket, SessionContext& context, std::uint64_t id,
          std::string peer);
  ~Session() override;

  void Start();
  void Close(std::string why);  // any thread

 private:
  struct Outgoing {
    Piece piece;
    std::int64_t offset = 0;
  };
  struct Received {
    std::string payload;  // charged to incoming_bytes until decoded
    FrameTrailerFields trailer;
  };
  using Ticket = std::shared_ptr<DecodeBudget::Ticket>;

  // FrameSink
  bool BeginFrame(std::int64_t expected) override;
  bool WritePayload(const std::uint8_t* bytes, std::size_t n) override;
  void PayloadProgress(std::int64_t, std::int64_t) override {}
  void EndFrame(const FrameTrailerFields& trailer, bool failed) override;
  void BadHeader(const std::uint8_t* bytes, std::size_t n) override;

  // ConversationHost
  void Log(const std::string& text) override;
  void Plan(std::unique_ptr<TSOFilesList> request) override;
  void Acquire(int index, const PackageFile& file) override;
  bool Refresh(PackageFile& file) override;
  void EndConnection(const std::string& why) override { CloseOnStrand(why); }

  void ReadMore();
  void OnRead(const asio::error_code& error, std::size_t n);
  void Pump();
  void DecodeNext();
  void Decoded(std::unique_ptr<TZelObject> object, const std::string& error, Ticket ticket);
  void Unused(const std::string& reason, const std::string& detail);
  void WriteNext();
  void ReadStored(std::size_t n);
  void Write(asio::const_buffer buffer, std::shared_ptr<const void> keep);
  void OnWritten(const asio::error_code& error, std::size_t n);
  void Touch();
  void ArmIdleTimer();
  void CloseOnStrand(const std::string& why);
  void LogRepeated(const std::string& reason, const std::string& detail);
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
  std::shared_ptr<std::vector<char>> chunk_;  // stored frames read for writing
  FrameReassembler reassembler_{*this};
  std::string payload_;
  std::deque<Received> received_;  // complete frames waiting to be decoded, in order
  std::string failure_;
  int unreadable_ = 0;  // unreadable, ignored or unused frames and objects
  int objects_ = 0;     // objects received on this connection
  int pool_jobs_ = 0;   // decodes, scans and reads running for it
  bool reading_ = false;
  bool decoding_ = false;
  bool planning_ = false;
  Ticket decoded_ticket_;              // the share of the object being handed over
  std::int64_t incoming_charged_ = 0;  // its share of incoming_bytes
  LineThrottle repeated_;

  Conversation conversation_;
  std::optional<Outgoing> out_;  // the piece being written
  bool writing_ = false;
  bool closed_ = false;
  bool reported_ = false;        // the installation's "sent" line is written
  std::int64_t bytes_sent_ = 0;  // wire bytes
};

}  // namespace quorvane::server
