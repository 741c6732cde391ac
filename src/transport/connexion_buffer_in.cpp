#include "transport/connexion_buffer_in.h"

#include "model/object_stream.h"
#include "model/stream_format.h"
#include "objects/answers.h"
#include "objects/protocol.h"
#include "settings/site.h"
#include "transport/bzip_block.h"
#include "transport/objects_stack.h"
#include "transport/zel_event.h"
#include "util/diagnostic_log.h"
#include "util/text.h"

namespace quorvane {
namespace {

constexpr int kTextEventKind = 1;
constexpr std::size_t kTextEventLimit = 255;

}  // namespace

const ClassInfo& TZelConnexionBufferIn::StaticClass() {
  static const ClassInfo info =
      MakeClassInfo("TZelConnexionBufferIn", &TZelConnexionBuffer::StaticClass(), {});
  return info;
}

TZelConnexionBufferIn::TZelConnexionBufferIn(TZelObject* owner)
    : TZelConnexionBufferIn(owner, FrameFolders()) {}

TZelConnexionBufferIn::TZelConnexionBufferIn(TZelObject* owner, FrameFolders folders)
    : TZelConnexionBuffer(owner, StaticClass(), std::move(folders)), reassembler_(*this) {
  SetName(Name() + "In");
  SetIncoming();
  SetAuthenticated(false);
  authentication_ = std::make_unique<TZelFlagEvent>(this);
  memory_ = std::make_shared<MemoryAccount>(Site().connection_memory_budget);
}

TZelConnexionBufferIn::~TZelConnexionBufferIn() = default;

void TZelConnexionBufferIn::Receive(const std::uint8_t* block, int count) {
  if (IsShutDown() || block == nullptr || count <= 0) return;
  std::lock_guard guard(Mutex());
  try {
    reassembler_.Feed(block, static_cast<std::size_t>(count));
  } catch (...) {
    // The delivery is lost with the error; start again from a header.
    HandleException();
    reassembler_.Reset();
    RemoveFrame(current_);
    current_ = nullptr;
  }
}

bool TZelConnexionBufferIn::BeginFrame(std::int64_t expected) {
  try {
    current_ = NewFrame(std::string(), nullptr);
  } catch (...) {
    // The frame's bytes are still consumed (and dropped) to stay in step.
    HandleException();
    current_ = nullptr;
    return !IsShutDown();
  }
  if (current_ == nullptr) return false;
  current_->SetExpectedLength(expected);
  return true;
}

bool TZelConnexionBufferIn::WritePayload(const std::uint8_t* bytes, std::size_t n) {
  if (current_ == nullptr) return false;
  if (WriteToFrame(current_, bytes, n)) return true;
  current_->SetFailed();
  return false;
}

void TZelConnexionBufferIn::PayloadProgress(std::int64_t have, std::int64_t expected) {
  SetCurrent(have, expected);
}

void TZelConnexionBufferIn::EndFrame(const FrameTrailerFields& trailer, bool failed) {
  TxTrame* frame = current_;
  current_ = nullptr;
  if (frame != nullptr) {
    frame->SetTrailer(trailer.kind, trailer.compression);
    if (failed || frame->Failed() || !MarkReady(frame)) {
      if (!failed && !frame->Failed())
        DiagnosticLog("transport",
                      "frame " + frame->Path() + " dropped: its file cannot be flushed");
      RemoveFrame(frame);
    }
  }
  ClearCurrent();
}

void TZelConnexionBufferIn::BadHeader(const std::uint8_t* bytes, std::size_t n) {
  const std::int32_t count = CountBadFrame();
  CountFrame();  // the frame begun for the header still takes a number
  if (count > kMaxBadFrameDumps) return;
  try {
    TxTrame* dump = NewFrame(FreshToken() + "BadTrame" + std::to_string(count), nullptr);
    WriteToFrame(dump, bytes, n);
    Enqueue(dump);
  } catch (...) {
    HandleException();
  }
}

void TZelConnexionBufferIn::DeliverReady() {
  if (IsShutDown()) return;
  Trace("TryStackObject Begin");
  {
    std::lock_guard guard(Mutex());
    while (TxTrame* frame = FirstReady()) {
      const std::int64_t need = MemoryNeedOf(frame);
      if (need > memory_->Budget()) {
        DiagnosticLog("transport", "frame " + frame->Path() + " dropped: decoding it needs " +
                                       std::to_string(need) + " bytes, over the budget of " +
                                       std::to_string(memory_->Budget()));
      } else if (need >= 0 && !memory_->TryTake(need)) {
        waiting_need_ = need;  // stays queued until popped objects give room back
        break;
      } else {
        waiting_need_ = 0;
        MemoryCharge charge(memory_, std::max<std::int64_t>(need, 0));
        try {
          Dispatch(frame, std::move(charge));
        } catch (...) {
          HandleException();
        }
      }
      AddDone(frame->Size());
      RemoveFrame(frame);
    }
    if (FirstReady() == nullptr) {
      waiting_need_ = 0;
      ResetCounters();
    }
  }
  Trace("TryStackObject End");
}

bool TZelConnexionBufferIn::OverBudget() const {
  const std::int64_t waiting = waiting_need_.load();
  return waiting > 0 ? waiting > memory_->Available() : memory_->Available() <= 0;
}

bool TZelConnexionBufferIn::WaitForRoom(std::uint32_t timeout_ms) {
  const std::int64_t waiting = waiting_need_.load();
  const bool room = memory_->WaitForRoom(waiting > 0 ? waiting : 1, timeout_ms);
  return room && !IsShutDown();
}

std::int64_t TZelConnexionBufferIn::MemoryNeedOf(TxTrame* frame) {
  if (frame == nullptr || !frame->IsOpen()) return -1;
  std::int64_t need = frame->Size();
  if (frame->Compression() == kCompressed && frame->Size() >= 4) {
    std::uint8_t head[2] = {};
    std::uint8_t tail[4] = {};
    if (!frame->ReadAt(0, head, 2) || !frame->ReadAt(frame->Size() - 4, tail, 4)) return -1;
    if (head[0] == 'B' && head[1] == 'Z') {
      const std::uint32_t recorded =
          static_cast<std::uint32_t>(tail[0]) | static_cast<std::uint32_t>(tail[1]) << 8 |
          static_cast<std::uint32_t>(tail[2]) << 16 | static_cast<std::uint32_t>(tail[3]) << 24;
      // A negative recorded length (above 2 GiB - 1) claims more than any budget.
      need += recorded > 0x7FFFFFFFu ? std::int64_t{1} << 32 : std::int64_t{recorded};
    }
  }
  return need;
}

void TZelConnexionBufferIn::Dispatch(TxTrame* frame) {
  Dispatch(frame, MemoryCharge());
}

void TZelConnexionBufferIn::Dispatch(TxTrame* frame, MemoryCharge charge) {
  if (IsShutDown() || frame == nullptr || !frame->IsOpen()) return;
  frame->Rewind();
  std::string stream(static_cast<std::size_t>(frame->Size()), '\0');
  stream.resize(frame->ReadBytes(stream.data(), stream.size()));
  if (frame->Compression() == kCompressed) {
    // The output may take what the charge holds for it (the recorded length) and
    // whatever else the budget has left. A block whose length is missing or wrong
    // still decompresses, but only up to kUnrecordedOutputLimit beyond its claim,
    // so a peer that lies about the length costs a bounded amount of decoding.
    const std::int64_t recorded =
        std::max<std::int64_t>(charge.Bytes() - static_cast<std::int64_t>(stream.size()), 0);
    const std::int64_t room =
        std::min(recorded + memory_->Available(), std::max(recorded, kUnrecordedOutputLimit));
    std::string decoded = DecompressBlock(stream.data(), stream.size(), room);
    stream.swap(decoded);
  }
  // From here on the decoded stream (and then the object read from it) is what
  // the frame holds.
  charge.Resize(static_cast<std::int64_t>(stream.size()));
  ClearCurrent();
  switch (frame->Kind()) {
    case kKindSound:
    case kKindImage:
      // Their receivers belong to the application object, which this program lacks.
      break;
    case kKindText:
      if (stream.size() > kTextEventLimit) stream.resize(kTextEventLimit);
      PostEvent(*this, std::make_unique<TZelEvent>(kTextEventKind, false, nullptr, stream, 0, 0,
                                                   std::string(), std::string()));
      break;
    default:
      DispatchObject(stream, std::move(charge));
      break;
  }
}

void TZelConnexionBufferIn::DispatchObject(std::string& stream, MemoryCharge charge) {
  if (stream.size() > 4 && stream.compare(0, 4, kStreamSignature) != 0) return;
  std::unique_ptr<TZelObject> object;
  try {
    object = ObjectFromStream(stream);
  } catch (...) {
    return;  // unreadable objects are dropped without a report
  }
  std::string().swap(stream);
  // The object outlives this buffer on the stack, so it takes the buffer's links
  // without becoming its child.
  object->SetStackManager(StackManager());
  object->SetDataTransfer(DataTransfer());
  object->SetIdentification(Identification());
  if (object->Name().empty()) object->SetName(object->ClassName() + "_" + FreshToken());
  object->SetZelConnexionID(ZelConnexionID());

  const auto* answer = dynamic_cast<const TZelSObjectAnswer*>(object.get());
  if (answer != nullptr && answer->TypeCode() == tvo_Answer) {
    const TStringList& items = *answer->ZelItems;
    if (answer->ZelWhat == protocol::kHeaderInfo) {
      SetCurrentObject(items.Value(protocol::kItemId).substr(0, 38),
                       items.Value(protocol::kItemCaption));
      return;
    }
    if (answer->ZelWhat == protocol::kAuthentication) {
      Guid peer;
      const std::string text = Trim(items.Value(protocol::kItemId));
      if (text.size() == 38) {
        try {
          peer = GuidFromString(text);
        } catch (...) {
          peer = Guid{};
        }
      }
      {
        std::lock_guard guard(peer_mutex_);
        peer_id_ = peer;
      }
      SetAuthenticated(true);
      authentication_->Set();
      return;
    }
  }
  IncomingObjectSink* sink = StackManager();
  if (sink == nullptr) return;
  if (auto* stack = dynamic_cast<TZelObjectsStackManager*>(sink))
    stack->Push(std::move(object), std::move(charge));
  else
    sink->Push(std::move(object));
}

bool TZelConnexionBufferIn::WaitForAuthentication(std::uint32_t timeout_ms) {
  if (IsAuthenticated() || !authentication_) return true;
  const bool signaled = authentication_->WaitAndReset(timeout_ms) == WaitResult::kSignaled;
  return (signaled || IsAuthenticated()) && !IsShutDown();
}

bool TZelConnexionBufferIn::IsAuthenticatedAs(const Guid& id, std::uint32_t timeout_ms) {
  WaitForAuthentication(timeout_ms);
  if (!IsAuthenticated()) return false;
  return GuidToString(PeerId()) == GuidToString(id);
}

Guid TZelConnexionBufferIn::PeerId() const {
  std::lock_guard guard(peer_mutex_);
  return peer_id_;
}

}  // namespace quorvane
