// The installer's inventory (folder, name, size and version of the files it
// already has) and the plan of what to send: every package file the installer
// lacks or holds in another size or version. The inventory is only ever a set
// of keys to compare with: nothing from it reaches a path on the server.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "catalogue.h"

namespace quorvane {
class TSOFilesList;
}

namespace quorvane::server {

// An installer's program folder may hold a million files; more are not compared.
inline constexpr std::size_t kMaxInventoryEntries = std::size_t{1} << 20;

class Inventory {
 public:
  // Lines beyond the shortest of the four lists, or beyond max_entries, are
  // ignored; a size that is not a plain decimal number never matches.
  static Inventory FromFilesList(const TSOFilesList& list,
                                 std::size_t max_entries = kMaxInventoryEntries);

  // The installer already holds this package file: same folder and name
  // (regardless of case), same size, and same version when the file has one.
  bool Holds(const PackageFile& file) const;

  std::size_t Size() const { return entries_.size(); }

 private:
  struct Entry {
    std::int64_t size = -1;
    std::string version;
  };
  std::unordered_map<std::string, Entry> entries_;
};

struct InstallPlan {
  std::vector<PackageFile> files;  // in installation order
  std::int64_t bytes = 0;          // the sum of their sizes
  std::size_t package_files = 0;   // files in the package
};

InstallPlan PlanInstallation(const std::vector<PackageFile>& package, const Inventory& inventory);

}  // namespace quorvane::server
