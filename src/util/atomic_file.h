// Whole-file replacement that never leaves a half-written file: the bytes go to a
// temporary file in the target's folder, are flushed to disk, and the temporary
// file is renamed over the target. On any failure the old file stays whole and
// the temporary file is removed. Safe to call from any thread for distinct paths.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace quorvane {

// path is native. Missing parent folders are created when create_folders is set.
// Returns false (and leaves the target untouched) on any failure.
bool WriteFileAtomically(const std::string& path, std::string_view bytes,
                         bool create_folders = true);

// The whole content of a native path, or nothing when it cannot be read.
std::optional<std::string> ReadWholeFile(const std::string& path);

// Flushes an open file's data to the disk (platform-specific).
bool SyncFileToDisk(std::FILE* file);

}  // namespace quorvane
