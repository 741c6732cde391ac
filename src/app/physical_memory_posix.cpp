#include <sys/sysinfo.h>

#include "app/installation_request.h"

namespace quorvane {

std::uint64_t PhysicalMemoryBytes() {
  struct sysinfo info {};
  if (::sysinfo(&info) != 0) return 0;
  return static_cast<std::uint64_t>(info.totalram) * info.mem_unit;
}

}  // namespace quorvane
