// The allocation policy of quorvane-inspect: blocks of many megabytes (the
// payload of a large object, the stream written from it) get a mapping of their
// own whose pages are all made when it is created, so filling them costs one
// call instead of a page fault per 4 KiB, and they go back to the system as
// soon as they are freed. (Transparent huge pages were tried: under memory
// pressure their compaction made the runs slower and far less even.) Everything smaller goes
// through malloc. Installed by linking large_blocks.cpp into the program (it replaces the global
// operator new and delete); left out of sanitizer builds, whose allocator checks more.
#pragma once

#include <cstddef>

namespace quorvane::inspect {

// Blocks of at least this size get their own mapping.
inline constexpr std::size_t kLargeBlock = std::size_t{8} << 20;

}  // namespace quorvane::inspect
