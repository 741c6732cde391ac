// Where quorvane-inspect writes: a path taken relative to the current folder,
// into a folder that must already exist, replaced whole (a temporary file in the
// same folder, flushed to the disk, then renamed over the target), so the target
// is either the old file or the whole new one. Failures are InspectError
// messages that name the file and the system's reason. Single-threaded.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace quorvane::inspect {

// Checks that path names a file in an existing folder; throws InspectError
// "Cannot write PATH: ..." otherwise. Returns the path unchanged: the system
// resolves a relative path against the current folder.
const std::string& CheckOutputPath(const std::string& path);

// Writes the pieces one after the other as the new content of path. Keeps the
// mode of a file it replaces; a new file gets 0666 less the umask, as cp does.
// A symbolic link is followed, also a dangling one: its target is written.
void WriteOutputFile(const std::string& path, std::initializer_list<std::string_view> pieces);

}  // namespace quorvane::inspect
