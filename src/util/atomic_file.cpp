#include "util/atomic_file.h"

#include <atomic>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <random>
#include <set>

#include "util/atomic_file_platform.h"
#include "util/diagnostic_log.h"
#include "util/program_folder.h"

namespace quorvane {
namespace fs = std::filesystem;
using atomic_detail::LastSystemError;

namespace {

constexpr std::string_view kLayer = "util";

constexpr std::string_view kTemporaryStart = ".qs";
constexpr std::string_view kTemporaryEnd = ".tmp";
constexpr std::size_t kTemporaryDigits = 16;

bool AllOf(std::string_view text, int (*test)(int)) {
  for (const char c : text)
    if (!test(static_cast<unsigned char>(c))) return false;
  return true;
}

// The same length whatever the target's name, so a name of the file system's
// longest still has a temporary beside it; unique by a random part and a counter.
std::string TemporaryName() {
  static std::atomic<std::uint32_t> counter{0};
  thread_local std::mt19937 engine{std::random_device{}()};
  char digits[kTemporaryDigits + 1];
  std::snprintf(digits, sizeof digits, "%08x%08x", static_cast<unsigned>(engine()),
                static_cast<unsigned>(counter++));
  return std::string(kTemporaryStart) + digits + std::string(kTemporaryEnd);
}

fs::path FolderOf(const fs::path& target) {
  return target.has_parent_path() ? target.parent_path() : fs::path(".");
}

// The file a write to `path` replaces: the path itself, or with follow_symlink
// the end of its chain of links (relative links are taken from the link's folder).
fs::path ResolveTarget(const std::string& path, bool follow_symlink) {
  fs::path target(path);
  if (!follow_symlink) return target;
  std::error_code error;
  for (int hops = 0; hops < 40 && fs::is_symlink(fs::symlink_status(target, error)); ++hops) {
    const fs::path link = fs::read_symlink(target, error);
    if (error) break;
    target = link.is_absolute() ? link : FolderOf(target) / link;
  }
  return target;
}

// Writes a temporary beside `target` without flushing it; its path goes to
// `written` when it succeeds.
Status WriteTemporary(const fs::path& target, bool create_folders, bool owner_executable,
                      const std::function<bool(std::FILE*)>& write, std::string& written) {
  std::error_code error;
  const fs::path folder = FolderOf(target);
  if (create_folders) fs::create_directories(folder, error);
  const fs::path temporary = folder / TemporaryName();
  const std::string shown = NativePathText(temporary.string());
  std::FILE* file = atomic_detail::CreateNewFile(temporary.string());
  if (file == nullptr) return Status::Error("cannot create " + shown, LastSystemError());
  Status status = atomic_detail::KeepModeOf(target.string(), file);
  if (status.ok() && owner_executable) status = atomic_detail::AddOwnerExecute(file);
  if (status.ok() && !write(file))
    status = Status::Error("cannot write " + shown, LastSystemError());
  if (status.ok() && std::fflush(file) != 0)
    status = Status::Error("cannot write " + shown, LastSystemError());
  if (std::fclose(file) != 0 && status.ok())
    status = Status::Error("cannot close " + shown, LastSystemError());
  if (!status.ok()) {
    fs::remove(temporary, error);
    return status;
  }
  written = temporary.string();
  return status;
}

std::function<bool(std::FILE*)> BytesWriter(std::string_view bytes) {
  return [bytes](std::FILE* file) {
    return bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  };
}

Status RenameOver(const std::string& temporary, const fs::path& target) {
  std::error_code error;
  fs::rename(temporary, target, error);
  if (!error) return Status::Ok();
  Status status = Status::Error(
      "cannot rename " + NativePathText(temporary) + " to " + NativePathText(target.string()),
      error.message());
  fs::remove(temporary, error);
  return status;
}

}  // namespace

Status WriteFileAtomically(const std::string& path, std::string_view bytes, bool create_folders) {
  AtomicWriteOptions options;
  options.create_folders = create_folders;
  return WriteFileAtomically(path, bytes, options);
}

Status WriteFileAtomically(const std::string& path, std::string_view bytes,
                           const AtomicWriteOptions& options) {
  return WriteFileAtomicallyWith(path, BytesWriter(bytes), options);
}

Status WriteFileAtomicallyWith(const std::string& path,
                               const std::function<bool(std::FILE*)>& write,
                               const AtomicWriteOptions& options) {
  const fs::path target = ResolveTarget(path, options.follow_symlink);
  const auto write_and_sync = [&](std::FILE* file) {
    return write(file) && std::fflush(file) == 0 && SyncFileToDisk(file);
  };
  std::string temporary;
  Status status = WriteTemporary(target, options.create_folders, options.owner_executable,
                                 write_and_sync, temporary);
  if (status.ok()) status = RenameOver(temporary, target);
  if (!status.ok()) return status;
  if (const Status synced = atomic_detail::SyncFolder(FolderOf(target).string()); !synced.ok())
    DiagnosticLog(kLayer, NativePathText(target.string()) + " replaced, but " + synced.ToString());
  return status;
}

bool IsTemporaryName(std::string_view name) {
  if (name.size() == kTemporaryStart.size() + kTemporaryDigits + kTemporaryEnd.size() &&
      name.starts_with(kTemporaryStart) && name.ends_with(kTemporaryEnd) &&
      AllOf(name.substr(kTemporaryStart.size(), kTemporaryDigits),
            [](int c) { return std::isxdigit(c); }))
    return true;
  // Earlier versions: the target's name, ".tmp", digits, ".", digits.
  const std::size_t tmp = name.rfind(".tmp");
  if (tmp == std::string_view::npos || tmp == 0) return false;
  const std::string_view numbers = name.substr(tmp + 4);
  const std::size_t dot = numbers.find('.');
  if (dot == std::string_view::npos) return false;
  const std::string_view first = numbers.substr(0, dot);
  const std::string_view second = numbers.substr(dot + 1);
  const auto digit = [](int c) { return std::isdigit(c); };
  return !first.empty() && !second.empty() && AllOf(first, digit) && AllOf(second, digit);
}

std::size_t RemoveLeftTemporaries(const std::string& folder) {
  std::size_t removed = 0;
  std::error_code error;
  for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end;
       it.increment(error)) {
    std::error_code entry_error;
    if (it->is_symlink(entry_error) || !it->is_regular_file(entry_error) ||
        !IsTemporaryName(it->path().filename().string()))
      continue;
    if (fs::remove(it->path(), entry_error))
      ++removed;
    else
      DiagnosticLog(kLayer, "left temporary " + NativePathText(it->path().string()) +
                                " not removed: " + entry_error.message());
  }
  if (removed > 0)
    DiagnosticLog(kLayer, std::to_string(removed) + " temporaries of an earlier run removed");
  return removed;
}

std::string FinalLinkTarget(const std::string& path) {
  return ResolveTarget(path, true).string();
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return std::nullopt;
  std::string content;
  char buffer[65536];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
    content.append(buffer, got);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) return std::nullopt;
  return content;
}

// --- DurableFileBatch ---------------------------------------------------------

DurableFileBatch::DurableFileBatch(const AtomicWriteOptions& options) : options_(options) {}

DurableFileBatch::~DurableFileBatch() {
  Discard();
}

void DurableFileBatch::Discard() {
  std::error_code error;
  for (auto& [path, entry] : entries_)
    if (!entry.temporary.empty()) fs::remove(entry.temporary, error);
  entries_.clear();
  order_.clear();
  for (auto& [device, handle] : file_systems_)
    atomic_detail::CloseFileSystemHandle(handle);
  file_systems_.clear();
}

bool DurableFileBatch::TrackFileSystemOf(const std::string& folder) {
  unsigned long long device = 0;
  const int handle = atomic_detail::OpenFileSystemHandle(folder, &device);
  if (handle < 0) return false;
  if (!file_systems_.emplace(device, handle).second) atomic_detail::CloseFileSystemHandle(handle);
  return true;
}

Status DurableFileBatch::Add(const std::string& path, std::string_view bytes,
                             bool owner_executable) {
  return AddWith(path, BytesWriter(bytes), owner_executable);
}

Status DurableFileBatch::AddWith(const std::string& path,
                                 const std::function<bool(std::FILE*)>& write,
                                 bool owner_executable) {
  auto [it, inserted] = entries_.try_emplace(path);
  if (inserted) order_.push_back(path);
  Entry& entry = it->second;
  std::error_code error;
  if (!entry.temporary.empty()) fs::remove(entry.temporary, error);
  entry = Entry{};
  const fs::path target = ResolveTarget(path, options_.follow_symlink);
  entry.target = target.string();
  // The file system handle is opened before the temporary is written, so a
  // write-back error of this batch is reported by the flush in Commit.
  if (options_.create_folders) fs::create_directories(FolderOf(target), error);
  entry.flushed_with_file_system = TrackFileSystemOf(FolderOf(target).string());
  entry.status =
      WriteTemporary(target, options_.create_folders, options_.owner_executable || owner_executable,
                     write, entry.temporary);
  return entry.status;
}

std::vector<DurableFileResult> DurableFileBatch::Commit() {
  std::vector<Entry*> pending;
  for (const std::string& path : order_) {
    Entry& entry = entries_.at(path);
    if (!entry.temporary.empty()) pending.push_back(&entry);
  }

  // One flush per file system when the platform has it and there is more than
  // one file; otherwise (or when that flush fails) a flush per file, so that a
  // file whose data cannot be flushed is found and kept out of the renames.
  bool flushed_together = pending.size() > 1 && !file_systems_.empty();
  if (flushed_together) {
    for (auto& [device, handle] : file_systems_) {
      if (const Status synced = atomic_detail::SyncFileSystem(handle); !synced.ok()) {
        DiagnosticLog(kLayer, "batch of " + std::to_string(pending.size()) +
                                  " files: " + synced.ToString() + "; flushing each file");
        flushed_together = false;
        break;
      }
    }
  }
  // A file whose file system has no handle is flushed alone.
  std::error_code error;
  for (Entry* entry : pending) {
    if (flushed_together && entry->flushed_with_file_system) continue;
    entry->status = atomic_detail::SyncPath(entry->temporary);
    if (!entry->status.ok()) {
      fs::remove(entry->temporary, error);
      entry->temporary.clear();
    }
  }

  std::set<std::string> all_folders;   // of every renamed file
  std::set<std::string> lone_folders;  // of renamed files outside the flushed file systems
  for (Entry* entry : pending) {
    if (entry->temporary.empty()) continue;
    entry->status = RenameOver(entry->temporary, entry->target);
    if (entry->status.ok()) {
      const std::string folder = FolderOf(entry->target).string();
      all_folders.insert(folder);
      if (!(flushed_together && entry->flushed_with_file_system)) lone_folders.insert(folder);
    }
    entry->temporary.clear();
  }
  // Makes the renames durable: one more flush per file system, else each folder.
  if (flushed_together) {
    for (auto& [device, handle] : file_systems_) {
      if (!atomic_detail::SyncFileSystem(handle).ok()) {
        lone_folders = all_folders;
        break;
      }
    }
  }
  for (const std::string& folder : lone_folders) {
    if (const Status synced = atomic_detail::SyncFolder(folder); !synced.ok())
      DiagnosticLog(kLayer,
                    "files renamed in " + NativePathText(folder) + ", but " + synced.ToString());
  }

  std::vector<DurableFileResult> results;
  results.reserve(order_.size());
  for (const std::string& path : order_) {
    const Entry& entry = entries_.at(path);
    results.push_back({path, entry.status});
  }
  Discard();
  return results;
}

}  // namespace quorvane
