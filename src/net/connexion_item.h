// TZelConnexionByMeItem: one outgoing connection this program opened itself,
// normally to the server. It owns its client socket (and so its stream), and two
// threads: the send thread owns the outgoing buffer and writes its chunks to the
// stream, the receive thread owns the incoming buffer and pours stream bytes in.
// Thread rules: Configure, Start, Run, Announce, IsAcknowledged, Stop and Close
// run on the owner's thread; Send and the progress accessors from any thread.
// Stop wakes both threads (buffer shut down, stream shut down), joins them, and
// only then does Close free the stream, so no thread ever sees a reused
// descriptor. Every attempt, refusal, time-out and drop goes to the diagnostic log.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "model/zel_object.h"
#include "net/client_socket.h"
#include "net/socket_stream.h"
#include "net/socks4.h"
#include "transport/connexion_buffer_in.h"
#include "transport/connexion_buffer_out.h"
#include "util/status.h"

namespace quorvane {

class TZelConnexionsListByMe;
class TZelConnexionByMeItem;

// The default budget of received objects waiting to be written out.
inline constexpr std::int64_t kIncomingQueueBudget = std::int64_t{32} << 20;

// Time limits of a connection. The defaults are the product's values; tests pass
// short ones so that time-outs are exercised without real seconds.
struct ConnexionTimings {
  int connect_timeout_ms = kConnectTimeoutMs;
  int socks_reply_timeout_ms = kSocks4ReplyTimeoutMs;
  int io_timeout_ms = kStreamTimeoutMs;
  int attempt_pause_ms = 500;
  std::uint32_t acknowledge_timeout_ms = kAuthenticationWaitMs;
  // The memory a connection's received objects may hold together until the
  // receiver has written them out (an object larger than this still passes
  // alone); 0 keeps the site value. An installer writes objects as they come,
  // so a small budget bounds its memory to about the largest object.
  std::int64_t incoming_queue_budget = kIncomingQueueBudget;
};

// Receives the progress of the object being received, after every read.
class ReceiveProgressSink {
 public:
  virtual ~ReceiveProgressSink() = default;
  virtual void SetReceiveProgress(std::int64_t position, std::int64_t size) = 0;
};

inline constexpr std::string_view kTypeIdConnexionItem = "{10000000-0000-0000-0000-200000000005}";
inline constexpr std::string_view kTypeIdThreadSend = "{10000000-0000-0000-0000-200000000008}";
inline constexpr std::string_view kTypeIdThreadReceive = "{10000000-0000-0000-0000-200000000007}";
inline constexpr std::string_view kCommandDeleteDeadItems = "DeleteDeadItems";
inline constexpr std::string_view kTypeIdConnexionList = "{10000000-0000-0000-0000-100000000012}";

// "données objets légers", "images data" ...: the name of a data kind.
std::string DataKindName(char kind, bool heavy, bool english);
// "TCP" or "UDP".
std::string_view TransportName(std::uint8_t transport);

// One connection thread: its lock object, its stream, its buffer, its std::thread.
// Created with the item's Start, started by Run, joined by Stop.
class TZelConnexionThread {
 public:
  TZelConnexionThread(TZelConnexionByMeItem& item, bool send);
  ~TZelConnexionThread();

  void Resume();
  // Cancel the stream, shut the buffer down, mark terminated; then Join.
  void Terminate();
  void Join();
  bool Started() const { return thread_.joinable(); }
  bool Ended() const { return ended_.load(); }

  TZelSocketStream& Stream() { return *stream_; }
  TZelConnexionBufferOut* Out() const { return out_.get(); }
  TZelConnexionBufferIn* In() const { return in_.get(); }
  TZelObject& LockObject() { return *lock_object_; }

 private:
  // Runs `step` until the thread is terminated, the socket goes inactive or a step
  // names why the connection ends; then reports the end to the item.
  void RunLoop(const std::function<std::optional<std::string>()>& step);
  void ExecuteSend();
  void ExecuteReceive();

  TZelConnexionByMeItem& item_;
  const bool send_;
  std::unique_ptr<TZelObject> lock_object_;  // freed last
  std::unique_ptr<TZelSocketStream> stream_;
  std::unique_ptr<TZelConnexionBufferOut> out_;
  std::unique_ptr<TZelConnexionBufferIn> in_;
  std::atomic<bool> terminated_{false};
  std::atomic<bool> ended_{false};
  std::thread thread_;
};

class TZelConnexionByMeItem : public TZelObject {
 public:
  explicit TZelConnexionByMeItem(TZelObject* parent);
  ~TZelConnexionByMeItem() override;

  static const ClassInfo& StaticClass();

  // Stores everything; a UDP port is stored as port + 10, the address trimmed.
  void Configure(std::uint8_t transport, char data_kind, const std::string& peer_name,
                 const Guid& target_id, const TxSocksInfo& socks, const std::string& address,
                 int port, bool heavy);
  void SetPauseBetweenAttempts(bool pause) { pause_between_attempts_ = pause; }
  void SetOwners(ReceiveProgressSink* manager, TZelConnexionsListByMe* list);
  void SetConnector(SocketConnector connector) { connector_ = std::move(connector); }
  void SetTimings(const ConnexionTimings& timings) { timings_ = timings; }
  const ConnexionTimings& Timings() const { return timings_; }
  // Where the two buffers keep their frame files (the program folder's by default).
  void SetFolders(FrameFolders folders) { folders_ = std::move(folders); }
  const FrameFolders& Folders() const { return folders_; }
  // Where the receive thread's buffer delivers objects with their memory charges.
  void SetDeliveryTarget(IncomingObjectTarget* target) { delivery_target_ = target; }
  IncomingObjectTarget* DeliveryTarget() const { return delivery_target_; }

  void ClearLastError();
  // Why the last Start failed: the target, and the reason ("Not a valid target",
  // the socket's message ...); ok when it did not.
  Status LastError() const;
  // Why the threads ended ("closed by peer", "bad frame header" ...); empty while running.
  std::string EndReason() const;

  bool IsActive() const { return socket_ && socket_->Active(); }
  void CloseSocket();

  // Connects (two attempts, 500 ms apart when the pause is set); threads are made
  // but not started. False, with LastError saying why, on failure.
  bool Start() override;
  // Wakes and joins both threads; the socket stays until Close.
  bool Stop() override;
  // Frees the threads and the socket (closing its descriptor).
  bool Close() override;
  // Starts the send thread, then the receive thread.
  void Run();
  // Queues the "Atfctn" answer naming this side (TCP only).
  void Announce();
  // TCP: the peer's "Atfctn" naming the target identifier arrives within the
  // acknowledge time-out; UDP: at once.
  bool IsAcknowledged();
  bool Matches(const Guid& target, std::uint8_t transport, bool heavy, char data_kind) const;
  // Queues the object on the outgoing buffer (the object stays the caller's).
  void Send(TZelObject& object);

  // Incoming progress (0 / empty without a receive thread).
  std::int64_t Done() const;
  std::int64_t Total() const;
  int Percent() const;
  std::int64_t CurrentPosition() const;
  std::int64_t CurrentSize() const;
  int CurrentPercent() const;
  std::string CurrentId() const;

  std::string Caption() const override;

  const Guid& TargetId() const { return target_id_; }
  std::uint8_t Transport() const { return transport_; }
  char DataKind() const { return data_kind_; }
  bool Heavy() const { return heavy_; }
  int Port() const { return port_; }
  const std::string& Address() const { return address_; }
  const std::string& PeerName() const { return peer_name_; }
  TZelClientSocket* Socket() const { return socket_.get(); }
  std::int32_t Number() const { return number_; }
  TZelConnexionThread* SendThread() const { return send_thread_.get(); }
  TZelConnexionThread* ReceiveThread() const { return receive_thread_.get(); }

  using Clock = std::chrono::steady_clock;
  void Touch() { last_activity_.store(Clock::now().time_since_epoch().count()); }
  Clock::time_point LastActivity() const {
    return Clock::time_point(Clock::duration(last_activity_.load()));
  }
  void SetLastActivity(Clock::time_point when) {
    last_activity_.store(when.time_since_epoch().count());
  }

  // "127.0.0.2:700 via relay 127.0.0.1:1080" for log lines.
  std::string Where() const;

 private:
  friend class TZelConnexionThread;
  // Called by a thread as it ends: records the reason, deactivates the socket and
  // wakes the other thread, so that both end together.
  void ThreadEnded(bool send, const std::string& reason);
  void ReportProgress(std::int64_t position, std::int64_t size);

  Guid target_id_;
  std::int32_t number_;
  Clock::time_point connect_time_{};
  std::atomic<Clock::rep> last_activity_{0};
  std::unique_ptr<TZelClientSocket> socket_;
  std::unique_ptr<TZelConnexionThread> receive_thread_;
  std::unique_ptr<TZelConnexionThread> send_thread_;
  int port_ = 0;
  std::string address_;
  std::string peer_name_;
  std::uint8_t transport_ = kTransportTcp;
  TxSocksInfo socks_;
  std::atomic<bool> connecting_{false};
  bool pause_between_attempts_ = false;
  mutable std::mutex text_mutex_;  // guards the two below
  Status last_error_;
  std::string end_reason_;
  ReceiveProgressSink* manager_ = nullptr;
  TZelConnexionsListByMe* list_ = nullptr;
  char data_kind_ = ' ';
  bool heavy_ = false;
  SocketConnector connector_;
  ConnexionTimings timings_;
  FrameFolders folders_;
  IncomingObjectTarget* delivery_target_ = nullptr;
};

}  // namespace quorvane
