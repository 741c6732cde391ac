#include "app/instance_lock.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "ui/hermetic_folder.h"

namespace quorvane {
namespace {

using InstanceLockTest = HermeticFolderTest;

TEST_F(InstanceLockTest, SecondAttemptFindsTheLockHeld) {
  LockAttempt first = AcquireInstanceLock(Folder());
  ASSERT_EQ(first.outcome, LockOutcome::kAcquired) << first.error;
  ASSERT_NE(first.lock, nullptr);
  // A separate open of the same file conflicts, as a second process would.
  LockAttempt second = AcquireInstanceLock(Folder());
  EXPECT_EQ(second.outcome, LockOutcome::kHeldByAnotherInstance);
  EXPECT_EQ(second.lock, nullptr);

  ReleaseInstanceLock(first.lock);
  EXPECT_EQ(first.lock, nullptr);
  LockAttempt third = AcquireInstanceLock(Folder());
  EXPECT_EQ(third.outcome, LockOutcome::kAcquired);
  EXPECT_TRUE(std::filesystem::exists(Folder() + "merx"));
}

TEST_F(InstanceLockTest, ExistingFileIsNeitherTruncatedNorDeleted) {
  std::ofstream(Folder() + "merx") << "left by an earlier run";
  {
    LockAttempt attempt = AcquireInstanceLock(Folder());
    ASSERT_EQ(attempt.outcome, LockOutcome::kAcquired);
  }
  std::ifstream file(Folder() + "merx");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), "left by an earlier run");
}

TEST_F(InstanceLockTest, MissingFolderIsAFailureWithItsReason) {
  LockAttempt attempt = AcquireInstanceLock(Folder() + "missing/");
  EXPECT_EQ(attempt.outcome, LockOutcome::kFailed);
  EXPECT_EQ(attempt.lock, nullptr);
  EXPECT_NE(attempt.error.find("merx"), std::string::npos) << attempt.error;
  std::filesystem::create_symlink(Folder() + "other", Folder() + "merx");  // planted
  EXPECT_EQ(AcquireInstanceLock(Folder()).outcome, LockOutcome::kFailed);
  EXPECT_FALSE(std::filesystem::exists(Folder() + "other"));
}

}  // namespace
}  // namespace quorvane
