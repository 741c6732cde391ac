#include "inventory.h"

#include <algorithm>
#include <charconv>

#include "objects/files.h"
#include "util/codec.h"
#include "util/text.h"

namespace quorvane::server {
namespace {

// The installer lists folders without their trailing backslash ("DB"); the
// package's wire folders carry one ("DB\").
std::string Key(std::string_view folder, std::string_view name) {
  std::string f = UpperCase(Trim(folder));
  while (!f.empty() && f.back() == '\\')
    f.pop_back();
  return f + '\\' + UpperCase(Trim(name));
}

bool ParseSize(const std::string& text, std::int64_t& size) {
  const std::string trimmed = Trim(text);
  if (trimmed.empty()) return false;
  const char* end = trimmed.data() + trimmed.size();
  auto [ptr, ec] = std::from_chars(trimmed.data(), end, size);
  return ec == std::errc() && ptr == end && size >= 0;
}

}  // namespace

Inventory Inventory::FromFilesList(const TSOFilesList& list, std::size_t max_entries) {
  Inventory inventory;
  const auto& dirs = list.xFileDirs->Lines();
  const auto& names = list.xFileNames->Lines();
  const auto& sizes = list.xFileSizes->Lines();
  const auto& versions = list.xFileVersions->Lines();
  const std::size_t n =
      std::min({dirs.size(), names.size(), sizes.size(), versions.size(), max_entries});
  for (std::size_t i = 0; i < n; ++i) {
    Entry entry;
    if (!ParseSize(sizes[i], entry.size)) continue;
    entry.version = UpperCase(Trim(versions[i]));
    inventory.entries_[Key(dirs[i], names[i])] = std::move(entry);
  }
  return inventory;
}

bool Inventory::Holds(const PackageFile& file) const {
  auto it = entries_.find(Key(file.folder, file.name));
  // An installer on a UTF-8 system lists non-ASCII names in UTF-8.
  if (it == entries_.end())
    it = entries_.find(Key(Cp1252ToUtf8(file.folder), Cp1252ToUtf8(file.name)));
  if (it == entries_.end()) return false;
  if (it->second.size != file.size) return false;
  if (!file.version.empty() && file.version != "NF" && it->second.version != file.version)
    return false;
  return true;
}

InstallPlan PlanInstallation(const std::vector<PackageFile>& package, const Inventory& inventory) {
  InstallPlan plan;
  plan.package_files = package.size();
  for (const PackageFile& file : package) {
    if (inventory.Holds(file)) continue;
    plan.bytes += file.size;
    plan.files.push_back(file);
  }
  return plan;
}

}  // namespace quorvane::server
