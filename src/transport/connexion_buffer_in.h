// TZelConnexionBufferIn: the incoming side of a connection. Receive pours socket bytes
// in (payloads go straight into frame files), DeliverReady decodes complete frames and
// pushes the objects onto the incoming stack; the control answers "HeaderInfo" and
// "Atfctn" are consumed here. Receive and DeliverReady run on the receive thread and
// take the buffer lock; the authentication calls may come from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "transport/connexion_buffer.h"
#include "transport/frame_reassembler.h"
#include "transport/memory_account.h"
#include "transport/object_target.h"
#include "util/guid.h"

namespace quorvane {

inline constexpr std::uint32_t kAuthenticationWaitMs = 10'000;
// A received block decompresses to at most its recorded length, or to this when
// the recorded length is smaller (missing or wrong): a lying peer costs at most
// this much decoding, not the whole memory budget.
inline constexpr std::int64_t kUnrecordedOutputLimit = std::int64_t{64} << 20;
// A received frame whose payload is at most this is held in memory, not in a
// file under the frame folder (file creation dominates the cost of small frames).
inline constexpr std::int64_t kMemoryFrameLimit = std::int64_t{256} << 10;
// What a decoded object holds beyond the bytes of its stream and the reader's
// charge for its list items: the object, its property table, its lock, its name
// and its place on the stack (an answer measures about 4.2 KiB beyond its
// stream, a file object about 4.7 KiB: BM_TinyObjects in
// bench/transport_bench.cpp). Every object is
// charged this much more, so a flood of tiny objects fills the budget as fast as
// it fills memory.
inline constexpr std::int64_t kObjectMemoryCost = std::int64_t{5} << 10;

class TZelConnexionBufferIn : public TZelConnexionBuffer, private FrameSink {
 public:
  // After a bad header almost every later delivery is bad too; only this many dumps
  // are written per buffer so a broken peer cannot fill the disk.
  static constexpr std::int32_t kMaxBadFrameDumps = 4;

  explicit TZelConnexionBufferIn(TZelObject* owner);
  TZelConnexionBufferIn(TZelObject* owner, FrameFolders folders);
  ~TZelConnexionBufferIn() override;

  static const ClassInfo& StaticClass();

  // Adds one delivery to the reassembly. The bytes are only read: unlike the socket
  // block contract of old, kept bytes are joined in a buffer of the reassembler.
  void Receive(const std::uint8_t* block, int count);
  // Decodes every ready frame in order. A frame whose decoding fails is reported
  // and dropped, so the frames behind it are still delivered. A frame that does
  // not fit in the memory budget now stays queued (see WaitForRoom); one that
  // could never fit is dropped.
  void DeliverReady();
  void Dispatch(TxTrame* frame);
  // The same, the frame's memory held by `charge`, which the object then keeps.
  void Dispatch(TxTrame* frame, MemoryCharge charge);

  // Where decoded objects go with their charges (the incoming stack). Without
  // one they go, uncharged, to the incoming-stack link of the buffer.
  void SetDeliveryTarget(IncomingObjectTarget* target) { target_ = target; }

  // --- memory budget -----------------------------------------------------------
  // The objects this connection has on the incoming stack and the frame being
  // decoded may hold at most the budget together (the site value
  // connection_memory_budget, 1 GiB by default). Popping objects gives room back.
  // The first frame decoded while nothing else is held may pass the budget, up to
  // the frame limit, so one object larger than the budget still passes (alone).
  std::int64_t MemoryBudget() const { return memory_->Budget(); }
  // Sets the budget and the frame limit together.
  void SetMemoryBudget(std::int64_t bytes);
  // Sets only the budget of the objects held together (at most the frame limit):
  // a frame larger than it still passes when nothing else is held.
  void SetQueueBudget(std::int64_t bytes);
  // The largest frame this buffer takes at all: a larger one is refused at its
  // header, its bytes consumed and never written.
  std::int64_t FrameLimit() const { return frame_limit_.load(); }
  std::int64_t MemoryHeld() const { return memory_->Held(); }
  // Ready frames left by DeliverReady wait for room in the budget (ReadyCount() >
  // 0): the receive thread then reads nothing more (back-pressure) and calls
  // DeliverReady again once WaitForRoom returns true. Waits until the first
  // waiting frame fits, the buffer is shut down or the timeout passes.
  bool WaitForRoom(std::uint32_t timeout_ms);

  // Frames whose payload is at most this are held in memory (kMemoryFrameLimit;
  // a negative value sends every frame to its file).
  void SetMemoryFrameLimit(std::int64_t bytes) { memory_frame_limit_ = bytes; }

  bool WaitForAuthentication(std::uint32_t timeout_ms = kAuthenticationWaitMs);
  bool IsAuthenticatedAs(const Guid& id, std::uint32_t timeout_ms = kAuthenticationWaitMs);
  Guid PeerId() const;

 private:
  bool BeginFrame(std::int64_t expected) override;
  bool WritePayload(const std::uint8_t* bytes, std::size_t n) override;
  void PayloadProgress(std::int64_t have, std::int64_t expected) override;
  void EndFrame(const FrameTrailerFields& trailer, bool failed) override;
  void BadHeader(const std::uint8_t* bytes, std::size_t n) override;

  // The memory a ready frame needs to be decoded: its bytes, plus the recorded
  // length of a compressed block. -1 when the file cannot be read.
  std::int64_t MemoryNeedOf(TxTrame* frame);
  void DispatchObject(std::string& stream, MemoryCharge charge);

  FrameReassembler reassembler_;
  TxTrame* current_ = nullptr;
  mutable std::mutex peer_mutex_;
  Guid peer_id_;
  std::unique_ptr<TZelFlagEvent> authentication_;
  std::shared_ptr<MemoryAccount> memory_;
  std::atomic<std::int64_t> waiting_need_{0};  // bytes the first ready frame waits for
  std::atomic<std::int64_t> frame_limit_{0};
  std::atomic<std::int64_t> memory_frame_limit_{kMemoryFrameLimit};
  std::string write_error_;  // why the current frame's payload write failed
  IncomingObjectTarget* target_ = nullptr;
};

}  // namespace quorvane
