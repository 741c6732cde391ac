// Millisecond clock and sleep in the manner of GetTickCount and Sleep: a steady
// clock that wraps at 32 bits, so elapsed times are computed as unsigned
// differences (now - start). Safe from any thread.
#pragma once

#include <cstdint>

namespace quorvane {

std::uint32_t TickCount();
void SleepMs(std::uint32_t ms);

}  // namespace quorvane
