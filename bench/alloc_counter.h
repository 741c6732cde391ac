// Counts heap bytes in use through the global operator new/delete of the benchmark
// program that links it, so a benchmark can report its peak memory as a counter.
// The counters are atomic; any thread may allocate.
#pragma once

#include <cstddef>

namespace quorvane::bench {

std::size_t BytesInUse();
std::size_t PeakBytes();
// Restarts the peak from the bytes in use now.
void ResetPeak();

}  // namespace quorvane::bench
