// Platform parts of the atomic and batched file writes (atomic_file_posix.cpp /
// atomic_file_win32.cpp). Internal to util.
#pragma once

#include <cstdio>
#include <string>

#include "util/status.h"

namespace quorvane::atomic_detail {

// The text of the last system error (errno / GetLastError).
std::string LastSystemError();

// Creates a new file for writing (binary); fails when the name exists, link
// or not, so a write never goes through a planted link. Null with errno set.
std::FILE* CreateNewFile(const std::string& path);

// Adds the owner's execute permission to an open file (no-op where there is none).
Status AddOwnerExecute(std::FILE* file);

// Gives the open temporary the permission bits of `target` when it is a regular
// file (a link is replaced, not read through), so a replaced file keeps its mode. Fails
// only when the mode could not be set.
Status KeepModeOf(const std::string& target, std::FILE* temporary);

// Flushes a folder so that renames inside it are durable (no-op where the
// system journals renames itself).
Status SyncFolder(const std::string& folder);

// Reopens a closed file by path and flushes its data to the disk.
Status SyncPath(const std::string& path);

// A handle that flushes a whole file system at once, opened on a folder of it;
// -1 where the platform has no such call. `device` identifies the file system.
int OpenFileSystemHandle(const std::string& folder, unsigned long long* device);
Status SyncFileSystem(int handle);
void CloseFileSystemHandle(int handle);

}  // namespace quorvane::atomic_detail
