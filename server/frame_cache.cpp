#include "frame_cache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "slice_compressor.h"
#include "util/codec.h"
#include "wire.h"

namespace quorvane::server {
namespace fs = std::filesystem;

struct FrameCache::Entry {
  std::string path;
  bool ready = false;
  std::vector<PreparedCallback> waiters;
  std::shared_ptr<const std::string> memory;
  fs::path disk;
  Digest digest{};
  std::int64_t size = 0;
  std::int64_t file_size = 0;
  bool compressed = false;
  std::list<std::string>::iterator recent;
  bool in_recent = false;
};

namespace {

std::string KeyOf(const PackageFile& file) {
  return file.native.string() + '\n' + std::to_string(file.size) + '\n' +
         std::to_string(file.mtime_ns);
}

constexpr std::size_t kCheckChunk = std::size_t{1} << 20;
constexpr std::size_t kReadChunk = std::size_t{4} << 20;           // between two looks at a stop
constexpr std::size_t kLoggedCompression = std::size_t{32} << 20;  // long enough to be seen

// SHA-256 of the `size` bytes of the open file `fd`; false when the file cannot
// be read whole.
bool FileDigest(int fd, std::int64_t size, Sha256Digest& out) {
  Sha256 hash;
  std::string chunk(kCheckChunk, '\0');
  for (std::int64_t at = 0; at < size;) {
    const ssize_t n = ::pread(fd, chunk.data(), chunk.size(), static_cast<off_t>(at));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    hash.Update(std::string_view(chunk.data(), static_cast<std::size_t>(n)));
    at += n;
  }
  out = hash.Final();
  return true;
}

// The package name of a file for the log, which is UTF-8: names are Windows-1252.
std::string LoggedName(const PackageFile& file) {
  return Cp1252ToUtf8(file.folder + file.name);
}

std::string MiB(std::int64_t bytes) {
  return std::to_string(bytes >> 20) + " MiB";
}

std::int64_t TimeNs(const struct stat& st) {
  return std::int64_t{st.st_mtim.tv_sec} * 1'000'000'000 + st.st_mtim.tv_nsec;
}

}  // namespace

bool ReadPackageFile(const PackageCatalogue& package, const PackageFile& file, std::string& data,
                     std::string& error, const std::function<bool()>& stop) {
  const int fd = package.OpenFile(file, error);
  if (fd < 0) return false;
  struct stat before {};
  bool ok = ::fstat(fd, &before) == 0 && S_ISREG(before.st_mode) && before.st_size == file.size &&
            TimeNs(before) == file.mtime_ns;
  if (!ok) error = "changed since it was listed";
  if (ok) {
    // Chunk by chunk, so that a stop is seen soon and the buffer is not zero-filled
    // whole before the first byte is read.
    const auto size = static_cast<std::size_t>(file.size);
    data.clear();
    data.reserve(size);
    while (data.size() < size) {
      if (stop && stop()) {
        ok = false;
        error = "abandoned";
        break;
      }
      const std::size_t done = data.size();
      data.resize(done + std::min(kReadChunk, size - done));
      const ssize_t n =
          ::pread(fd, data.data() + done, data.size() - done, static_cast<off_t>(done));
      const int why = errno;
      data.resize(done + static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
      if (n < 0 && why == EINTR) continue;
      if (n <= 0) {
        ok = false;
        error = n < 0 ? std::string("read failed: ") + std::strerror(why) : "shorter than listed";
        break;
      }
    }
  }
  struct stat after {};
  if (ok && (::fstat(fd, &after) != 0 || after.st_size != before.st_size ||
             TimeNs(after) != TimeNs(before))) {
    ok = false;
    error = "changed while it was read";
  }
  ::close(fd);
  if (!ok) std::string().swap(data);
  return ok;
}

StoredFile::~StoredFile() {
  ::close(fd_);
}

struct FrameCache::Warming {
  std::vector<PackageFile> files;
  std::size_t next = 0;
  std::int64_t total = 0;
  std::int64_t done = 0;
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point logged;
};

FrameCache::FrameCache(Options options, const PackageCatalogue& package, Poster post, Logger log)
    : options_(std::move(options)),
      package_(package),
      post_(std::move(post)),
      log_(std::move(log)) {
  std::error_code ec;
  fs::create_directories(options_.folder, ec);
  // Stored frames of an earlier run are not trusted: their files may have changed.
  for (fs::directory_iterator it(options_.folder, ec), end; !ec && it != end; it.increment(ec))
    if (it->path().extension() == ".frm" || it->path().extension() == ".tmp")
      fs::remove(it->path(), ec);
}

FrameCache::~FrameCache() {
  std::lock_guard guard(mutex_);
  std::error_code ec;
  for (const auto& [path, users] : disk_users_)
    fs::remove(path, ec);
}

void FrameCache::Cancel() {
  cancelled_ = true;
}

void FrameCache::Acquire(const PackageFile& file, PreparedCallback done) {
  const std::string key = KeyOf(file);
  std::shared_ptr<PreparedFrames> ready;
  Digest digest{};
  {
    std::lock_guard guard(mutex_);
    if (options_.enabled) {
      auto it = entries_.find(key);
      if (it != entries_.end()) {
        Entry& entry = *it->second;
        if (!entry.ready) {
          entry.waiters.push_back(std::move(done));
          return;
        }
        ++stats_.hits;
        ready = std::make_shared<PreparedFrames>();
        ready->memory = entry.memory;
        ready->disk = entry.disk;
        ready->size = entry.size;
        ready->file_size = entry.file_size;
        ready->compressed = entry.compressed;
        digest = entry.digest;
        if (entry.in_recent) recent_.splice(recent_.begin(), recent_, entry.recent);
      } else {
        // A new time or size for a path: its old frames are stale.
        if (auto old = current_key_.find(file.native.string()); old != current_key_.end()) {
          const std::string stale = old->second;
          if (auto e = entries_.find(stale); e != entries_.end() && e->second->ready)
            ForgetLocked(stale);  // one being prepared is forgotten when it is done
        }
        auto entry = std::make_unique<Entry>();
        entry->path = file.native.string();
        entry->waiters.push_back(std::move(done));
        entries_.emplace(key, std::move(entry));
        current_key_[file.native.string()] = key;
      }
    }
  }
  if (ready && !ready->memory) {
    SendStored(file, key, std::move(ready), digest, std::move(done));
  } else if (ready) {
    done(std::move(ready), std::string());
  } else if (!options_.enabled) {
    post_([this, file, done = std::move(done)] {
      Build(file, [this, done](const Built& built, const std::string& error) {
        auto prepared = std::make_shared<PreparedFrames>();
        prepared->memory = built.bytes;
        prepared->size = built.bytes ? static_cast<std::int64_t>(built.bytes->size()) : 0;
        prepared->file_size = built.file_size;
        prepared->compressed = built.compressed;
        {
          std::lock_guard guard(mutex_);
          ++(built.bytes ? stats_.preparations : stats_.failures);
        }
        done(built.bytes ? std::move(prepared) : nullptr, error);
      });
    });
  } else {
    post_([this, file, key] { Prepare(file, key); });
  }
}

void FrameCache::SendStored(const PackageFile& file, const std::string& key,
                            std::shared_ptr<PreparedFrames> frames, const Digest& digest,
                            PreparedCallback done) {
  post_([this, file, key, frames, digest, done = std::move(done)] {
    std::string why = "cannot open: ";
    const int fd = ::open(frames->disk.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    auto stored = fd >= 0 ? std::make_shared<const StoredFile>(fd) : nullptr;
    struct stat st {};
    Digest found{};
    if (!stored) {
      why += std::strerror(errno);
    } else if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size != frames->size) {
      why = "not the size it was stored with";
    } else if (!FileDigest(fd, frames->size, found) || found != digest) {
      why = "not the content it was stored with";
    } else {
      frames->stored = std::move(stored);
      done(frames, std::string());
      return;
    }
    if (log_)
      log_("cache: stored frames " + frames->disk.string() + " refused (" + why + "); preparing " +
           LoggedName(file) + " again");
    {
      std::lock_guard guard(mutex_);
      if (auto it = entries_.find(key); it != entries_.end() && it->second->disk == frames->disk)
        ForgetLocked(key);
    }
    Acquire(file, done);
  });
}

void FrameCache::Build(const PackageFile& file, BuiltCallback done,
                       std::function<void(const FileObject& object)> between) {
  const std::string name = LoggedName(file);
  // A preparation the stop ends keeps nothing.
  auto abandon = [this, name, done] {
    if (log_) log_("cache: preparation of " + name + " abandoned: stopping");
    done({}, "abandoned: the server is stopping");
  };
  // Reading and serialising a large file take long too: both look at the stop
  // every few MiB.
  struct Abandoned {};
  std::string data, error;
  if (cancelled_) return abandon();
  if (!ReadPackageFile(package_, file, data, error, [this] { return cancelled_.load(); })) {
    if (cancelled_) return abandon();
    done({}, error);
    return;
  }
  Built built;
  built.file_size = static_cast<std::int64_t>(data.size());
  FileObject object;
  try {
    object = SerializeFile(file, std::move(data), [this] {
      if (cancelled_) throw Abandoned{};
    });
  } catch (const Abandoned&) {
    return abandon();
  } catch (const std::exception& e) {
    done({}, std::string("cannot prepare: ") + e.what());
    return;
  }
  if (cancelled_) return abandon();
  if (options_.level <= 0 || !object.worth_compressing) {
    built.bytes = std::make_shared<const std::string>(FileFrames(object, nullptr));
    done(built, std::string());
    return;
  }
  auto shared = std::make_shared<const FileObject>(std::move(object));
  if (log_ && shared->stream->size() >= kLoggedCompression)
    log_("cache: compressing " + name + ", " + MiB(built.file_size) + " on up to " +
         std::to_string(options_.parallel) + " workers");
  CompressInSlices(
      shared->stream, options_.level, options_.parallel, post_,
      [this, shared, between] {
        if (!cancelled_ && between) between(*shared);
        return cancelled_.load();
      },
      [this, shared, built, abandon, done](std::optional<std::string> block,
                                           const std::string& why) {
        if (!block && cancelled_) return abandon();
        if (!block) return done({}, "cannot prepare: " + why);
        Built result = built;
        result.compressed = block->size() < shared->stream->size();
        result.bytes = std::make_shared<const std::string>(FileFrames(*shared, &*block));
        done(result, std::string());
      });
}

void FrameCache::Prepare(const PackageFile& file, const std::string& key) {
  struct Late {
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    std::mutex mutex;
    std::shared_ptr<const PreparedFrames> plain;  // made once, for every late waiter
  };
  auto late = std::make_shared<Late>();
  // Waiters past their patience get the plain frames now; the compression goes on for later ones.
  auto serve_late = [this, key, late, file](const FileObject& object) {
    std::vector<PreparedCallback> waiters;
    if (std::chrono::steady_clock::now() - late->start < options_.patience) return;
    {
      std::lock_guard guard(mutex_);
      if (auto it = entries_.find(key); it != entries_.end()) waiters.swap(it->second->waiters);
    }
    if (waiters.empty()) return;
    std::shared_ptr<const PreparedFrames> plain;
    {
      std::lock_guard guard(late->mutex);
      if (!late->plain) {
        auto frames = std::make_shared<PreparedFrames>();
        frames->memory = std::make_shared<const std::string>(FileFrames(object, nullptr));
        frames->size = static_cast<std::int64_t>(frames->memory->size());
        frames->file_size = file.size;
        late->plain = std::move(frames);
      }
      plain = late->plain;
    }
    if (log_)
      log_("cache: " + LoggedName(file) + " still being compressed: sent plain to " +
           std::to_string(waiters.size()) + " waiting");
    for (PreparedCallback& done : waiters)
      done(plain, std::string());
  };
  Build(
      file,
      [this, key](const Built& built, const std::string& error) {
        if (!built.bytes) {
          Finish(key, built, {}, {}, error);
          return;
        }
        const Digest digest = Sha256Of(*built.bytes);
        std::string store_error;
        const fs::path disk = Store(*built.bytes, digest, store_error);
        if (disk.empty() && log_) log_("cache: frames kept in memory only: " + store_error);
        Finish(key, built, disk, digest, std::string());
      },
      serve_late);
}

fs::path FrameCache::Store(const std::string& bytes, const Digest& digest, std::string& error) {
  const std::string name =
      HexOf(digest).substr(0, 32) + "-" + std::to_string(options_.level) + ".frm";
  const fs::path target = options_.folder / name;
  std::error_code ec;
  if (fs::is_regular_file(fs::symlink_status(target, ec)) &&
      fs::file_size(target, ec) == static_cast<std::uintmax_t>(bytes.size()))
    return target;  // the same frames, stored for another entry; checked when sent
  static std::atomic<unsigned> counter{0};
  const fs::path temporary = options_.folder / (name + "." + std::to_string(::getpid()) + "." +
                                                std::to_string(counter++) + ".tmp");
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      fs::remove(temporary, ec);
      error = "cannot write " + temporary.string();
      return {};
    }
  }
  fs::rename(temporary, target, ec);
  if (ec) {
    fs::remove(temporary, ec);
    error = "cannot rename to " + target.string();
    return {};
  }
  return target;
}

void FrameCache::Finish(const std::string& key, const Built& built, const fs::path& disk,
                        const Digest& digest, const std::string& error) {
  std::vector<PreparedCallback> waiters;
  std::shared_ptr<PreparedFrames> prepared;
  {
    std::lock_guard guard(mutex_);
    auto it = entries_.find(key);
    if (it == entries_.end()) return;  // cannot happen: entries are only forgotten when ready
    Entry& entry = *it->second;
    waiters = std::move(entry.waiters);
    entry.waiters.clear();
    if (!error.empty() || !built.bytes) {
      ++stats_.failures;
      entries_.erase(it);
    } else {
      ++stats_.preparations;
      entry.ready = true;
      entry.size = static_cast<std::int64_t>(built.bytes->size());
      entry.file_size = built.file_size;
      entry.compressed = built.compressed;
      entry.disk = disk;
      entry.digest = digest;
      if (!disk.empty()) ++disk_users_[disk];
      prepared = std::make_shared<PreparedFrames>();
      prepared->memory = built.bytes;
      prepared->disk = disk;
      prepared->size = entry.size;
      prepared->file_size = built.file_size;
      prepared->compressed = built.compressed;
      entry.memory = built.bytes;
      recent_.push_front(key);
      entry.recent = recent_.begin();
      entry.in_recent = true;
      stats_.memory_bytes += static_cast<std::size_t>(entry.size);
      // The file changed while it was being prepared: serve the waiters, keep nothing.
      if (auto current = current_key_.find(entry.path);
          current == current_key_.end() || current->second != key)
        ForgetLocked(key);
      else
        EvictLocked();
    }
    stats_.entries = entries_.size();
  }
  for (PreparedCallback& done : waiters)
    done(prepared, error);
}

void FrameCache::PrepareAll(std::vector<PackageFile> files) {
  if (!options_.enabled || files.empty()) return;
  auto warming = std::make_shared<Warming>();
  std::stable_sort(files.begin(), files.end(),
                   [](const PackageFile& a, const PackageFile& b) { return a.size > b.size; });
  for (const PackageFile& file : files)
    warming->total += file.size;
  warming->files = std::move(files);
  post_([this, warming] { PrepareNext(warming); });
}

void FrameCache::PrepareNext(std::shared_ptr<Warming> warming) {
  if (cancelled_ || warming->next >= warming->files.size()) return;
  const PackageFile& file = warming->files[warming->next];
  Acquire(file, [this, warming, &file](std::shared_ptr<const PreparedFrames> frames,
                                       const std::string& error) {
    if (cancelled_) return;  // the abandoned preparation is logged already
    warming->done += file.size;
    const std::size_t count = ++warming->next;
    const auto now = std::chrono::steady_clock::now();
    if (log_ && (!frames || count == warming->files.size() ||
                 now - warming->logged >= std::chrono::seconds(1))) {
      warming->logged = now;
      const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now - warming->start);
      log_("cache: " + std::string(frames ? "prepared " : "could not prepare ") + LoggedName(file) +
           (frames ? std::string() : " (" + error + ")") + "; " + std::to_string(count) + " of " +
           std::to_string(warming->files.size()) + " files, " + MiB(warming->done) + " of " +
           MiB(warming->total) + " in " + std::to_string(ms.count() / 1000) + "." +
           std::to_string(ms.count() % 1000 / 100) + " s");
    }
    post_([this, warming] { PrepareNext(warming); });
  });
}

void FrameCache::EvictLocked() {
  while (stats_.memory_bytes > options_.memory_limit && !recent_.empty()) {
    const std::string key = recent_.back();
    Entry& entry = *entries_.at(key);
    recent_.pop_back();
    entry.in_recent = false;
    stats_.memory_bytes -= static_cast<std::size_t>(entry.size);
    entry.memory.reset();
    if (entry.disk.empty()) ForgetLocked(key);  // nowhere else to serve it from
  }
}

void FrameCache::ForgetLocked(const std::string& key) {
  auto it = entries_.find(key);
  if (it == entries_.end()) return;
  Entry& entry = *it->second;
  if (entry.in_recent) {
    recent_.erase(entry.recent);
    stats_.memory_bytes -= static_cast<std::size_t>(entry.size);
  }
  if (!entry.disk.empty()) {
    // A session still sending the stored copy keeps its open descriptor.
    if (--disk_users_[entry.disk] <= 0) {
      std::error_code ec;
      fs::remove(entry.disk, ec);
      disk_users_.erase(entry.disk);
    }
  }
  entries_.erase(it);
  stats_.entries = entries_.size();
}

FrameCache::Stats FrameCache::GetStats() const {
  std::lock_guard guard(mutex_);
  return stats_;
}

}  // namespace quorvane::server
