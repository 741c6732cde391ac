#include "net/socket_stream.h"

#include "transport/connexion_buffer.h"

namespace quorvane {

TZelSocketStream::TZelSocketStream(TZelObject* owner, int timeout_ms, ByteStream* stream)
    : lock_object_(std::make_unique<TZelObject>(owner)), stream_(stream), timeout_ms_(timeout_ms) {
  lock_object_->SetName("Stream");
  lock_object_->SetTypeId(kTypeIdStream);
  lock_object_->SetNotPersistent();
}

TZelSocketStream::~TZelSocketStream() = default;

std::size_t TZelSocketStream::Read(void* buffer, std::size_t count) {
  std::lock_guard guard(lock_object_->Mutex());
  if (stream_ == nullptr || cancelled_.load()) {
    last_read_ = {IoStatus::kClosed, 0, 0};
    return 0;
  }
  last_read_ = stream_->ReadSome(buffer, count, timeout_ms_);
  return last_read_.status == IoStatus::kOk ? last_read_.count : 0;
}

IoResult TZelSocketStream::Write(const void* buffer, std::size_t count) {
  std::lock_guard guard(lock_object_->Mutex());
  if (stream_ == nullptr || cancelled_.load()) return {IoStatus::kClosed, 0, 0};
  return stream_->WriteAll(buffer, count, timeout_ms_);
}

bool TZelSocketStream::WaitForData(int timeout_ms) {
  if (stream_ == nullptr) return false;
  if (cancelled_.load()) return true;  // the next read reports the cancel at once
  return stream_->WaitReadable(timeout_ms);
}

bool TZelSocketStream::ReadInto(std::vector<std::uint8_t>& block) {
  block.resize(kMaxChunk);
  block.resize(Read(block.data(), block.size()));
  return !block.empty();
}

}  // namespace quorvane
