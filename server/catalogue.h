// The package catalogue: the files of the package folder as the installer will
// receive them. Each file has its wire folder (backslashes, ending in a
// backslash, empty at the top), its wire name (Windows-1252), its size, time
// and version, and the phase it is sent in. Files are found only inside the
// package folder: a symbolic link leading out of it, a hidden name, a name the
// installer could not write, and a second name that differs only in case are
// refused. Scan is safe from any thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace quorvane::server {

// The order of an installation: the "DB" folder, then the other sub-folders,
// then the top level.
enum class InstallPhase { kDatabase = 1, kSubFolders = 2, kTopLevel = 3 };

struct PackageFile {
  std::string folder;            // wire form: "", "DB\", "Images\Big\"
  std::string name;              // wire form, Windows-1252
  std::filesystem::path native;  // absolute path on this machine
  std::int64_t size = 0;
  std::int64_t mtime_ns = 0;
  std::string version;  // "NF" when the file has no version resource
  InstallPhase phase = InstallPhase::kTopLevel;
  bool updater = false;  // the file given with --updater, outside the package
};

// Largest file the protocol carries: its size travels as a signed 32-bit
// value, and its frame is prepared in memory.
inline constexpr std::int64_t kMaxPackageFileSize = std::int64_t{1} << 30;

class PackageCatalogue {
 public:
  // `log` receives one line per refused file (once per file and reason).
  PackageCatalogue(std::filesystem::path root, std::optional<std::filesystem::path> updater,
                   std::function<void(const std::string&)> log = {});

  // The package as it is now, in installation order. Empty (and `error` set)
  // when the package folder cannot be read.
  std::vector<PackageFile> Scan(std::string* error = nullptr);

  const std::filesystem::path& Root() const { return root_; }

  // Opens a listed file for reading, beneath the package folder with no link
  // followed at the moment of opening (a listed link to a file inside the package
  // is resolved first, and its target opened the same way); the updater by its
  // own path. -1 and `error` when it cannot be opened or has left the package.
  int OpenFile(const PackageFile& file, std::string& error) const;

  // True when `path`, with every link resolved, lies inside the package folder
  // (a path that does not exist yet is judged by the part that does).
  bool Contains(const std::filesystem::path& path) const;

 private:
  std::string VersionOf(const std::filesystem::path& native, std::int64_t size,
                        std::int64_t mtime_ns);
  void Refuse(const std::string& what, const std::string& why);

  std::filesystem::path root_;  // canonical
  std::optional<std::filesystem::path> updater_;
  std::function<void(const std::string&)> log_;
  std::mutex mutex_;
  std::map<std::string, std::string> versions_;  // key: path, size, time
  std::set<std::string> refused_;                // already logged
};

// Takes the file's present size and time (and version) from the disk; false
// when it is gone or no longer a plain file.
bool RefreshPackageFile(PackageFile& file);

// The installer writes names lower-cased on systems that tell case apart, so two
// package names collide when they are equal in lower case.
std::string CollisionKey(const PackageFile& file);

}  // namespace quorvane::server
