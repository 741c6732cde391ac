#include "transport/connexion_buffer_in.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>

#include "model/object_stream.h"
#include "model/stream_format.h"
#include "objects/answers.h"
#include "objects/protocol.h"
#include "settings/site.h"
#include "transport/bzip_block.h"
#include "transport/exception_text.h"
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
  frame_limit_ = memory_->Budget();
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
  write_error_.clear();
  if (expected > FrameLimit()) {
    // The header tells the length: such a frame would only be dropped once
    // whole, so none of it is written. Its bytes are consumed to stay in step.
    current_ = nullptr;
    DiagnosticLog("transport", Name() + ": received frame " + std::to_string(FrameCount() + 1) +
                                   " of " + std::to_string(expected) +
                                   " bytes refused at its header: over the frame limit of " +
                                   std::to_string(FrameLimit()));
    return !IsShutDown();
  }
  try {
    // A small frame stays in memory: no file to create, flush and delete for it.
    current_ = expected <= memory_frame_limit_.load() ? NewMemoryFrame()
                                                      : NewFrame(std::string(), nullptr);
  } catch (...) {
    // The frame's bytes are still consumed (and dropped) to stay in step.
    current_ = nullptr;
    if (IsShutDown()) return false;
    DiagnosticLog("transport", Name() + ": received frame " + std::to_string(FrameCount() + 1) +
                                   " of " + std::to_string(expected) +
                                   " bytes dropped: its file cannot be made in " +
                                   Folders().frames + ": " + ExceptionText());
    return true;
  }
  if (current_ == nullptr) return false;
  current_->SetExpectedLength(expected);
  return true;
}

bool TZelConnexionBufferIn::WritePayload(const std::uint8_t* bytes, std::size_t n) {
  if (current_ == nullptr) return false;
  errno = 0;
  if (WriteToFrame(current_, bytes, n)) return true;
  const int error = errno;
  write_error_ = error != 0 ? std::strerror(error) : "short write";
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
    const std::string size = std::to_string(frame->ExpectedLength()) + " bytes";
    if (frame->Failed()) {
      DiagnosticLog("transport", "received frame " + frame->Path() + " of " + size +
                                     " dropped: its payload could not be written after " +
                                     std::to_string(frame->Size()) + " bytes: " + write_error_);
      RemoveFrame(frame);
    } else if (failed) {
      DiagnosticLog("transport",
                    "received frame " + frame->Path() + " of " + size + " dropped: it ended badly");
      RemoveFrame(frame);
    } else if (!MarkReady(frame)) {
      if (!IsShutDown())
        DiagnosticLog("transport", "received frame " + frame->Path() + " of " + size +
                                       " dropped: its file cannot be flushed");
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
      // Whatever the frame decodes to costs at least an object's own memory.
      const std::int64_t charged = std::max<std::int64_t>(need, 0) + kObjectMemoryCost;
      if (need > FrameLimit()) {
        DiagnosticLog("transport", "frame " + frame->Path() + " dropped: decoding it needs " +
                                       std::to_string(need) + " bytes, over the limit of " +
                                       std::to_string(FrameLimit()));
      } else if (!memory_->TryTake(charged)) {
        waiting_need_ = charged;  // stays queued until popped objects give room back
        break;
      } else {
        waiting_need_ = 0;
        MemoryCharge charge(memory_, charged);
        try {
          Dispatch(frame, std::move(charge));
        } catch (...) {
          DiagnosticLog("transport",
                        "received frame " + frame->Path() + " of " + std::to_string(frame->Size()) +
                            " bytes dropped: it cannot be decoded: " + ExceptionText());
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

void TZelConnexionBufferIn::SetMemoryBudget(std::int64_t bytes) {
  memory_->SetBudget(bytes);
  frame_limit_ = std::max<std::int64_t>(bytes, 0);
}

void TZelConnexionBufferIn::SetQueueBudget(std::int64_t bytes) {
  memory_->SetBudget(std::min<std::int64_t>(bytes, frame_limit_.load()));
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
    // A bzip2 block is decoded from its file a chunk at a time: only its output
    // (the recorded length) is held in memory.
    std::uint8_t head[2] = {};
    std::uint8_t tail[4] = {};
    if (!frame->ReadAt(0, head, 2) || !frame->ReadAt(frame->Size() - 4, tail, 4)) return -1;
    if (head[0] == 'B' && head[1] == 'Z') {
      const std::uint32_t recorded =
          static_cast<std::uint32_t>(tail[0]) | static_cast<std::uint32_t>(tail[1]) << 8 |
          static_cast<std::uint32_t>(tail[2]) << 16 | static_cast<std::uint32_t>(tail[3]) << 24;
      // A negative recorded length (above 2 GiB - 1) claims more than any budget.
      need = recorded > 0x7FFFFFFFu ? std::int64_t{1} << 32 : std::int64_t{recorded};
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
  std::string stream;
  if (frame->Compression() == kCompressed) {
    // Decoded straight from the frame file, so the compressed bytes are never
    // held beside the output. The output may take what the charge holds for it
    // (the recorded length) and whatever else the budget has left. A block whose
    // length is missing or wrong still decompresses, but only up to
    // kUnrecordedOutputLimit beyond its claim, so a peer that lies about the
    // length costs a bounded amount of decoding.
    const std::int64_t recorded = std::max<std::int64_t>(charge.Bytes() - kObjectMemoryCost, 0);
    const std::int64_t room =
        std::min(recorded + memory_->Available(), std::max(recorded, kUnrecordedOutputLimit));
    stream = DecompressBlockFrom(
        frame->Size(),
        [frame](std::int64_t offset, void* buffer, std::size_t count) {
          return frame->ReadAt(offset, buffer, count);
        },
        room);
  } else {
    stream.resize(static_cast<std::size_t>(frame->Size()));
    stream.resize(frame->ReadBytes(stream.data(), stream.size()));
  }
  // From here on the decoded stream (and then the object read from it) is what
  // the frame holds.
  charge.Resize(static_cast<std::int64_t>(stream.size()) + kObjectMemoryCost);
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
  const std::size_t size = stream.size();
  if (size > 4 && stream.compare(0, 4, kStreamSignature) != 0) {
    DiagnosticLog("transport", Name() + ": received object of " + std::to_string(size) +
                                   " bytes dropped: it does not begin with the stream signature");
    return;
  }
  std::unique_ptr<TZelObject> object;
  try {
    // The reader takes the stream: a file's contents become the object's own
    // storage instead of a second copy.
    ObjectReader reader(std::move(stream), ObjectReader::Owning{});
    object = reader.ReadRootObject();
    // Its list items cost more than their bytes in the stream; the reader knows how much.
    charge.Resize(charge.Bytes() + static_cast<std::int64_t>(reader.OverheadCharged()));
  } catch (...) {
    DiagnosticLog("transport", Name() + ": received object of " + std::to_string(size) +
                                   " bytes dropped: it cannot be read: " + ExceptionText());
    return;
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
          DiagnosticLog("transport", Name() + ": \"" + std::string(protocol::kAuthentication) +
                                         "\" names no identifier (" + text +
                                         "): the peer counts as the null one");
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
  if (target_ != nullptr)
    target_->Push(std::move(object), std::move(charge));
  else if (IncomingObjectSink* sink = StackManager())
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
