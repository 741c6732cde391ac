#include "transport/memory_account.h"

#include <algorithm>
#include <chrono>

namespace quorvane {

MemoryAccount::MemoryAccount(std::int64_t budget) : budget_(std::max<std::int64_t>(budget, 0)) {}

std::int64_t MemoryAccount::Budget() const {
  std::lock_guard guard(mutex_);
  return budget_;
}

void MemoryAccount::SetBudget(std::int64_t budget) {
  {
    std::lock_guard guard(mutex_);
    budget_ = std::max<std::int64_t>(budget, 0);
  }
  released_.notify_all();
}

std::int64_t MemoryAccount::Held() const {
  std::lock_guard guard(mutex_);
  return held_;
}

std::int64_t MemoryAccount::Available() const {
  std::lock_guard guard(mutex_);
  return std::max<std::int64_t>(budget_ - held_, 0);
}

bool MemoryAccount::TryTake(std::int64_t bytes) {
  std::lock_guard guard(mutex_);
  if (bytes < 0 || (held_ > 0 && bytes > budget_ - held_)) return false;
  held_ += bytes;
  return true;
}

void MemoryAccount::Take(std::int64_t bytes) {
  std::lock_guard guard(mutex_);
  held_ += std::max<std::int64_t>(bytes, 0);
}

void MemoryAccount::Release(std::int64_t bytes) {
  {
    std::lock_guard guard(mutex_);
    held_ = std::max<std::int64_t>(held_ - std::max<std::int64_t>(bytes, 0), 0);
  }
  released_.notify_all();
}

bool MemoryAccount::WaitForRoom(std::int64_t bytes, std::uint32_t timeout_ms) {
  std::unique_lock guard(mutex_);
  return released_.wait_for(guard, std::chrono::milliseconds(timeout_ms),
                            [&] { return held_ == 0 || bytes <= budget_ - held_; });
}

void MemoryCharge::Resize(std::int64_t bytes) {
  if (!account_) return;
  if (bytes > bytes_)
    account_->Take(bytes - bytes_);
  else if (bytes < bytes_)
    account_->Release(bytes_ - bytes);
  bytes_ = bytes;
}

void MemoryCharge::Reset() {
  if (account_ && bytes_ > 0) account_->Release(bytes_);
  bytes_ = 0;
  account_.reset();
}

}  // namespace quorvane
