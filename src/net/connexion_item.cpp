#include "net/connexion_item.h"

#include "net/connection_status.h"
#include "objects/answers.h"
#include "objects/protocol.h"
#include "transport/zel_event.h"
#include "util/codec.h"
#include "util/diagnostic_log.h"
#include "util/text.h"
#include "util/tick.h"

namespace quorvane {
namespace {

using literals::operator""_w;

std::atomic<std::int32_t> g_item_numbers{0};

// How long the receive thread waits for memory at a time before it looks at Stop.
constexpr std::uint32_t kRoomWaitSliceMs = 100;

std::string FreshSuffix() {
  return FileSafeId(GuidToString(NewGuid()));
}

void PostThreadEnd(const TZelObject& sender) {
  // Without an application the event is dropped (and freed) by PostEvent.
  PostEvent(sender, std::make_unique<TZelEvent>(kEventEndOfThread, false, nullptr, 0, 0,
                                                std::string(kCommandDeleteDeadItems),
                                                std::string(kTypeIdConnexionList)));
}

}  // namespace

std::string DataKindName(char kind, bool heavy, bool english) {
  switch (kind) {
    case 'N':
      return english ? std::string("objects data ") + (heavy ? "fat" : "thin")
                     : "données objets "_w + (heavy ? "lourds" : "légers"_w);
    case 'W':
      return english ? "images data" : "données images"_w;
    case 'P':
      return english ? "sound data" : "données sons"_w;
    case 'T':
      return english ? "text data" : "données textes"_w;
    default:
      return english ? "unknow type " : "type inconnu";
  }
}

std::string_view TransportName(std::uint8_t transport) {
  return transport == kTransportUdp ? "UDP" : "TCP";
}

// --- threads -------------------------------------------------------------------

TZelConnexionThread::TZelConnexionThread(TZelConnexionByMeItem& item, bool send)
    : item_(item), send_(send) {
  lock_object_ = std::make_unique<TZelObject>(&item);
  lock_object_->SetName((send ? "ThreadSend_" : "ThreadReceive_") + FreshSuffix());
  lock_object_->SetTypeId(send ? kTypeIdThreadSend : kTypeIdThreadReceive);
  lock_object_->SetNotPersistent();
  lock_object_->SetZelConnexionID(item.Number());
  stream_ = std::make_unique<TZelSocketStream>(lock_object_.get(), item.Timings().io_timeout_ms,
                                               item.Socket()->Stream());
  if (send) {
    out_ = std::make_unique<TZelConnexionBufferOut>(lock_object_.get(), item.Folders());
    out_->SetZelConnexionID(item.Number());
    out_->SetTransport(item.Socket()->Transport() == kTransportUdp);
  } else {
    in_ = std::make_unique<TZelConnexionBufferIn>(lock_object_.get(), item.Folders());
    in_->SetZelConnexionID(item.Number());
    in_->SetDeliveryTarget(item.DeliveryTarget());
    if (item.Timings().incoming_queue_budget > 0)
      in_->SetQueueBudget(item.Timings().incoming_queue_budget);
  }
}

TZelConnexionThread::~TZelConnexionThread() {
  Terminate();
  Join();
  out_.reset();
  in_.reset();
  stream_.reset();
}

void TZelConnexionThread::Resume() {
  if (thread_.joinable() || terminated_.load()) return;
  thread_ = std::thread([this] { send_ ? ExecuteSend() : ExecuteReceive(); });
}

void TZelConnexionThread::Terminate() {
  terminated_.store(true);
  stream_->Cancel();
  if (out_) out_->Shutdown();
  if (in_) in_->Shutdown();
}

void TZelConnexionThread::Join() {
  if (thread_.joinable()) thread_.join();
}

void TZelConnexionThread::RunLoop(const std::function<std::optional<std::string>()>& step) {
  const TZelClientSocket& socket = *item_.Socket();
  std::string reason = "stopped";
  while (!terminated_.load() && socket.Active()) {
    try {
      if (std::optional<std::string> end = step()) {
        reason = std::move(*end);
        break;
      }
    } catch (const std::exception& error) {
      lock_object_->HandleException();
      reason = std::string("exception: ") + error.what();
      break;
    } catch (...) {
      lock_object_->HandleException();
      reason = "exception";
      break;
    }
  }
  if (terminated_.load())
    reason = "stopped";
  else if (!socket.Active() && reason == "stopped")
    reason = "socket closed";
  item_.ThreadEnded(send_, reason);
  PostThreadEnd(*lock_object_);
  ended_.store(true);
}

void TZelConnexionThread::ExecuteSend() {
  const TZelClientSocket& socket = *item_.Socket();
  out_->Signal();  // whatever was queued before the start goes out at once
  RunLoop([&]() -> std::optional<std::string> {
    // The result is not trusted: a wake-up can be lost between a timed-out wait
    // and its reset, so the ready list is drained after every return.
    out_->WaitForWork(static_cast<std::uint32_t>(item_.Timings().io_timeout_ms));
    if (terminated_.load() || out_->IsShutDown()) return "stopped";
    for (;;) {
      Chunk chunk = out_->TakeChunkLocked(kMaxChunk);
      if (chunk.count <= 0 || !socket.Active()) return std::nullopt;
      const IoResult written =
          stream_->Write(chunk.block.get(), static_cast<std::size_t>(chunk.count));
      if (written.status != IoStatus::kOk)
        return "write " + IoStatusText(written) + " after " + std::to_string(written.count) +
               " of " + std::to_string(chunk.count) + " bytes";
      item_.Touch();
    }
  });
}

void TZelConnexionThread::ExecuteReceive() {
  std::vector<std::uint8_t> block;
  RunLoop([&]() -> std::optional<std::string> {
    if (in_->ReadyCount() > 0) {
      // Back-pressure: frames already read wait for room in the connection's
      // memory budget, so the socket is not read until the main thread pops
      // objects. The frames themselves, not the room left, decide: once a pop
      // makes room nothing but this loop delivers them, and the peer may have
      // sent its last byte already. The wait is cut into short slices because
      // only popping, not Stop, releases it.
      if (in_->WaitForRoom(kRoomWaitSliceMs)) in_->DeliverReady();
      return std::nullopt;
    }
    if (!stream_->WaitForData(item_.Timings().io_timeout_ms)) return std::nullopt;
    if (!stream_->ReadInto(block)) {
      const IoResult& last = stream_->LastRead();
      return stream_->Cancelled()                ? "stopped"
             : last.status == IoStatus::kClosed  ? "closed by peer"
             : last.status == IoStatus::kTimeout ? "read timed out"
                                                 : "read " + IoStatusText(last);
    }
    in_->Receive(block.data(), static_cast<int>(block.size()));
    in_->DeliverReady();
    item_.Touch();
    // After a bad header the stream is out of step: every later delivery would
    // be garbage, so the connection ends here rather than producing dumps.
    if (in_->BadFrameCount() > 0) return "bad frame header from the peer";
    item_.ReportProgress(in_->CurrentPosition(), in_->CurrentSize());
    return std::nullopt;
  });
}

// --- item ----------------------------------------------------------------------

const ClassInfo& TZelConnexionByMeItem::StaticClass() {
  static const ClassInfo info =
      MakeClassInfo("TZelConnexionByMeItem", &TZelObject::StaticClass(), {});
  return info;
}

TZelConnexionByMeItem::TZelConnexionByMeItem(TZelObject* parent)
    : TZelObject(parent, StaticClass()),
      number_(++g_item_numbers),
      folders_(FrameFolders::Default()) {
  SetName("ItemConByMe_" + FreshSuffix());
  SetTypeId(kTypeIdConnexionItem);
  SetNotPersistent();
  Touch();
}

TZelConnexionByMeItem::~TZelConnexionByMeItem() {
  Stop();
  Close();
}

void TZelConnexionByMeItem::Configure(std::uint8_t transport, char data_kind,
                                      const std::string& peer_name, const Guid& target_id,
                                      const TxSocksInfo& socks, const std::string& address,
                                      int port, bool heavy) {
  transport_ = transport;
  data_kind_ = data_kind;
  peer_name_ = peer_name;
  target_id_ = target_id;
  socks_.Assign(socks);
  address_ = Trim(address);
  port_ = transport == kTransportUdp ? port + 10 : port;
  heavy_ = heavy;
}

void TZelConnexionByMeItem::SetOwners(ReceiveProgressSink* manager, TZelConnexionsListByMe* list) {
  manager_ = manager;
  list_ = list;
}

void TZelConnexionByMeItem::ClearLastError() {
  std::lock_guard guard(text_mutex_);
  last_error_ = Status::Ok();
}

Status TZelConnexionByMeItem::LastError() const {
  std::lock_guard guard(text_mutex_);
  return last_error_;
}

std::string TZelConnexionByMeItem::EndReason() const {
  std::lock_guard guard(text_mutex_);
  return end_reason_;
}

void TZelConnexionByMeItem::CloseSocket() {
  if (socket_ && socket_->Active()) socket_->DeactivateSocket();
}

std::string TZelConnexionByMeItem::Where() const {
  std::string text = address_ + ":" + std::to_string(port_);
  if (socks_.Version != toprx_Nop && transport_ == kTransportTcp)
    text += " via relay " + socks_.Address + ":" + std::to_string(socks_.Port);
  return text;
}

bool TZelConnexionByMeItem::Start() {
  TZelObject::Start();
  auto fail = [this](const std::string& text) {
    std::lock_guard guard(text_mutex_);
    last_error_ = Status::Error(Where(), text);
    return false;
  };
  if (socket_) return fail("Already open");
  if (port_ <= 0 || address_.empty()) return fail("Not a valid target");

  socket_ = std::make_unique<TZelClientSocket>(nullptr, connector_);
  socket_->SetPort(port_);
  socket_->SetAddress(address_);
  socket_->Socks().Assign(socks_);
  socket_->SetTransport(transport_);
  socket_->SetTimeouts(timings_.connect_timeout_ms, timings_.socks_reply_timeout_ms);
  socket_->on_connect = [this](TZelClientSocket&) { connecting_.store(false); };
  socket_->on_error = [this](TZelClientSocket&, const std::string&) { connecting_.store(false); };

  constexpr int kAttempts = 2;
  for (int attempt = 1; attempt <= kAttempts; ++attempt) {
    connecting_.store(true);
    DiagnosticLog("net", "connect attempt " + std::to_string(attempt) + "/2 to " + Where());
    try {
      socket_->ActivateSocket();
    } catch (const ESocketOpenError& error) {
      fail(error.what());
      DiagnosticLog("net", "connect attempt " + std::to_string(attempt) + "/2 to " + Where() +
                               ": " + std::string(SocketFailureText(error.failure())) + " (" +
                               error.what() + ")");
    } catch (const std::exception& error) {
      fail(error.what());
      DiagnosticLog("net", "connect attempt " + std::to_string(attempt) + "/2 to " + Where() +
                               ": failed (" + error.what() + ")");
    }
    connecting_.store(false);
    if (socket_->Active()) break;
    if (pause_between_attempts_ && attempt < kAttempts)
      SleepMs(static_cast<std::uint32_t>(timings_.attempt_pause_ms));
  }
  if (!socket_->Active()) {
    socket_.reset();
    return false;
  }
  connect_time_ = Clock::now();
  Touch();
  DiagnosticLog("net", "connected to " + Where() + " (connection " + std::to_string(number_) +
                           ", local " + socket_->LocalAddress() + ")");
  send_thread_ = std::make_unique<TZelConnexionThread>(*this, true);
  receive_thread_ = std::make_unique<TZelConnexionThread>(*this, false);
  return true;
}

void TZelConnexionByMeItem::Run() {
  if (send_thread_) send_thread_->Resume();
  if (receive_thread_) receive_thread_->Resume();
}

bool TZelConnexionByMeItem::Stop() {
  // Each thread is told to end, the stream is shut down (which wakes a blocked
  // poll at once), and the thread is joined; the descriptor is closed by Close.
  if (receive_thread_) {
    receive_thread_->Terminate();
    CloseSocket();
    if (socket_ && socket_->Stream() != nullptr) socket_->Stream()->Shutdown();
    receive_thread_->Join();
  }
  if (send_thread_) {
    send_thread_->Terminate();
    CloseSocket();
    if (socket_ && socket_->Stream() != nullptr) socket_->Stream()->Shutdown();
    send_thread_->Join();
  }
  TZelObject::Stop();
  return true;
}

bool TZelConnexionByMeItem::Close() {
  // Threads first (their destructors join), then the socket and its descriptor.
  receive_thread_.reset();
  send_thread_.reset();
  socket_.reset();
  TZelObject::Close();
  return true;
}

void TZelConnexionByMeItem::ThreadEnded(bool send, const std::string& reason) {
  const bool first = [&] {
    std::lock_guard guard(text_mutex_);
    const bool was_empty = end_reason_.empty();
    if (was_empty) end_reason_ = reason;
    return was_empty;
  }();
  if (first && reason != "stopped") {
    DiagnosticLog("net", "connection " + std::to_string(number_) + " to " + Where() + " dropped (" +
                             (send ? "send" : "receive") + " thread): " + reason);
  }
  CloseSocket();
  // Wake the other thread so both end together.
  if (send && receive_thread_) receive_thread_->Stream().Cancel();
  if (!send && send_thread_ && send_thread_->Out() != nullptr) send_thread_->Out()->Signal();
}

void TZelConnexionByMeItem::ReportProgress(std::int64_t position, std::int64_t size) {
  if (manager_ != nullptr) manager_->SetReceiveProgress(position, size);
}

void TZelConnexionByMeItem::Announce() {
  if (transport_ != kTransportTcp || !send_thread_ || send_thread_->Out() == nullptr) return;
  TZelSObjectAnswer answer;
  answer.ZelWhat = std::string(protocol::kAuthentication);
  // This program has no current user: the null identifier names it.
  answer.AddItem(protocol::kItemId, kNullIdText);
  send_thread_->Out()->SendObject(answer);
}

bool TZelConnexionByMeItem::IsAcknowledged() {
  if (transport_ == kTransportUdp) return true;
  if (!receive_thread_ || receive_thread_->In() == nullptr) return false;
  // Waits in short slices so that a peer that hangs up without a word is given up
  // at once rather than after the whole time-out.
  TZelConnexionBufferIn& in = *receive_thread_->In();
  const auto deadline = Clock::now() + std::chrono::milliseconds(timings_.acknowledge_timeout_ms);
  while (!in.IsAuthenticated() && !receive_thread_->Ended()) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    in.WaitForAuthentication(static_cast<std::uint32_t>(std::min<std::int64_t>(left, 50)));
  }
  const bool acknowledged = in.IsAuthenticatedAs(target_id_, 0);
  if (!acknowledged) {
    std::string why;
    if (in.IsAuthenticated())
      why = "peer named " + GuidToString(in.PeerId()) + ", not " + GuidToString(target_id_);
    else if (receive_thread_->Ended())
      why = "closed before its \"" + std::string(protocol::kAuthentication) + "\" (" + EndReason() +
            ")";
    else
      why = "no \"" + std::string(protocol::kAuthentication) + "\" within " +
            std::to_string(timings_.acknowledge_timeout_ms) + " ms (server silent)";
    DiagnosticLog("net", "connection " + std::to_string(number_) + " to " + Where() + ": " + why);
  }
  return acknowledged;
}

bool TZelConnexionByMeItem::Matches(const Guid& target, std::uint8_t transport, bool heavy,
                                    char data_kind) const {
  return target == target_id_ && transport == transport_ && heavy == heavy_ &&
         data_kind == data_kind_;
}

void TZelConnexionByMeItem::Send(TZelObject& object) {
  if (send_thread_ && send_thread_->Out() != nullptr) send_thread_->Out()->SendObject(object);
}

namespace {
const TZelConnexionBufferIn* InOf(const std::unique_ptr<TZelConnexionThread>& thread) {
  return thread ? thread->In() : nullptr;
}
}  // namespace

std::int64_t TZelConnexionByMeItem::Done() const {
  const auto* in = InOf(receive_thread_);
  return in ? in->Done() : 0;
}
std::int64_t TZelConnexionByMeItem::Total() const {
  const auto* in = InOf(receive_thread_);
  return in ? in->Total() : 0;
}
int TZelConnexionByMeItem::Percent() const {
  const auto* in = InOf(receive_thread_);
  return in ? in->Percent() : 0;
}
std::int64_t TZelConnexionByMeItem::CurrentPosition() const {
  const auto* in = InOf(receive_thread_);
  return in ? in->CurrentPosition() : 0;
}
std::int64_t TZelConnexionByMeItem::CurrentSize() const {
  const auto* in = InOf(receive_thread_);
  return in ? in->CurrentSize() : 0;
}
int TZelConnexionByMeItem::CurrentPercent() const {
  const auto* in = InOf(receive_thread_);
  return in ? in->CurrentPercent() : 0;
}
std::string TZelConnexionByMeItem::CurrentId() const {
  const auto* in = InOf(receive_thread_);
  return in ? in->CurrentId() : std::string();
}

std::string TZelConnexionByMeItem::Caption() const {
  std::string text = " User[" + GuidToString(target_id_) + "] Port[" + std::to_string(port_) +
                     "] IP[" + address_ + "]";
  if (IsActive()) {
    text += " Active ";
    text += " Adrs[" + socket_->RemoteAddress() + "]";
  }
  return text;
}

}  // namespace quorvane
