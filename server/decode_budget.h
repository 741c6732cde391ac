// The bytes that decoding what installers send may hold at once, across every
// connection: a decode asks for its share before it starts and waits, in order
// of asking, while the others' shares leave no room. A share is released when
// its ticket goes. Safe from any thread; a grant is called on the thread that
// asked (when there is room at once) or on the one whose ticket freed the room.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace quorvane::server {

class DecodeBudget {
 public:
  class Ticket {
   public:
    Ticket(DecodeBudget* budget, std::int64_t bytes) : budget_(budget), bytes_(bytes) {}
    ~Ticket();
    Ticket(const Ticket&) = delete;
    Ticket& operator=(const Ticket&) = delete;
    std::int64_t Bytes() const { return bytes_; }

   private:
    DecodeBudget* budget_;
    std::int64_t bytes_;
  };
  using Granted = std::function<void(std::shared_ptr<Ticket>)>;

  explicit DecodeBudget(std::int64_t limit) : limit_(limit) {}
  ~DecodeBudget();
  DecodeBudget(const DecodeBudget&) = delete;
  DecodeBudget& operator=(const DecodeBudget&) = delete;

  // Calls `granted` with a ticket for `bytes` (at most the limit) once they fit
  // and every earlier request has been granted.
  void Acquire(std::int64_t bytes, Granted granted);

  std::int64_t InUse() const;
  std::int64_t Limit() const { return limit_; }

 private:
  void Release(std::int64_t bytes);

  const std::int64_t limit_;
  mutable std::mutex mutex_;
  std::int64_t in_use_ = 0;
  std::deque<std::pair<std::int64_t, Granted>> waiting_;
};

}  // namespace quorvane::server
