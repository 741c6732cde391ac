#include "package_signer.h"

#include <sys/stat.h>

#include <algorithm>
#include <set>

#include "frame_cache.h"
#include "objects/answers.h"
#include "objects/protocol.h"
#include "wire.h"

namespace quorvane::server {
namespace {

namespace fs = std::filesystem;

constexpr int kManifestLevel = 9;  // hexadecimal digests shrink by half

std::string FileKey(const PackageFile& file) {
  return file.native.string() + '\n' + std::to_string(file.size) + '\n' +
         std::to_string(file.mtime_ns);
}

// The newest modification time, in seconds, of the files and of every folder
// that holds them up to the package folder: removing a file changes its folder's
// time, so the version grows also when the newest file goes away.
std::uint64_t NewestSeconds(const std::vector<PackageFile>& files, const fs::path& root) {
  std::int64_t newest_ns = 0;
  std::set<fs::path> folders = {root};
  for (const PackageFile& file : files) {
    newest_ns = std::max(newest_ns, file.mtime_ns);
    if (file.updater) continue;  // outside the package
    fs::path folder = file.native.parent_path();
    while (folder.native().size() > root.native().size() && folders.insert(folder).second)
      folder = folder.parent_path();
  }
  for (const fs::path& folder : folders) {
    struct stat st {};
    if (::stat(folder.c_str(), &st) == 0)
      newest_ns = std::max(newest_ns, std::int64_t{st.st_mtim.tv_sec} * 1'000'000'000);
  }
  return static_cast<std::uint64_t>(newest_ns / 1'000'000'000);
}

}  // namespace

PackageSigner::PackageSigner(std::string secret, const PackageCatalogue& catalogue,
                             std::string package, std::optional<std::uint64_t> version)
    : secret_(std::move(secret)),
      catalogue_(catalogue),
      package_(std::move(package)),
      version_(version) {}

std::shared_ptr<const std::string> PackageSigner::Frames(const std::vector<PackageFile>& files,
                                                         std::string* error) {
  std::string listing;
  for (const PackageFile& file : files)
    listing += file.folder + '\t' + file.name + '\t' + FileKey(file) + '\n';
  std::lock_guard guard(mutex_);
  if (frames_ && listing == listing_) return frames_;

  PackageManifest manifest;
  manifest.package = package_;
  std::map<std::string, Sha256Digest> digests;
  for (const PackageFile& file : files) {
    const std::string key = FileKey(file);
    auto known = digests_.find(key);
    if (known == digests_.end()) {
      std::string data;
      std::string why;
      if (!ReadPackageFile(catalogue_, file, data, why)) {
        if (error != nullptr) *error = "cannot sign " + file.folder + file.name + ": " + why;
        return nullptr;
      }
      known = digests_.emplace(key, Sha256Of(data)).first;
    }
    digests.insert(*known);
    manifest.files.push_back({file.folder, file.name, file.size, known->second});
  }
  manifest.version = version_ ? *version_ : NewestSeconds(files, catalogue_.Root());
  TZelSObjectAnswer answer;
  answer.ZelWhat = std::string(protocol::kPackageManifest);
  for (std::string& line : SignedManifestLines(manifest, secret_))
    answer.ZelItems->Add(std::move(line));
  frames_ = std::make_shared<const std::string>(ObjectFrames(answer, kManifestLevel));
  listing_ = std::move(listing);
  digests_ = std::move(digests);  // only the present files' digests are kept
  return frames_;
}

}  // namespace quorvane::server
