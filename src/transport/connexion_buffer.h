// TZelConnexionBuffer: the queue of frames between one connection's socket thread and
// the rest of the program, with the counters shown as transfer progress. Frame
// operations marked "caller" expect the buffer lock (the object lock) to be held;
// counters and the current transfer are read without it, for display.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "model/zel_object.h"
#include "transport/flag_event.h"
#include "transport/frame.h"

namespace quorvane {

inline constexpr std::string_view kTypeIdConnexionBuffer = "{10000000-0000-0000-0000-200000000002}";
// The send thread's largest chunk, and the receive thread's largest read.
inline constexpr int kMaxChunk = 100'000;
inline constexpr std::uint32_t kWorkWaitMs = 60'000;

// Where Paint draws; the ui layer implements it.
class BufferCanvas {
 public:
  struct Rect {
    int left = 0, top = 0, right = 0, bottom = 0;
  };
  virtual ~BufferCanvas() = default;
  virtual int TextHeight(const std::string& text) = 0;
  virtual void Fill(const Rect& rect, std::uint32_t colour) = 0;
  virtual void Frame3D(const Rect& rect, std::uint32_t light, std::uint32_t dark, int width) = 0;
  virtual void TextLine(const Rect& rect, const std::string& text) = 0;
  virtual void ProgressBar(const Rect& rect, int percent, std::uint32_t colour,
                           std::uint32_t light) = 0;
};

// A block handed to the socket: count bytes followed by a zero byte.
struct Chunk {
  std::unique_ptr<char[]> block;
  int count = 0;
};

class TZelConnexionBuffer : public TZelObject {
 public:
  // The frame files go to `folders`; by default (or with empty folders) to
  // "DB\\TRM" and "DB\\TRM\\FST" below the program folder as it is when each
  // frame file is made.
  explicit TZelConnexionBuffer(TZelObject* owner, const ClassInfo& info = StaticClass());
  TZelConnexionBuffer(TZelObject* owner, const ClassInfo& info, FrameFolders folders);
  ~TZelConnexionBuffer() override;

  static const ClassInfo& StaticClass();

  // The folders of this buffer's frame files (the default ones resolved). Set
  // them before the first frame.
  FrameFolders Folders() const { return folders_.Resolved(); }
  void SetFolders(FrameFolders folders) { folders_ = std::move(folders); }

  // --- frames (caller holds the lock) ----------------------------------------
  // None when shut down. With a dump name: a named frame that enters no list.
  TxTrame* NewFrame(const std::string& dump_name, const TZelObject* object);
  // A numbered frame held in memory instead of a file (a small received frame).
  TxTrame* NewMemoryFrame();
  bool WriteToFrame(TxTrame* frame, const void* bytes, std::size_t count);
  // Queues a complete frame and wakes the send thread; a named frame is closed and
  // destroyed at once (its file stays). False when the frame could not be flushed.
  bool Enqueue(TxTrame* frame);
  void EnqueuePrepared(const std::string& name);
  // Queues a received frame for decoding; false (and not queued) when its file
  // could not be flushed, or the buffer is shut down.
  bool MarkReady(TxTrame* frame);
  void RemoveFrame(TxTrame* frame);

  // The next bytes of the first ready frame, at most `maximum`; never spans two frames.
  // Draining follows the ready list; the counters only serve display.
  Chunk TakeChunk(int maximum);
  Chunk TakeChunkLocked(int maximum);

  // --- work event --------------------------------------------------------------
  // Waits for the work event and clears it under the event's lock. True when it
  // was set and the buffer is not shut down. A Signal that lands while nobody
  // waits is kept for the next call, so no wake-up is lost.
  bool WaitForWork(std::uint32_t timeout_ms = kWorkWaitMs);
  void Signal() { work_->Set(); }
  void Shutdown();
  bool IsShutDown() const { return shut_down_.load(); }

  // --- counters and display ----------------------------------------------------
  void ClearCurrent();
  std::int64_t Done() const { return done_.load(); }
  std::int64_t Total() const { return total_.load(); }
  int Percent() const;
  std::int64_t CurrentPosition() const { return current_position_.load(); }
  std::int64_t CurrentSize() const { return current_size_.load(); }
  int CurrentPercent() const;
  std::string CurrentId() const;
  std::string CurrentCaption() const;
  bool IsIncoming() const { return incoming_; }
  bool IsAuthenticated() const { return authenticated_.load(std::memory_order_acquire); }
  std::int32_t BadFrameCount() const { return bad_frames_.load(); }
  std::int32_t FrameCount() const { return frame_count_.load(); }
  std::size_t ReadyCount() const;
  std::size_t FrameListCount() const;
  bool Transport() const { return transport_; }
  void SetTransport(bool transport) { transport_ = transport; }

  std::string StatisticsLine() const;
  std::string DisplayName() const override;
  void Paint(BufferCanvas& canvas, BufferCanvas::Rect rect) const;

 protected:
  void SetCurrent(std::int64_t position, std::int64_t size);
  void SetCurrentObject(const std::string& id, const std::string& caption);
  void ResetCounters();
  void AddDone(std::int64_t count);
  void SetIncoming() { incoming_ = true; }
  // Publishes the flag after whatever the caller wrote before it.
  void SetAuthenticated(bool value) { authenticated_.store(value, std::memory_order_release); }
  std::int32_t CountBadFrame() { return ++bad_frames_; }
  std::int32_t CountFrame() { return ++frame_count_; }
  TxTrame* FirstReady() const { return ready_.empty() ? nullptr : ready_.front(); }
  TZelFlagEvent& WorkEvent() { return *work_; }

  // The bytes written into numbered frames since the last reset; restored when a
  // half-written object is taken back.
  void SetTotal(std::int64_t total) { total_ = total; }

 private:
  bool IsReady(const TxTrame* frame) const;

  std::unique_ptr<TZelFlagEvent> work_;
  FrameFolders folders_;
  std::atomic<std::int64_t> current_position_{0};
  std::atomic<std::int64_t> current_size_{0};
  mutable std::mutex current_mutex_;  // guards the two texts below, never held long
  std::string current_id_;
  std::string current_caption_;
  std::atomic<std::int64_t> done_{0};
  std::atomic<std::int64_t> total_{0};
  bool incoming_ = false;
  std::atomic<std::int32_t> bad_frames_{0};
  std::vector<std::unique_ptr<TxTrame>> frames_;
  std::vector<std::unique_ptr<TxTrame>> named_frames_;  // dumps being written, in no list
  std::deque<TxTrame*> ready_;
  std::atomic<std::size_t> frame_list_count_{0};
  std::atomic<std::size_t> ready_count_{0};
  std::atomic<std::int32_t> frame_count_{0};
  std::atomic<bool> authenticated_{false};
  bool transport_ = false;
  std::atomic<bool> shut_down_{false};
};

}  // namespace quorvane
