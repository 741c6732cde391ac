#include "util/program_folder.h"

#include <atomic>
#include <list>
#include <mutex>

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
  if (folder.empty() || (folder.back() != separator && folder.back() != '/')) folder += separator;
  store.folders.push_back(std::move(folder));
  const std::string* installed = &store.folders.back();
  store.current.store(installed, std::memory_order_release);
  return installed;
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
  Install(store, std::move(folder));
}

std::string NativePath(std::string_view name) {
  const std::string& folder = ProgramFolder();
  std::string_view relative = name;
  if (name.starts_with(folder)) {
    relative.remove_prefix(folder.size());
  } else if (platform::IsAbsolutePath(name)) {
    return platform::NativeSeparators(name);
  }
  // "\DB\x" is still below the program folder; drop the leading separators so the
  // join does not double them.
  while (!relative.empty() && (relative.front() == '\\' || relative.front() == '/'))
    relative.remove_prefix(1);
  return folder + platform::NativeRelativePath(relative);
}

}  // namespace quorvane
