#include "util/tick.h"

#include <chrono>
#include <thread>

namespace quorvane {

std::uint32_t TickCount() {
  const auto since_epoch = std::chrono::steady_clock::now().time_since_epoch();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(since_epoch).count();
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ms));
}

void SleepMs(std::uint32_t ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace quorvane
