#include "transport/objects_stack.h"

#include "util/guid.h"

namespace quorvane {

const ClassInfo& TZelObjectsStackManager::StaticClass() {
  static const ClassInfo info =
      MakeClassInfo("TZelObjectsStackManager", &TZelObject::StaticClass(), {});
  return info;
}

TZelObjectsStackManager::TZelObjectsStackManager(TZelObject* parent, const ClassInfo& info)
    : TZelObject(parent, info) {
  SetName("ObjectsStackManager");
  SetNotPersistent();
  flag_ = std::make_unique<TZelFlagEvent>(this);
}

TZelObjectsStackManager::~TZelObjectsStackManager() {
  std::lock_guard guard(Mutex());
  list_.clear();
  count_ = 0;
}

void TZelObjectsStackManager::Push(std::unique_ptr<TZelObject> object) {
  Push(std::move(object), MemoryCharge());
}

void TZelObjectsStackManager::Push(std::unique_ptr<TZelObject> object, MemoryCharge charge) {
  if (!object) return;
  if (!object->IsAttached()) {
    if (object->Name().empty())
      object->SetName(object->ClassName() + "_" + FileSafeId(GuidToString(NewGuid())));
    object->SetStackManager(StackManager());
    object->SetDataTransfer(DataTransfer());
    object->SetIdentification(Identification());
  }
  std::lock_guard guard(Mutex());
  ++counter_;
  object->SetZelNumber(counter_);
  list_.push_back(Entry{std::move(object), std::move(charge)});
  count_ = list_.size();
  flag_->Set();
}

std::unique_ptr<TZelObject> TZelObjectsStackManager::Pop() {
  MemoryCharge charge;
  return Pop(charge);  // the charge is given back on return
}

std::unique_ptr<TZelObject> TZelObjectsStackManager::Pop(MemoryCharge& charge) {
  std::lock_guard guard(Mutex());
  charge.Reset();
  if (list_.empty()) return nullptr;
  charge = std::move(list_.front().charge);
  std::unique_ptr<TZelObject> object = std::move(list_.front().object);
  list_.pop_front();  // gives the object's memory back to its connection's budget
  count_ = list_.size();
  if (!list_.empty()) flag_->Set();
  return object;
}

std::int32_t TZelObjectsStackManager::Counter() const {
  std::lock_guard guard(Mutex());
  return counter_;
}

const ClassInfo& TZelObjectsStackManagerIn::StaticClass() {
  static const ClassInfo info =
      MakeClassInfo("TZelObjectsStackManagerIn", &TZelObjectsStackManager::StaticClass(), {});
  return info;
}

TZelObjectsStackManagerIn::TZelObjectsStackManagerIn(TZelObject* parent)
    : TZelObjectsStackManager(parent, StaticClass()) {
  SetName(Name() + "In");
  SetTypeId(kTypeIdObjectsStackIn);
}

void TZelObjectsStackManagerIn::Push(std::unique_ptr<TZelObject> object) {
  TZelObjectsStackManager::Push(std::move(object), MemoryCharge());
}

}  // namespace quorvane
