#include "util/program_folder.h"

#include <atomic>
#include <filesystem>
#include <list>
#include <mutex>
#include <optional>
#include <vector>

#include "util/program_folder_backend.h"

namespace quorvane {
namespace {

// Every folder ever set stays alive, so a reference handed out by ProgramFolder()
// never dangles when a later SetProgramFolder replaces the current one.
struct FolderStore {
  std::mutex mutex;
  std::list<std::string> folders;
  std::atomic<const std::string*> current{nullptr};
};

FolderStore& Store() {
  static FolderStore store;
  return store;
}

const std::string* Install(FolderStore& store, std::string folder) {
  const char separator = platform::PathSeparator();
  if (folder.back() != separator && folder.back() != '/') folder += separator;
  store.folders.push_back(std::move(folder));
  const std::string* installed = &store.folders.back();
  store.current.store(installed, std::memory_order_release);
  return installed;
}

// The part of `name` below the program folder, or nothing for an absolute path
// elsewhere. "\DB\x" is below the folder too; its leading separators are dropped
// so a join does not double them.
std::optional<std::string_view> BelowFolder(std::string_view name, const std::string& folder) {
  std::string_view relative = name;
  if (name.starts_with(folder))
    relative.remove_prefix(folder.size());
  else if (platform::IsAbsolutePath(name))
    return std::nullopt;
  while (!relative.empty() && (relative.front() == '\\' || relative.front() == '/'))
    relative.remove_prefix(1);
  return relative;
}

namespace fs = std::filesystem;

// The path a file-system call on `path` reaches: each link on the way, dangling
// or not, replaced by what it names, as the kernel walks it (ELOOP after 40).
// Nothing when a link cannot be read or there are too many.
std::optional<fs::path> FollowLinks(const fs::path& path) {
  std::vector<fs::path> pending;  // components still to walk, the next one last
  const auto push = [&pending](const fs::path& relative) {
    const std::vector<fs::path> parts(relative.begin(), relative.end());
    pending.insert(pending.end(), parts.rbegin(), parts.rend());
  };
  fs::path reached = path.root_path();
  push(path.relative_path());
  int links = 0;
  std::error_code error;
  while (!pending.empty()) {
    const fs::path part = std::move(pending.back());
    pending.pop_back();
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      reached = reached.parent_path();
      continue;
    }
    fs::path next = reached / part;
    if (!fs::is_symlink(fs::symlink_status(next, error))) {
      reached = std::move(next);
      continue;
    }
    const fs::path link = fs::read_symlink(next, error);
    if (error || ++links > 40) return std::nullopt;
    if (link.is_absolute()) reached = link.root_path();
    push(link.relative_path());
  }
  return reached;
}

}  // namespace

const std::string& ProgramFolder() {
  FolderStore& store = Store();
  if (const std::string* folder = store.current.load(std::memory_order_acquire)) return *folder;
  std::lock_guard lock(store.mutex);
  if (const std::string* folder = store.current.load(std::memory_order_acquire)) return *folder;
  return *Install(store, platform::ExecutableFolder());
}

void SetProgramFolder(std::string folder) {
  FolderStore& store = Store();
  std::lock_guard lock(store.mutex);
  // An empty folder would otherwise become the file-system root.
  Install(store, folder.empty() ? platform::ExecutableFolder() : std::move(folder));
}

std::string NativePath(std::string_view name) {
  const std::string& folder = ProgramFolder();
  const auto relative = BelowFolder(name, folder);
  if (!relative) return platform::NativeSeparators(name);
  return folder + platform::NativeRelativePath(*relative);
}

std::string NameFromNative(std::string_view native_name) {
  return platform::NameFromNative(native_name);
}

std::string NativePathText(std::string_view native_path) {
  return platform::NativePathText(native_path);
}

Status CheckInsideProgramFolder(const std::string& native_path) {
  const std::optional<fs::path> root = FollowLinks(fs::path(ProgramFolder()));
  const std::optional<fs::path> reached = FollowLinks(fs::path(native_path));
  if (!root || !reached)
    return Status::Error(NativePathText(native_path), "a link on the way cannot be followed");
  auto at = reached->begin();
  for (const fs::path& part : *root) {
    if (part.empty()) continue;  // the program folder's trailing separator
    if (at == reached->end() || *at != part)
      return Status::Error(NativePathText(native_path),
                           "leads outside the program folder through a link, to " +
                               NativePathText(reached->string()));
    ++at;
  }
  return Status::Ok();
}

bool IsBelowProgramFolder(std::string_view name) {
  const auto relative = BelowFolder(name, ProgramFolder());
  if (!relative) return false;
  int depth = 0;
  std::size_t start = 0;
  while (start <= relative->size()) {
    std::size_t end = relative->find_first_of("\\/", start);
    if (end == std::string_view::npos) end = relative->size();
    const std::string_view part = relative->substr(start, end - start);
    if (part == "..") {
      if (--depth < 0) return false;
    } else if (!part.empty() && part != ".") {
      ++depth;
    }
    start = end + 1;
  }
  return true;
}

}  // namespace quorvane
