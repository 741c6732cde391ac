#include "util/guid.h"

namespace quorvane {

Guid NewGuid() {
  return RandomGuid();
}

}  // namespace quorvane
