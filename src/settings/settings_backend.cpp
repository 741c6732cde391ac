#include "settings/settings_backend.h"

#include <mutex>
#include <utility>

namespace quorvane {
namespace {

std::mutex& SlotMutex() {
  static std::mutex mutex;
  return mutex;
}

// Guarded by SlotMutex(); created on first use so that no static initialiser
// depends on another translation unit.
std::unique_ptr<SettingsBackend>& Slot() {
  static std::unique_ptr<SettingsBackend> backend;
  return backend;
}

}  // namespace

void InstallSettingsBackend(std::unique_ptr<SettingsBackend> backend) {
  std::lock_guard lock(SlotMutex());
  Slot() = std::move(backend);
}

void WithSettingsBackend(const std::function<void(SettingsBackend&)>& action) {
  std::lock_guard lock(SlotMutex());
  auto& backend = Slot();
  if (!backend) backend = MakePlatformSettingsBackend();
  action(*backend);
}

}  // namespace quorvane
