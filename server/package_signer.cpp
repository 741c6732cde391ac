#include "package_signer.h"

#include <sys/stat.h>

#include <algorithm>

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

// The newest modification time, in seconds, of the files and of the package's
// folders: removing a file changes its folder's time, so the version grows also
// when the newest file goes away, even when its folder is left empty.
std::uint64_t NewestSeconds(const std::vector<PackageFile>& files, const fs::path& root) {
  std::int64_t newest_ns = 0;
  for (const PackageFile& file : files)
    newest_ns = std::max(newest_ns, file.mtime_ns);
  auto folder_time = [&newest_ns](const fs::path& folder) {
    struct stat st {};
    if (::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
      newest_ns = std::max(newest_ns, std::int64_t{st.st_mtim.tv_sec} * 1'000'000'000);
  };
  folder_time(root);
  std::error_code error;
  for (fs::recursive_directory_iterator it(root, error), end; !error && it != end;
       it.increment(error))
    folder_time(it->path());  // links are neither followed nor counted
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
  std::shared_ptr<const SignedManifest> manifest = Sign(files, error);
  if (!manifest) return nullptr;
  return std::shared_ptr<const std::string>(manifest, &manifest->frames);
}

std::shared_ptr<const SignedManifest> PackageSigner::Sign(const std::vector<PackageFile>& files,
                                                          std::string* error) {
  std::string listing;
  for (const PackageFile& file : files)
    listing += file.folder + '\t' + file.name + '\t' + FileKey(file) + '\n';
  std::lock_guard guard(mutex_);
  if (signed_ && listing == listing_) return signed_;

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
  auto result = std::make_shared<SignedManifest>();
  result->lines = SignedManifestLines(manifest, secret_);
  TZelSObjectAnswer answer;
  answer.ZelWhat = std::string(protocol::kPackageManifest);
  answer.ZelItems->Lines() = result->lines;
  result->frames = ObjectFrames(answer, kManifestLevel);
  signed_ = std::move(result);
  listing_ = std::move(listing);
  digests_ = std::move(digests);  // only the present files' digests are kept
  return signed_;
}

}  // namespace quorvane::server
