// Whole-file replacement that never leaves a half-written file: the bytes go to a
// temporary file in the target's folder, are flushed to disk, and the temporary
// file is renamed over the target; the folder is then flushed so the rename
// itself survives a power cut. On any failure the old file stays whole and the
// temporary file is removed. A replaced file keeps the mode of the file it
// replaces. Temporary names are short and hidden (".qs" + 16 hex digits +
// ".tmp"), so they fit beside a name of any length and stay out of listings;
// a temporary is created new, never through an existing name or link. Safe to
// call from any thread for distinct paths.
//
// DurableFileBatch gives the same guarantee to many files while paying the disk
// flush once per batch instead of once per file.
#pragma once

#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "util/status.h"

namespace quorvane {

struct AtomicWriteOptions {
  // Missing parent folders of the target are created.
  bool create_folders = true;
  // When the target is a symbolic link (even a dangling one), the file it names
  // is replaced and the link is kept. Off by default: a link is then replaced by
  // a regular file, as a new file would be.
  bool follow_symlink = false;
  // The new file gets its owner's execute permission (POSIX), set on the
  // temporary before the rename: a program the caller means to start.
  bool owner_executable = false;
};

// Whether a file name is one of our temporaries: the current form, or the
// "name.tmpN.M" form of earlier versions, which killed runs left behind.
bool IsTemporaryName(std::string_view file_name);

// Removes every temporary below `folder` (links are not followed) and returns
// how many. Only while no writer works there: under the program's lock.
std::size_t RemoveLeftTemporaries(const std::string& folder);

// path is native. Missing parent folders are created when create_folders is set.
// On any failure the target is untouched and the status says which step failed
// and why, e.g. "cannot create /a/b.tmp1.2: No space left on device".
Status WriteFileAtomically(const std::string& path, std::string_view bytes,
                           bool create_folders = true);

// The same with options.
Status WriteFileAtomically(const std::string& path, std::string_view bytes,
                           const AtomicWriteOptions& options);

// The same, with the content written by `write` into the open temporary file
// (binary mode); `write` returns false to give up. For content made of parts.
Status WriteFileAtomicallyWith(const std::string& path,
                               const std::function<bool(std::FILE*)>& write,
                               const AtomicWriteOptions& options = {});

// The file a write through `path` reaches: the end of its chain of symbolic
// links (relative links taken from the link's folder; the last one may dangle),
// or `path` itself when it is no link.
std::string FinalLinkTarget(const std::string& path);

// The whole content of a native path, or nothing when it cannot be read.
std::optional<std::string> ReadWholeFile(const std::string& path);

// Flushes an open file's data to the disk (platform-specific).
bool SyncFileToDisk(std::FILE* file);

// One file of a batch after Commit.
struct DurableFileResult {
  std::string path;  // the native path given to Add
  Status status;     // ok when written, else why not
};

// Writes several files so that after Commit each target is either its old
// content (or absent, if it was absent) or the whole new content, also after a
// power cut, with one flush of the disk for the whole batch:
//
//   DurableFileBatch batch;
//   batch.Add("/opt/q/bin/a.exe", bytes_a);     // written to a temporary now
//   batch.Add("/opt/q/bin/b.dll", bytes_b);
//   for (const auto& r : batch.Commit())        // one sync, then the renames
//     if (!r.status.ok()) Report(r.status.ToString());
//
// Add writes the bytes at once to a temporary file beside the target (so the
// caller may drop them) without flushing it. Commit flushes every temporary in
// one pass (one syncfs per file system on Linux, a flush per file elsewhere),
// renames each over its target and flushes again so the renames are durable.
// When the flush fails nothing is renamed and every target keeps its old
// content. Temporaries are removed on every path, also by the destructor of a
// batch that was never committed (its targets stay untouched). Add and Commit
// are for one thread at a time; distinct batches may run in parallel. A path
// added twice: the later bytes win (the earlier temporary is dropped).
class DurableFileBatch {
 public:
  explicit DurableFileBatch(const AtomicWriteOptions& options = {});
  ~DurableFileBatch();
  DurableFileBatch(const DurableFileBatch&) = delete;
  DurableFileBatch& operator=(const DurableFileBatch&) = delete;

  // Fails when the temporary cannot be made or written (the status is also
  // Commit's result for the path); the target is untouched either way.
  // owner_executable as in AtomicWriteOptions, for this file alone.
  Status Add(const std::string& path, std::string_view bytes, bool owner_executable = false);

  // Streaming variant for large content: `write` fills the open temporary file
  // (binary mode) and returns false to give up on this file.
  Status AddWith(const std::string& path, const std::function<bool(std::FILE*)>& write,
                 bool owner_executable = false);

  // Number of files added (written or not) since the last Commit or Discard.
  std::size_t Size() const { return entries_.size(); }

  // Syncs, renames, and returns one result per path in the order of Add (a path
  // added twice appears once, where it was first added). The batch is empty
  // afterwards and may be reused.
  std::vector<DurableFileResult> Commit();

  // Drops every temporary; no target is changed.
  void Discard();

 private:
  struct Entry {
    std::string target;     // the file that is replaced (the link's target when followed)
    std::string temporary;  // empty when Add failed
    Status status;
    bool flushed_with_file_system = false;  // its file system is flushed as a whole
  };
  bool TrackFileSystemOf(const std::string& folder);

  AtomicWriteOptions options_;
  std::vector<std::string> order_;                  // paths in the order of Add
  std::map<std::string, Entry> entries_;            // by path given to Add
  std::map<unsigned long long, int> file_systems_;  // device -> open handle (POSIX)
};

}  // namespace quorvane
