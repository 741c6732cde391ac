// The prepared-frame cache: each package file is read, serialized and
// compressed once, and the ready frames are shared by every installation that
// sends it. Entries are keyed by the file's path, size and modification time
// (with the content's hash naming the stored copy), so a changed file gets new
// frames. Every entry is stored under the state folder; the most recently used
// ones are also kept in memory up to a limit; a stored copy is checked against
// its size and SHA-256 before it is sent. Preparation runs on the worker pool
// given by the owner, a large file's slices on several workers at once; once
// cancelled it stops within a few MiB of reading, serialising or compressing.
// Safe from any thread.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "catalogue.h"
#include "transport/package_manifest.h"
#include "wire.h"

namespace quorvane::server {

// An open stored copy whose size and hash were checked; closed with its last user.
class StoredFile {
 public:
  explicit StoredFile(int fd) : fd_(fd) {}
  ~StoredFile();
  StoredFile(const StoredFile&) = delete;
  StoredFile& operator=(const StoredFile&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

struct PreparedFrames {
  std::shared_ptr<const std::string> memory;  // null when only on disk
  std::filesystem::path disk;                 // empty when only in memory
  std::shared_ptr<const StoredFile> stored;   // the checked copy, when sent from disk
  std::int64_t size = 0;                      // bytes on the wire
  std::int64_t file_size = 0;                 // bytes of the package file
  bool compressed = false;
};

using PreparedCallback =
    std::function<void(std::shared_ptr<const PreparedFrames> frames, const std::string& error)>;

class FrameCache {
 public:
  struct Options {
    std::filesystem::path folder;  // where stored frames live (created)
    std::size_t memory_limit = std::size_t{256} << 20;
    int level = 9;        // bzip2 level, 0 = never compress
    bool enabled = true;  // false: prepare for every request, keep nothing
    int parallel = 1;     // workers that may compress one file's slices at once
    // Installers waiting longer than this for a file being compressed get it
    // plain at the next slice instead (they give up after 180 s of silence).
    std::chrono::seconds patience{30};
  };
  struct Stats {
    std::uint64_t hits = 0;
    std::uint64_t preparations = 0;
    std::uint64_t failures = 0;
    std::size_t memory_bytes = 0;
    std::size_t entries = 0;
  };
  using Poster = std::function<void(std::function<void()>)>;
  using Logger = std::function<void(const std::string&)>;

  // `package` checks that a file still lies inside the package when it is read.
  FrameCache(Options options, const PackageCatalogue& package, Poster post, Logger log = {});
  ~FrameCache();
  FrameCache(const FrameCache&) = delete;
  FrameCache& operator=(const FrameCache&) = delete;

  // Calls `done` with the frames of `file`, at once when they are ready, else
  // from a worker once prepared. On failure the frames are null and `error`
  // says why (the file changed, vanished, or left the package).
  void Acquire(const PackageFile& file, PreparedCallback done);

  // Prepares `files` one after another, largest first, logging the progress,
  // so that installers find them ready. Returns at once.
  void PrepareAll(std::vector<PackageFile> files);

  // Ends every preparation between two slices; half-prepared frames are
  // dropped and later requests fail. For a server that is stopping.
  void Cancel();

  Stats GetStats() const;
  const Options& GetOptions() const { return options_; }

 private:
  struct Entry;
  using Digest = Sha256Digest;
  struct Built {
    std::shared_ptr<const std::string> bytes;
    std::int64_t file_size = 0;
    bool compressed = false;
  };
  using BuiltCallback = std::function<void(const Built& built, const std::string& error)>;

  // `between`, when given, runs before each slice of a compression.
  void Build(const PackageFile& file, BuiltCallback done,
             std::function<void(const FileObject& object)> between = {});
  void Prepare(const PackageFile& file, const std::string& key);
  void Finish(const std::string& key, const Built& built, const std::filesystem::path& disk,
              const Digest& digest, const std::string& error);
  void SendStored(const PackageFile& file, const std::string& key,
                  std::shared_ptr<PreparedFrames> frames, const Digest& digest,
                  PreparedCallback done);
  struct Warming;
  void PrepareNext(std::shared_ptr<Warming> warming);
  void EvictLocked();
  void ForgetLocked(const std::string& key);
  std::filesystem::path Store(const std::string& bytes, const Digest& digest, std::string& error);

  Options options_;
  const PackageCatalogue& package_;
  Poster post_;
  Logger log_;
  mutable std::mutex mutex_;
  std::map<std::string, std::unique_ptr<Entry>> entries_;  // by path, size, time
  std::map<std::string, std::string> current_key_;         // by path
  std::map<std::filesystem::path, int> disk_users_;        // stored copies in use
  std::list<std::string> recent_;                          // memory entries, newest first
  Stats stats_;
  std::atomic<bool> cancelled_{false};
};

// Reads a package file whole, refusing a file that has left the package, has
// become a link out of it, or differs in size or time from its listing. `stop`,
// when given, is asked every few MiB; its true ends the read ("abandoned").
bool ReadPackageFile(const PackageCatalogue& package, const PackageFile& file, std::string& data,
                     std::string& error, const std::function<bool()>& stop = {});

}  // namespace quorvane::server
