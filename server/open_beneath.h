// Opening a file beneath a folder held open, so that no link and no folder
// swapped in between a check and the open can lead out of it: the path is
// resolved by the kernel beneath the folder's descriptor without following any
// link (openat2), or, where openat2 is missing, one component at a time with
// O_NOFOLLOW. Safe from any thread.
#pragma once

#include <filesystem>

namespace quorvane::server {

// A descriptor of `folder` to open beneath (O_PATH), or -1 with errno set.
int OpenFolderForBeneath(const std::filesystem::path& folder);

// Opens `relative` (no "..", no leading "/") read-only beneath the folder
// `root`; -1 with errno set (ELOOP or ENOTDIR when a component is a link).
int OpenBeneath(int root, const std::filesystem::path& relative);

}  // namespace quorvane::server
