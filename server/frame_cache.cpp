#include "frame_cache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "wire.h"

namespace quorvane::server {
namespace fs = std::filesystem;

struct FrameCache::Entry {
  std::string path;
  bool ready = false;
  std::vector<PreparedCallback> waiters;
  std::shared_ptr<const std::string> memory;
  fs::path disk;
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

std::int64_t TimeNs(const struct stat& st) {
  return std::int64_t{st.st_mtim.tv_sec} * 1'000'000'000 + st.st_mtim.tv_nsec;
}

}  // namespace

bool ReadPackageFile(const PackageCatalogue& package, const PackageFile& file, std::string& data,
                     std::string& error) {
  const int fd = package.OpenFile(file, error);
  if (fd < 0) return false;
  struct stat before {};
  bool ok = ::fstat(fd, &before) == 0 && S_ISREG(before.st_mode) && before.st_size == file.size &&
            TimeNs(before) == file.mtime_ns;
  if (!ok) error = "changed since it was listed";
  if (ok) {
    data.resize(static_cast<std::size_t>(file.size));
    std::size_t done = 0;
    while (done < data.size()) {
      const ssize_t n =
          ::pread(fd, data.data() + done, data.size() - done, static_cast<off_t>(done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        ok = false;
        error = n < 0 ? std::string("read failed: ") + std::strerror(errno) : "shorter than listed";
        break;
      }
      done += static_cast<std::size_t>(n);
    }
  }
  struct stat after {};
  if (ok && (::fstat(fd, &after) != 0 || after.st_size != before.st_size ||
             TimeNs(after) != TimeNs(before))) {
    ok = false;
    error = "changed while it was read";
  }
  ::close(fd);
  if (!ok) data.clear();
  return ok;
}

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

void FrameCache::Acquire(const PackageFile& file, PreparedCallback done) {
  const std::string key = KeyOf(file);
  std::shared_ptr<PreparedFrames> ready;
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
  if (ready) {
    done(std::move(ready), std::string());
    return;
  }
  if (!options_.enabled) {
    post_([this, file, done = std::move(done)] {
      std::string data, error;
      if (!ReadPackageFile(package_, file, data, error)) {
        {
          std::lock_guard guard(mutex_);
          ++stats_.failures;
        }
        done(nullptr, error);
        return;
      }
      const std::int64_t file_size = static_cast<std::int64_t>(data.size());
      FileFrames frames = BuildFileFrames(file, std::move(data), options_.level);
      auto prepared = std::make_shared<PreparedFrames>();
      prepared->size = static_cast<std::int64_t>(frames.bytes.size());
      prepared->file_size = file_size;
      prepared->compressed = frames.compressed;
      prepared->memory = std::make_shared<const std::string>(std::move(frames.bytes));
      {
        std::lock_guard guard(mutex_);
        ++stats_.preparations;
      }
      done(std::move(prepared), std::string());
    });
    return;
  }
  post_([this, file, key] { Prepare(file, key); });
}

void FrameCache::Prepare(const PackageFile& file, const std::string& key) {
  std::string data, error;
  if (!ReadPackageFile(package_, file, data, error)) {
    Finish(key, nullptr, {}, 0, false, error);
    return;
  }
  const std::int64_t file_size = static_cast<std::int64_t>(data.size());
  const std::uint64_t hash = ContentHash(data);
  FileFrames frames;
  try {
    frames = BuildFileFrames(file, std::move(data), options_.level);
  } catch (const std::exception& e) {
    Finish(key, nullptr, {}, 0, false, std::string("cannot prepare: ") + e.what());
    return;
  }
  std::string store_error;
  const fs::path disk = Store(frames.bytes, hash, file_size, store_error);
  if (disk.empty() && log_) log_("cache: frames kept in memory only: " + store_error);
  const bool compressed = frames.compressed;
  auto bytes = std::make_shared<const std::string>(std::move(frames.bytes));
  Finish(key, std::move(bytes), disk, file_size, compressed, std::string());
}

fs::path FrameCache::Store(const std::string& bytes, std::uint64_t hash, std::int64_t file_size,
                           std::string& error) {
  char name[80];
  std::snprintf(name, sizeof name, "%016llx-%llx-%d.frm", static_cast<unsigned long long>(hash),
                static_cast<unsigned long long>(file_size), options_.level);
  const fs::path target = options_.folder / name;
  std::error_code ec;
  if (fs::is_regular_file(target, ec) &&
      fs::file_size(target, ec) == static_cast<std::uintmax_t>(bytes.size()))
    return target;
  static std::atomic<unsigned> counter{0};
  const fs::path temporary =
      options_.folder / (std::string(name) + "." + std::to_string(::getpid()) + "." +
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

void FrameCache::Finish(const std::string& key, std::shared_ptr<const std::string> bytes,
                        const fs::path& disk, std::int64_t file_size, bool compressed,
                        const std::string& error) {
  std::vector<PreparedCallback> waiters;
  std::shared_ptr<PreparedFrames> prepared;
  {
    std::lock_guard guard(mutex_);
    auto it = entries_.find(key);
    if (it == entries_.end()) return;  // cannot happen: entries are only forgotten when ready
    Entry& entry = *it->second;
    waiters = std::move(entry.waiters);
    entry.waiters.clear();
    if (!error.empty() || !bytes) {
      ++stats_.failures;
      entries_.erase(it);
    } else {
      ++stats_.preparations;
      entry.ready = true;
      entry.size = static_cast<std::int64_t>(bytes->size());
      entry.file_size = file_size;
      entry.compressed = compressed;
      entry.disk = disk;
      if (!disk.empty()) ++disk_users_[disk];
      prepared = std::make_shared<PreparedFrames>();
      prepared->memory = bytes;
      prepared->disk = disk;
      prepared->size = entry.size;
      prepared->file_size = file_size;
      prepared->compressed = compressed;
      entry.memory = std::move(bytes);
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
