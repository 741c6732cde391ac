#include "decode_budget.h"

#include <algorithm>
#include <vector>

namespace quorvane::server {

DecodeBudget::Ticket::~Ticket() {
  budget_->Release(bytes_);
}

DecodeBudget::~DecodeBudget() {
  // Waiters may own the last reference to their connection: let them go
  // outside the lock.
  std::deque<std::pair<std::int64_t, Granted>> waiting;
  {
    std::lock_guard guard(mutex_);
    waiting.swap(waiting_);
  }
}

void DecodeBudget::Acquire(std::int64_t bytes, Granted granted) {
  bytes = std::clamp<std::int64_t>(bytes, 0, limit_);
  {
    std::lock_guard guard(mutex_);
    if (!waiting_.empty() || in_use_ + bytes > limit_) {
      waiting_.emplace_back(bytes, std::move(granted));
      return;
    }
    in_use_ += bytes;
  }
  granted(std::make_shared<Ticket>(this, bytes));
}

void DecodeBudget::Release(std::int64_t bytes) {
  std::vector<std::pair<std::int64_t, Granted>> ready;
  {
    std::lock_guard guard(mutex_);
    in_use_ -= bytes;
    while (!waiting_.empty() && in_use_ + waiting_.front().first <= limit_) {
      in_use_ += waiting_.front().first;
      ready.push_back(std::move(waiting_.front()));
      waiting_.pop_front();
    }
  }
  for (auto& [granted_bytes, granted] : ready)
    granted(std::make_shared<Ticket>(this, granted_bytes));
}

std::int64_t DecodeBudget::InUse() const {
  std::lock_guard guard(mutex_);
  return in_use_;
}

}  // namespace quorvane::server
