#include "transport/objects_stack.h"

#include <gtest/gtest.h>

#include <thread>

#include "transport_fixture.h"

namespace quorvane {
namespace {

using StackTest = testing::TransportTest;

class Counted : public TZelObject {
 public:
  explicit Counted(int* destroyed) : TZelObject(nullptr), destroyed_(destroyed) {}
  ~Counted() override { ++*destroyed_; }

 private:
  int* destroyed_;
};

TEST_F(StackTest, NamesAndTypeIdentifier) {
  TZelObjectsStackManagerIn stack(nullptr);
  EXPECT_EQ(stack.Name(), "ObjectsStackManagerIn");
  EXPECT_EQ(stack.TypeId(), kTypeIdObjectsStackIn);
  EXPECT_TRUE(stack.Flag().EventName().starts_with("ObjectsStackManager.FlagEvent_N"));
  EXPECT_EQ(stack.Flag().TypeId(), kTypeIdFlagEvent);
  EXPECT_NE(stack.Flag().DisplayName().find("EventName=[ObjectsStackManager.FlagEvent_"),
            std::string::npos);
}

TEST_F(StackTest, PopsInPushOrderWithNumbers) {
  TZelObjectsStackManagerIn stack(nullptr);
  EXPECT_EQ(stack.Pop(), nullptr);
  EXPECT_FALSE(stack.Flag().IsSet());  // an empty pop leaves the event alone
  std::vector<TZelObject*> pushed;
  for (int i = 0; i < 3; ++i) {
    auto object = std::make_unique<TZelObject>(nullptr);
    pushed.push_back(object.get());
    stack.Push(std::move(object));
  }
  EXPECT_TRUE(stack.Flag().IsSet());
  for (int i = 0; i < 3; ++i) {
    stack.Flag().Reset();
    auto object = stack.Pop();
    EXPECT_EQ(object.get(), pushed[static_cast<std::size_t>(i)]);
    EXPECT_EQ(object->ZelNumber(), i + 1);
    EXPECT_EQ(stack.Flag().IsSet(), i < 2);  // set again while objects remain
  }
  EXPECT_FALSE(stack.HasObjects());
}

TEST_F(StackTest, NullPushChangesNothing) {
  TZelObjectsStackManagerIn stack(nullptr);
  stack.Push(nullptr);
  EXPECT_EQ(stack.Counter(), 0);
  EXPECT_FALSE(stack.Flag().IsSet());
}

TEST_F(StackTest, DetachedObjectsTakeTheStacksLinks) {
  TZelObjectsStackManagerIn stack(nullptr);
  stack.SetStackManager(&stack);
  auto posted = std::make_unique<TZelObject>(nullptr);
  posted->Post();
  TZelObject* raw = posted.get();
  stack.Push(std::move(posted));
  EXPECT_EQ(raw->StackManager(), &stack);
  auto attached = std::make_unique<TZelObject>(nullptr);
  raw = attached.get();
  stack.Push(std::move(attached));
  EXPECT_EQ(raw->StackManager(), nullptr);
}

// Pop gives an object's charge back at once; Pop(charge) hands it to the caller,
// who gives it back by dropping it.
TEST_F(StackTest, PopHandsTheChargeOverOrGivesItBack) {
  TZelObjectsStackManagerIn stack(nullptr);
  auto account = std::make_shared<MemoryAccount>(1000);
  for (std::int64_t bytes : {100, 200}) {
    ASSERT_TRUE(account->TryTake(bytes));
    stack.Push(std::make_unique<TZelObject>(nullptr), MemoryCharge(account, bytes));
  }
  EXPECT_EQ(account->Held(), 300);
  {
    MemoryCharge charge(account, 0);
    auto first = stack.Pop(charge);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(charge.Bytes(), 100);
    EXPECT_EQ(account->Held(), 300);
    auto second = stack.Pop();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(account->Held(), 100);
    EXPECT_EQ(stack.Pop(charge), nullptr);  // an empty stack gives the old charge back
    EXPECT_EQ(charge.Bytes(), 0);
    EXPECT_EQ(account->Held(), 0);
  }
  EXPECT_EQ(account->Held(), 0);
}

TEST_F(StackTest, DestroyingTheStackFreesWhatIsLeft) {
  int destroyed = 0;
  {
    TZelObjectsStackManagerIn stack(nullptr);
    stack.Push(std::make_unique<Counted>(&destroyed));
    stack.Push(std::make_unique<Counted>(&destroyed));
  }
  EXPECT_EQ(destroyed, 2);
}

TEST_F(StackTest, PushAndPopFromTwoThreads) {
  TZelObjectsStackManagerIn stack(nullptr);
  constexpr int kCount = 500;
  std::thread producer([&] {
    for (int i = 0; i < kCount; ++i)
      stack.Push(std::make_unique<TZelObject>(nullptr));
  });
  int popped = 0;
  int last = 0;
  while (popped < kCount) {
    if (auto object = stack.Pop()) {
      EXPECT_EQ(object->ZelNumber(), last + 1);
      last = object->ZelNumber();
      ++popped;
    } else {
      stack.Flag().Wait(100);
      stack.Flag().Reset();
    }
  }
  producer.join();
  EXPECT_EQ(stack.Counter(), kCount);
}

TEST_F(StackTest, FlagEventWaitTimesOutOrWakes) {
  TZelFlagEvent event(nullptr);
  EXPECT_EQ(event.Wait(1), WaitResult::kTimeout);
  std::thread setter([&] { event.Set(); });
  EXPECT_EQ(event.Wait(10'000), WaitResult::kSignaled);
  setter.join();
}

}  // namespace
}  // namespace quorvane
