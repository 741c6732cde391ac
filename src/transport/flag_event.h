// TZelFlagEvent: a named manual-reset event owned by a framework object (a mutex and
// a condition variable on POSIX). Set, Reset and Wait are safe from any thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#include "model/zel_object.h"

namespace quorvane {

inline constexpr std::string_view kTypeIdFlagEvent = "{10000000-0000-0000-0000-200000000010}";

enum class WaitResult { kSignaled, kTimeout, kAbandoned, kError };

class TZelFlagEvent : public TZelObject {
 public:
  explicit TZelFlagEvent(TZelObject* owner);

  static const ClassInfo& StaticClass();
  std::string DisplayName() const override;

  void Set();
  void Reset();
  bool IsSet() const;
  WaitResult Wait(std::uint32_t timeout_ms);
  // Waits for the flag and clears it in the same hold of the lock, so a Set that
  // lands at any moment is either consumed by this call or left for the next one:
  // no signal is lost between a timed-out wait and a reset.
  WaitResult WaitAndReset(std::uint32_t timeout_ms);

  // The kernel event's name: the event object's full dotted name at construction.
  const std::string& EventName() const { return event_name_; }

 private:
  std::string event_name_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool set_ = false;
};

}  // namespace quorvane
