#include <io.h>

#include "util/atomic_file.h"

namespace quorvane {

bool SyncFileToDisk(std::FILE* file) {
  return ::_commit(::_fileno(file)) == 0;
}

}  // namespace quorvane
