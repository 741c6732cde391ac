#include "transport/flag_event.h"

#include <chrono>

#include "util/guid.h"

namespace quorvane {

const ClassInfo& TZelFlagEvent::StaticClass() {
  static const ClassInfo info = MakeClassInfo("TZelFlagEvent", &TZelObject::StaticClass(), {});
  return info;
}

TZelFlagEvent::TZelFlagEvent(TZelObject* owner) : TZelObject(owner, StaticClass()) {
  SetName("FlagEvent_" + FileSafeId(GuidToString(NewGuid())));
  SetTypeId(kTypeIdFlagEvent);
  SetNotPersistent();
  event_name_ = FullName();
}

std::string TZelFlagEvent::DisplayName() const {
  return TZelObject::DisplayName() + "EventName=[" + event_name_ + "]";
}

void TZelFlagEvent::Set() {
  {
    std::lock_guard guard(mutex_);
    set_ = true;
  }
  changed_.notify_all();
}

void TZelFlagEvent::Reset() {
  std::lock_guard guard(mutex_);
  set_ = false;
}

bool TZelFlagEvent::IsSet() const {
  std::lock_guard guard(mutex_);
  return set_;
}

WaitResult TZelFlagEvent::Wait(std::uint32_t timeout_ms) {
  std::unique_lock guard(mutex_);
  const bool signaled =
      changed_.wait_for(guard, std::chrono::milliseconds(timeout_ms), [this] { return set_; });
  return signaled ? WaitResult::kSignaled : WaitResult::kTimeout;
}

WaitResult TZelFlagEvent::WaitAndReset(std::uint32_t timeout_ms) {
  std::unique_lock guard(mutex_);
  const bool signaled =
      changed_.wait_for(guard, std::chrono::milliseconds(timeout_ms), [this] { return set_; });
  if (!signaled) return WaitResult::kTimeout;
  set_ = false;
  return WaitResult::kSignaled;
}

}  // namespace quorvane
