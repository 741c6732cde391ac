#include "util/program_folder.h"

#include <atomic>
#include <list>
#include <mutex>
#include <optional>

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
