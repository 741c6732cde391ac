// The memory one connection's received objects may hold: the objects waiting on
// the incoming stack and the frame being decoded, together, against a budget
// (the site value connection_memory_budget, 1 GiB by default, which the
// incoming buffer takes at construction). The incoming
// buffer charges a frame before it reads it into memory and passes the charge
// on with the object; popping the object from the stack releases it. The
// account is shared, so a charge outlives the buffer that made it. Thread-safe.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

namespace quorvane {

inline constexpr std::int64_t kDefaultConnectionMemoryBudget = std::int64_t{1} << 30;

class MemoryAccount {
 public:
  explicit MemoryAccount(std::int64_t budget = kDefaultConnectionMemoryBudget);

  std::int64_t Budget() const;
  void SetBudget(std::int64_t budget);
  std::int64_t Held() const;
  // The room left under the budget (0 when over it).
  std::int64_t Available() const;

  // Takes `bytes` when they fit under the budget, or when nothing is held (one
  // charge larger than the budget passes alone, so nothing waits forever);
  // false (nothing taken) otherwise.
  bool TryTake(std::int64_t bytes);
  // Takes `bytes` whether they fit or not (a decoded size that passed its own limit).
  void Take(std::int64_t bytes);
  void Release(std::int64_t bytes);

  // Waits until `bytes` more would fit (or nothing is held), or the timeout
  // passes; true when TryTake(bytes) would succeed.
  bool WaitForRoom(std::int64_t bytes, std::uint32_t timeout_ms);

 private:
  mutable std::mutex mutex_;
  std::condition_variable released_;
  std::int64_t budget_;
  std::int64_t held_ = 0;
};

// Bytes taken from an account, given back when the charge is destroyed. Movable.
class MemoryCharge {
 public:
  MemoryCharge() = default;
  MemoryCharge(std::shared_ptr<MemoryAccount> account, std::int64_t bytes)
      : account_(std::move(account)), bytes_(bytes) {}
  ~MemoryCharge() { Reset(); }
  MemoryCharge(MemoryCharge&& other) noexcept
      : account_(std::move(other.account_)), bytes_(other.bytes_) {
    other.bytes_ = 0;
  }
  MemoryCharge& operator=(MemoryCharge&& other) noexcept {
    if (this != &other) {
      Reset();
      account_ = std::move(other.account_);
      bytes_ = other.bytes_;
      other.bytes_ = 0;
    }
    return *this;
  }
  MemoryCharge(const MemoryCharge&) = delete;
  MemoryCharge& operator=(const MemoryCharge&) = delete;

  std::int64_t Bytes() const { return bytes_; }
  // Changes the charge to `bytes` (releasing or taking the difference).
  void Resize(std::int64_t bytes);
  void Reset();

 private:
  std::shared_ptr<MemoryAccount> account_;
  std::int64_t bytes_ = 0;
};

}  // namespace quorvane
