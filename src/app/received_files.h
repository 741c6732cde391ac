// The one place where files that came from the server are written. Every
// location the server gives (relative folder and file name) is checked before
// anything touches the disk: no "..", no absolute path, no drive, no separator in
// the file name (backslashes and slashes alike), no folder that leads outside
// the program folder through a link, dangling or not. A link in the file's own
// place is replaced, never written through. The programs the installer starts
// get their owner's execute permission as they are written, and only then. Accepted files are
// written through one durable batch: each target is its old content or the whole new content, never
// a part, with one disk flush per batch. Main thread.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "util/status.h"

namespace quorvane {

class TSOFile;

struct ReceivedFileResult {
  std::string name;  // program-relative, as the server named it ("DB\Data.prp")
  // Ok when written; otherwise what failed and why.
  Status status;
};

// Ok when the server's location may be written; otherwise why not. On success
// `relative_name` (when given) is the program-relative name to write, with
// backslashes and a separator after a folder that lacked one.
Status CheckReceivedLocation(std::string_view relative_path, std::string_view file_name,
                             std::string* relative_name = nullptr);

// What the caller of WriteReceivedFiles does beside the writing of each file
// (by its index in the batch); every hook is optional.
struct ReceivedFileHooks {
  // Before the file's bytes go to its temporary: work on them may start on
  // another thread, which must be done when `verdict` returns.
  std::function<void(std::size_t)> before_write;
  // Once the bytes are in the temporary: empty to let the file take its name,
  // otherwise why not (logged by the hook); the temporary is then removed and
  // the target untouched.
  std::function<std::string(std::size_t)> verdict;
  // The file's bytes are no longer held (written to the temporary or refused):
  // the caller may give their memory back before the batch is flushed.
  std::function<void(std::size_t)> released;
};

// Checks and writes the files, in order; one result per file. Never throws.
// Each file's contents (xData) are released as soon as they are in their
// temporary file, so a large file does not stay in memory while the disk is
// flushed and the next objects arrive.
std::vector<ReceivedFileResult> WriteReceivedFiles(const std::vector<TSOFile*>& files,
                                                   const ReceivedFileHooks& hooks = {});

}  // namespace quorvane
