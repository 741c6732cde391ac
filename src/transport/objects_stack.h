// The incoming object stack: a first-in, first-out queue of received objects between
// the receive threads (Push) and the main thread (Pop), guarded by the object lock,
// with a flag event set while objects wait. The stack owns what it holds.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>

#include "model/incoming_objects.h"
#include "model/zel_object.h"
#include "transport/flag_event.h"
#include "transport/memory_account.h"
#include "transport/object_target.h"

namespace quorvane {

inline constexpr std::string_view kTypeIdObjectsStackIn = "{10000000-0000-0000-0000-100000000007}";

class TZelObjectsStackManager : public TZelObject, public IncomingObjectTarget {
 public:
  explicit TZelObjectsStackManager(TZelObject* parent, const ClassInfo& info = StaticClass());
  ~TZelObjectsStackManager() override;

  static const ClassInfo& StaticClass();

  // Takes the object; numbers it (ZelNumber 1, 2, 3 ...) and sets the flag event.
  // A null object changes nothing.
  virtual void Push(std::unique_ptr<TZelObject> object);
  // The same, holding `charge` (the memory the object takes from its connection's
  // budget) until the object is popped or the stack is destroyed.
  void Push(std::unique_ptr<TZelObject> object, MemoryCharge charge) override;
  // The oldest object, or null; sets the flag event again while objects remain.
  std::unique_ptr<TZelObject> Pop();
  // The same, handing the object's charge to the caller, who gives the memory
  // back (by dropping the charge) once the object's bytes are gone: a receiver
  // that writes large objects out keeps the next ones from being decoded meanwhile.
  std::unique_ptr<TZelObject> Pop(MemoryCharge& charge);
  // A hint only: read without the lock.
  bool HasObjects() const { return count_.load(std::memory_order_relaxed) > 0; }
  void Signal() { flag_->Set(); }

  TZelFlagEvent& Flag() { return *flag_; }
  std::int32_t Counter() const;

 private:
  struct Entry {
    std::unique_ptr<TZelObject> object;
    MemoryCharge charge;
  };
  std::int32_t counter_ = 0;
  std::deque<Entry> list_;
  std::atomic<std::size_t> count_{0};
  std::unique_ptr<TZelFlagEvent> flag_;
};

// The stack every incoming buffer delivers to, reached through the incoming-stack
// link of the objects (the model's IncomingObjectSink).
class TZelObjectsStackManagerIn : public TZelObjectsStackManager, public IncomingObjectSink {
 public:
  explicit TZelObjectsStackManagerIn(TZelObject* parent);
  static const ClassInfo& StaticClass();
  void Push(std::unique_ptr<TZelObject> object) override;
  using TZelObjectsStackManager::Push;
};

}  // namespace quorvane
