#include "transport/connexion_buffer.h"

#include <algorithm>

namespace quorvane {
namespace {

constexpr std::uint32_t kWhite = 0xFFFFFF;
constexpr std::uint32_t kFaceColour = 0xC0C0C0;
constexpr std::uint32_t kLightColour = 0xFFFFFF;
constexpr std::uint32_t kDarkColour = 0x808080;
constexpr std::uint32_t kBarColour = 0x800000;

int PercentOf(std::int64_t part, std::int64_t whole) {
  if (whole <= 0) return 0;
  return static_cast<int>(part * 100 / whole);
}

void Shrink(BufferCanvas::Rect& r, int by) {
  r.left += by;
  r.top += by;
  r.right -= by;
  r.bottom -= by;
}

}  // namespace

const ClassInfo& TZelConnexionBuffer::StaticClass() {
  static const ClassInfo info =
      MakeClassInfo("TZelConnexionBuffer", &TZelObject::StaticClass(), {});
  return info;
}

TZelConnexionBuffer::TZelConnexionBuffer(TZelObject* owner, const ClassInfo& info)
    : TZelConnexionBuffer(owner, info, FrameFolders()) {}

TZelConnexionBuffer::TZelConnexionBuffer(TZelObject* owner, const ClassInfo& info,
                                         FrameFolders folders)
    : TZelObject(owner, info), folders_(std::move(folders)), current_id_(kNullIdText) {
  SetName("Buffer");
  SetTypeId(kTypeIdConnexionBuffer);
  SetNotPersistent();
  work_ = std::make_unique<TZelFlagEvent>(this);
}

TZelConnexionBuffer::~TZelConnexionBuffer() {
  std::lock_guard guard(Mutex());
  ready_.clear();
  while (!frames_.empty()) {
    try {
      frames_.pop_back();
    } catch (...) {
      HandleException();
    }
  }
  named_frames_.clear();
}

bool TZelConnexionBuffer::IsReady(const TxTrame* frame) const {
  return std::find(ready_.begin(), ready_.end(), frame) != ready_.end();
}

TxTrame* TZelConnexionBuffer::NewFrame(const std::string& dump_name, const TZelObject* object) {
  if (IsShutDown()) return nullptr;
  auto frame = std::make_unique<TxTrame>(this, folders_);
  TxTrame* raw = frame.get();
  if (!dump_name.empty()) {
    raw->SetDumpName(dump_name);
    named_frames_.push_back(std::move(frame));
    try {
      raw->OpenForWrite(0, object);
    } catch (...) {
      std::erase_if(named_frames_, [raw](const auto& f) { return f.get() == raw; });
      throw;
    }
    return raw;
  }
  const std::int32_t number = CountFrame();
  frames_.push_back(std::move(frame));
  frame_list_count_ = frames_.size();
  try {
    raw->OpenForWrite(number, object);
  } catch (...) {
    RemoveFrame(raw);
    throw;
  }
  return raw;
}

TxTrame* TZelConnexionBuffer::NewMemoryFrame() {
  if (IsShutDown()) return nullptr;
  auto frame = std::make_unique<TxTrame>(this, folders_);
  TxTrame* raw = frame.get();
  raw->OpenInMemory(CountFrame());
  frames_.push_back(std::move(frame));
  frame_list_count_ = frames_.size();
  return raw;
}

bool TZelConnexionBuffer::WriteToFrame(TxTrame* frame, const void* bytes, std::size_t count) {
  if (frame == nullptr) return false;
  if (!frame->IsNamed()) total_ += static_cast<std::int64_t>(count);
  return frame->WriteBytes(bytes, count);
}

bool TZelConnexionBuffer::Enqueue(TxTrame* frame) {
  if (IsShutDown() || frame == nullptr) return false;
  if (frame->IsNamed()) {
    frame->CloseStream();
    std::erase_if(named_frames_, [frame](const auto& f) { return f.get() == frame; });
    return true;
  }
  if (IsReady(frame)) return true;
  if (frame->IsPrepared()) total_ += frame->Size();
  const bool flushed = frame->Rewind();
  ready_.push_back(frame);
  ready_count_ = ready_.size();
  work_->Set();
  return flushed;
}

void TZelConnexionBuffer::EnqueuePrepared(const std::string& name) {
  if (IsShutDown()) return;
  TxTrame* frame = nullptr;
  try {
    CountFrame();  // a prepared frame keeps number 0; the count still grows
    frames_.push_back(std::make_unique<TxTrame>(this, folders_));
    frame_list_count_ = frames_.size();
    frame = frames_.back().get();
    frame->OpenPrepared(name);
    Enqueue(frame);
  } catch (...) {
    HandleException();
    // A prepared file that cannot be opened would never drain: drop its frame.
    if (frame != nullptr) RemoveFrame(frame);
  }
}

bool TZelConnexionBuffer::MarkReady(TxTrame* frame) {
  if (IsShutDown() || frame == nullptr) return false;
  if (IsReady(frame)) return true;
  // A frame whose file cannot be flushed would be decoded from what reached the
  // disk (nothing, on a full disk): it is a failed frame and is not queued.
  if (!frame->Rewind()) return false;
  ready_.push_back(frame);
  ready_count_ = ready_.size();
  return true;
}

void TZelConnexionBuffer::RemoveFrame(TxTrame* frame) {
  if (frame == nullptr) return;
  try {
    std::erase(ready_, frame);
    ready_count_ = ready_.size();
    std::erase_if(frames_, [frame](const auto& f) { return f.get() == frame; });
    frame_list_count_ = frames_.size();
  } catch (...) {
    HandleException();
  }
}

Chunk TZelConnexionBuffer::TakeChunk(int maximum) {
  Chunk chunk;
  try {
    while (maximum > 0 && !IsShutDown() && !ready_.empty()) {
      TxTrame* frame = ready_.front();
      if (!incoming_) {
        SetCurrent(frame->Position(), frame->Size());
        SetCurrentObject(frame->ObjectId(), frame->ObjectCaption());
      }
      const auto n =
          static_cast<std::size_t>(std::clamp<std::int64_t>(frame->Remaining(), 0, maximum));
      auto block = std::make_unique<char[]>(n + 1);
      const std::size_t read = frame->ReadBytes(block.get(), n);
      block[read] = '\0';
      if (!incoming_) frame->NotifyProgress();
      // A frame that yields nothing (an empty or unreadable file) would block the
      // queue: it goes, and the next frame is tried in the same call.
      if (frame->AtEnd() || read == 0) RemoveFrame(frame);
      if (read > 0) {
        chunk.block = std::move(block);
        chunk.count = static_cast<int>(read);
        AddDone(chunk.count);
        break;
      }
    }
    if (chunk.count <= 0) {
      if (!incoming_) ClearCurrent();
      ResetCounters();
    }
  } catch (...) {
    HandleException();
    return {};
  }
  return chunk;
}

Chunk TZelConnexionBuffer::TakeChunkLocked(int maximum) {
  std::lock_guard guard(Mutex());
  return TakeChunk(maximum);
}

bool TZelConnexionBuffer::WaitForWork(std::uint32_t timeout_ms) {
  if (IsShutDown()) return false;
  const bool signaled = work_->WaitAndReset(timeout_ms) == WaitResult::kSignaled;
  return signaled && !IsShutDown();
}

void TZelConnexionBuffer::Shutdown() {
  shut_down_ = true;
  Signal();
}

void TZelConnexionBuffer::ClearCurrent() {
  current_position_ = 0;
  current_size_ = 0;
  SetCurrentObject(std::string(kNullIdText), std::string());
}

void TZelConnexionBuffer::SetCurrent(std::int64_t position, std::int64_t size) {
  current_position_ = position;
  current_size_ = size;
}

void TZelConnexionBuffer::SetCurrentObject(const std::string& id, const std::string& caption) {
  std::lock_guard guard(current_mutex_);
  current_id_ = id.substr(0, 38);
  current_caption_ = caption;
}

std::string TZelConnexionBuffer::CurrentId() const {
  std::lock_guard guard(current_mutex_);
  return current_id_;
}

std::string TZelConnexionBuffer::CurrentCaption() const {
  std::lock_guard guard(current_mutex_);
  return current_caption_;
}

void TZelConnexionBuffer::ResetCounters() {
  done_ = 0;
  total_ = 0;
}

void TZelConnexionBuffer::AddDone(std::int64_t count) {
  done_ += count;
  if (done_.load() >= total_.load()) ResetCounters();
}

int TZelConnexionBuffer::Percent() const {
  return PercentOf(Done(), Total());
}

int TZelConnexionBuffer::CurrentPercent() const {
  return PercentOf(CurrentPosition(), CurrentSize());
}

std::size_t TZelConnexionBuffer::ReadyCount() const {
  return ready_count_.load();
}

std::size_t TZelConnexionBuffer::FrameListCount() const {
  return frame_list_count_.load();
}

std::string TZelConnexionBuffer::StatisticsLine() const {
  std::string line = "Buffer";
  line += incoming_ ? "In " : "Out ";
  line += IsAuthenticated() ? "ath " : "Nth ";
  line += std::to_string(FrameCount()) + " pcks ";
  line += std::to_string(BadFrameCount()) + " dlt ";
  line += std::to_string(Percent()) + "% ";
  line += std::to_string(ReadyCount()) + " trm/ " + std::to_string(FrameListCount());
  line += "  " + std::to_string(Total()) + " oct ";
  return line;
}

std::string TZelConnexionBuffer::DisplayName() const {
  return TZelObject::DisplayName() + Name() + " [" + std::to_string(Percent()) + "]";
}

void TZelConnexionBuffer::Paint(BufferCanvas& canvas, BufferCanvas::Rect rect) const {
  if (!TryLock()) return;
  try {
    const std::string line = StatisticsLine();
    canvas.Fill(rect, kFaceColour);
    Shrink(rect, 2);
    canvas.Frame3D(rect, kLightColour, kDarkColour, 1);
    Shrink(rect, 1);
    canvas.TextLine(rect, line);
    rect.top += canvas.TextHeight("X");
    Shrink(rect, 1);
    canvas.Frame3D(rect, kLightColour, kDarkColour, 1);
    if (Percent() > 0) canvas.ProgressBar(rect, Percent(), kBarColour, kWhite);
  } catch (...) {
    HandleException();
  }
  Unlock();
}

}  // namespace quorvane
