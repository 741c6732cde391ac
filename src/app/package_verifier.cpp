#include "app/package_verifier.h"

#include <charconv>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "app/received_files.h"
#include "model/persistent.h"
#include "objects/files.h"
#include "settings/site.h"
#include "util/atomic_file.h"
#include "util/codec.h"
#include "util/diagnostic_log.h"
#include "util/program_folder.h"
#include "util/text.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kLogLayer = "signature";
constexpr const char* kManifestFile = "DB\\package.manifest";
constexpr const char* kCheckedFile = "DB\\package.checked";
constexpr std::size_t kReadChunk = 1 << 20;
// Files from this size on are hashed on a thread of their own beside their write.
constexpr std::size_t kDigestOnWorker = 256 << 10;

std::optional<Sha256Digest> HashFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  Sha256 hash;
  std::string chunk(kReadChunk, '\0');
  while (in) {
    in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    hash.Update(std::string_view(chunk.data(), static_cast<std::size_t>(in.gcount())));
  }
  if (in.bad()) return std::nullopt;
  return hash.Final();
}

std::string SizeDiffers(std::int64_t size, std::int64_t signed_size) {
  return "its size " + std::to_string(size) + " differs from the signed size " +
         std::to_string(signed_size);
}

constexpr const char* kDigestDiffers = "its SHA-256 differs from the signed manifest";

std::vector<std::string> Lines(std::string_view text) {
  TStringList list;
  list.SetText(text);
  return std::move(list.Lines());
}

std::string Text(const std::vector<std::string>& lines) {
  TStringList list;
  list.Lines() = lines;
  return list.Text();
}

}  // namespace

std::unique_ptr<PackageVerifier> PackageVerifier::FromSite() {
  const std::string& key = Site().package_public_key;
  if (key.empty()) return nullptr;
  return std::make_unique<PackageVerifier>(key);
}

PackageVerifier::PackageVerifier(const std::string& public_key) {
  std::optional<std::string> raw = DecodeBase64(public_key);
  if (raw && raw->size() == 32) {
    public_key_ = std::move(*raw);
  } else {
    // Refusing everything is the only safe reading of a key that cannot be used.
    DiagnosticLog(kLogLayer,
                  "package_public_key is not a base64 Ed25519 public key: every "
                  "installation is refused");
    return;
  }
  if (std::optional<std::string> stored = ReadWholeFile(NativePath(kManifestFile))) {
    std::string error;
    manifest_ = VerifyManifestLines(Lines(*stored), public_key_, &error);
    if (manifest_) {
      stored_text_ = std::move(*stored);
      LoadChecked();
    } else {
      DiagnosticLog(kLogLayer, std::string("stored manifest ignored: ") + error);
    }
  }
}

void PackageVerifier::LoadChecked() {
  const std::optional<std::string> text = ReadWholeFile(NativePath(kCheckedFile));
  if (!text) return;
  // A malformed line only costs a fresh look at that file.
  for (const std::string& line : Lines(*text)) {
    const std::size_t first = line.find('\t');
    const std::size_t second = line.find('\t', first + 1);
    const std::size_t third = line.find('\t', second + 1);
    if (third == std::string::npos) continue;
    Checked checked;
    const char* size_end = line.data() + second;
    const char* time_end = line.data() + third;
    auto [after_size, size_error] =
        std::from_chars(line.data() + first + 1, size_end, checked.size);
    auto [after_time, time_error] =
        std::from_chars(line.data() + second + 1, time_end, checked.mtime);
    std::optional<Sha256Digest> digest = DigestFromHex(std::string_view(line).substr(third + 1));
    if (size_error != std::errc() || after_size != size_end || time_error != std::errc() ||
        after_time != time_end || !digest)
      continue;
    checked.sha256 = *digest;
    checked_[line.substr(0, first)] = checked;
  }
}

std::string PackageVerifier::PathOf(const ManifestFile& file) {
  return NativePath(file.folder + file.name);
}

bool PackageVerifier::SizeAndTime(const std::string& path, std::int64_t& size,
                                  std::int64_t& mtime) {
  std::error_code error;
  if (!fs::is_regular_file(path, error)) return false;
  const auto bytes = fs::file_size(path, error);
  if (error) return false;
  const auto time = fs::last_write_time(path, error);
  if (error) return false;
  size = static_cast<std::int64_t>(bytes);
  mtime = static_cast<std::int64_t>(time.time_since_epoch().count());
  return true;
}

void PackageVerifier::Record(const ManifestFile& file, const std::string& path) {
  Checked checked;
  checked.sha256 = file.sha256;
  if (!SizeAndTime(path, checked.size, checked.mtime)) return;
  checked_[ManifestKey(file.folder, file.name)] = checked;
  checked_changed_ = true;
}

void PackageVerifier::CheckInstalledFiles() {
  left_out_.clear();
  if (!manifest_) return;
  std::map<std::string, Checked> still;
  for (const ManifestFile& file : manifest_->files) {
    const std::string key = ManifestKey(file.folder, file.name);
    const std::string path = PathOf(file);
    Checked now;
    now.sha256 = file.sha256;
    if (!SizeAndTime(path, now.size, now.mtime)) continue;  // missing: not in the inventory
    auto known = checked_.find(key);
    if (known != checked_.end() && known->second.size == now.size &&
        known->second.mtime == now.mtime && known->second.sha256 == file.sha256) {
      still.insert(*known);
      continue;
    }
    std::string why;
    if (now.size != file.size) {
      why = SizeDiffers(now.size, file.size);
    } else if (std::optional<Sha256Digest> digest = HashFile(path); !digest) {
      why = "it cannot be read";
    } else if (*digest != file.sha256) {
      why = kDigestDiffers;
    }
    if (why.empty()) {
      still[key] = now;
      continue;
    }
    left_out_.insert(key);
    DiagnosticLog(kLogLayer, "installed file \"" + file.folder + file.name +
                                 "\" left out of the inventory to be sent again: " + why);
  }
  if (still != checked_) checked_changed_ = true;
  checked_ = std::move(still);
  Save();
}

void PackageVerifier::LeaveOutOfInventory(TSOFilesList& request) const {
  if (left_out_.empty()) return;
  auto& dirs = request.xFileDirs->Lines();
  auto& names = request.xFileNames->Lines();
  auto& sizes = request.xFileSizes->Lines();
  auto& versions = request.xFileVersions->Lines();
  const std::size_t count =
      std::min(std::min(dirs.size(), names.size()), std::min(sizes.size(), versions.size()));
  std::size_t kept = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const std::string folder = dirs[i].empty() ? std::string() : dirs[i] + "\\";
    // The inventory holds names as the file system gives them (UTF-8 on POSIX).
    if (left_out_.count(ManifestKey(folder, names[i])) != 0 ||
        left_out_.count(ManifestKey(Utf8ToCp1252(folder), Utf8ToCp1252(names[i]))) != 0)
      continue;
    if (kept != i) {
      dirs[kept] = std::move(dirs[i]);
      names[kept] = std::move(names[i]);
      sizes[kept] = std::move(sizes[i]);
      versions[kept] = std::move(versions[i]);
    }
    ++kept;
  }
  for (auto* lines : {&dirs, &names, &sizes, &versions})
    lines->resize(kept);
}

bool PackageVerifier::AcceptManifest(const std::vector<std::string>& lines) {
  std::string error;
  std::optional<PackageManifest> manifest;
  if (public_key_.empty()) {
    error = "no valid package_public_key";
  } else {
    manifest = VerifyManifestLines(lines, public_key_, &error);
  }
  if (manifest && manifest_ && manifest->package != manifest_->package) {
    error =
        "it names the package \"" + manifest->package + "\", not \"" + manifest_->package + "\"";
    manifest.reset();
  } else if (manifest && manifest_ && manifest->version < manifest_->version) {
    error = "its version " + std::to_string(manifest->version) + " is older than the accepted " +
            std::to_string(manifest_->version);
    manifest.reset();
  }
  if (!manifest) {
    DiagnosticLog(kLogLayer, "manifest refused: " + error);
    return false;
  }
  DiagnosticLog(kLogLayer, "manifest accepted: package \"" + manifest->package + "\" version " +
                               std::to_string(manifest->version) + ", " +
                               std::to_string(manifest->files.size()) + " files");
  manifest_ = std::move(manifest);
  accepted_in_run_ = true;
  const std::string text = Text(lines);
  if (text != stored_text_) {
    if (const Status stored = WriteFileAtomically(NativePath(kManifestFile), text); stored.ok())
      stored_text_ = text;
    else
      DiagnosticLog(kLogLayer, "the accepted manifest could not be stored: " + stored.ToString());
  }
  return true;
}

const ManifestFile* PackageVerifier::Listed(const TSOFile& file) const {
  std::string relative;
  if (!manifest_ || !CheckReceivedLocation(file.xRelativePath, file.xFileName, &relative).ok())
    return nullptr;
  // `relative` is the folder and the name joined, as ManifestKey joins them.
  return manifest_->Find("", relative);
}

void PackageVerifier::Refuse(const TSOFile& file, const std::string& why) {
  ++refused_files_;
  DiagnosticLog(kLogLayer, "file \"" + file.xRelativePath + file.xFileName + "\" refused: " + why);
}

Status PackageVerifier::CheckFile(const TSOFile& file) {
  const Status location = CheckReceivedLocation(file.xRelativePath, file.xFileName);
  std::string why = location.ok() ? std::string() : location.why();
  const ManifestFile* listed = nullptr;
  // The stored manifest does not count: files of an older version, replayed
  // without any manifest, must not pass.
  if (why.empty() && !accepted_in_run_) why = "no signed manifest came before it";
  if (why.empty() && (listed = Listed(file)) == nullptr)
    why = "it is not listed in the signed manifest";
  if (why.empty() && static_cast<std::int64_t>(file.xData.size()) != listed->size)
    why = SizeDiffers(static_cast<std::int64_t>(file.xData.size()), listed->size);
  if (why.empty()) return Status::Ok();
  Refuse(file, why);
  return Status::Error(file.xRelativePath + file.xFileName, why);
}

void PackageVerifier::StartDigest(const TSOFile& file) {
  const std::string_view bytes = file.xData;
  const auto hash = [bytes] { return Sha256Of(bytes); };
  // A thread costs more than hashing a small file where it is.
  if (bytes.size() >= kDigestOnWorker) {
    try {
      digest_ = std::async(std::launch::async, hash);
      return;
    } catch (const std::system_error& error) {
      DiagnosticLog(kLogLayer,
                    std::string("no thread for a digest, taken in line: ") + error.what());
    }
  }
  digest_ = std::async(std::launch::deferred, hash);
}

std::string PackageVerifier::DigestVerdict(const TSOFile& file) {
  if (!digest_.valid()) StartDigest(file);
  const Sha256Digest digest = digest_.get();
  const ManifestFile* listed = accepted_in_run_ ? Listed(file) : nullptr;
  std::string why;
  if (listed == nullptr)
    why = "it is not listed in the signed manifest";
  else if (digest != listed->sha256)
    why = kDigestDiffers;
  if (!why.empty()) Refuse(file, why);
  return why;
}

void PackageVerifier::FileWritten(const TSOFile& file) {
  std::string relative;
  if (!manifest_ || !CheckReceivedLocation(file.xRelativePath, file.xFileName, &relative).ok())
    return;
  if (const ManifestFile* listed = manifest_->Find("", relative))
    Record(*listed, NativePath(relative));
}

void PackageVerifier::Save() {
  if (!checked_changed_) return;
  std::vector<std::string> lines;
  lines.reserve(checked_.size());
  for (const auto& [key, checked] : checked_)
    lines.push_back(key + '\t' + std::to_string(checked.size) + '\t' +
                    std::to_string(checked.mtime) + '\t' + HexOf(checked.sha256));
  if (const Status stored = WriteFileAtomically(NativePath(kCheckedFile), Text(lines)); stored.ok())
    checked_changed_ = false;
  else
    DiagnosticLog(kLogLayer,
                  "the checked sizes and times could not be stored: " + stored.ToString());
}

}  // namespace quorvane
