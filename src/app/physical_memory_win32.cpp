#include <windows.h>

#include "app/installation_request.h"

namespace quorvane {

std::uint64_t PhysicalMemoryBytes() {
  MEMORYSTATUS status{};
  status.dwLength = sizeof status;
  GlobalMemoryStatus(&status);
  return status.dwTotalPhys;
}

}  // namespace quorvane
