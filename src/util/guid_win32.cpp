#include <objbase.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "util/diagnostic_log.h"
#include "util/guid.h"

namespace quorvane {

// GUID's layout in memory (Data1, Data2, Data3 little-endian, then Data4) is
// the byte layout of Guid.
static_assert(sizeof(GUID) == sizeof(Guid::bytes));

Guid NewGuid() {
  GUID created;
  const HRESULT result = ::CoCreateGuid(&created);
  if (FAILED(result)) {
    DiagnosticLog("util", "CoCreateGuid failed (HRESULT " +
                              std::to_string(static_cast<unsigned long>(result)) +
                              "); a generated identifier stands in");
    return RandomGuid();
  }
  Guid guid;
  std::memcpy(guid.bytes.data(), &created, sizeof created);
  return guid;
}

}  // namespace quorvane
