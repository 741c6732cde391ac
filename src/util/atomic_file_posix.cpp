#include <unistd.h>

#include "util/atomic_file.h"

namespace quorvane {

bool SyncFileToDisk(std::FILE* file) {
  return ::fsync(::fileno(file)) == 0;
}

}  // namespace quorvane
