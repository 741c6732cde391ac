// The installer's side of signed packages, active when site.toml holds the
// vendor's `package_public_key`. It accepts a "PackageManifest" only when its
// signature verifies, it names the package accepted before and its version is not
// older; it lets a received file take its name only when the manifest lists it
// with its size and SHA-256; and at start it finds installed files that no longer
// match, so the request leaves them out and the server sends them again.
//
// Kept under DB\: "package.manifest", the last accepted manifest's lines as
// received (signature included, each followed by CR LF), and beside it
// "package.checked", one line per listed file that matched when last looked at:
// KEY<TAB>SIZE<TAB>MTIME<TAB>SHA256-HEX (KEY: folder and name lower-cased). A
// file whose size and time are still those recorded, for the same digest, is not
// read again. Main thread only; the SHA-256 of a large file is taken on a
// worker thread of its own while the main thread writes the same bytes.
#pragma once

#include <cstdint>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "transport/package_manifest.h"
#include "util/status.h"

namespace quorvane {

class TSOFile;
class TSOFilesList;

class PackageVerifier {
 public:
  // Null when the site values hold no key.
  static std::unique_ptr<PackageVerifier> FromSite();
  // public_key: base64, as site.toml gives it. The last accepted manifest is
  // loaded from DB\ (a stored copy that no longer verifies is ignored).
  explicit PackageVerifier(const std::string& public_key);

  // At start: every listed file present on disk whose size or SHA-256 no longer
  // matches is noted, to be left out of the inventory. Only files whose size or
  // time changed since they last matched are read.
  void CheckInstalledFiles();
  // Removes the noted files from the request's inventory.
  void LeaveOutOfInventory(TSOFilesList& request) const;
  const std::set<std::string>& LeftOut() const { return left_out_; }

  // The lines of a "PackageManifest" answer; true when accepted (and stored).
  bool AcceptManifest(const std::vector<std::string>& lines);
  // Ok when a received file may be written, else its name and why not, its
  // SHA-256 aside: that is taken beside the file's write (StartDigest,
  // DigestVerdict), and a file whose digest differs never takes its name.
  Status CheckFile(const TSOFile& file);
  // Starts the SHA-256 of a file that passed CheckFile; a large file is hashed
  // on another thread while this one writes it. Its bytes must stay unchanged
  // until DigestVerdict returns. One file at a time.
  void StartDigest(const TSOFile& file);
  // Waits for that digest: empty when it is the signed one, else why the file
  // is refused.
  std::string DigestVerdict(const TSOFile& file);
  // A checked file was written: its size and time are recorded.
  void FileWritten(const TSOFile& file);
  // Writes the recorded sizes and times when they changed.
  void Save();

  // A manifest was accepted in this run and no file was refused.
  bool Verified() const { return accepted_in_run_ && refused_files_ == 0; }

 private:
  struct Checked {
    std::int64_t size = 0;
    std::int64_t mtime = 0;
    Sha256Digest sha256{};
    bool operator==(const Checked&) const = default;
  };
  // The native path of a listed file, and its size and time on disk.
  static std::string PathOf(const ManifestFile& file);
  static bool SizeAndTime(const std::string& path, std::int64_t& size, std::int64_t& mtime);
  void Record(const ManifestFile& file, const std::string& path);
  void LoadChecked();
  // The manifest's entry for a received file, or null.
  const ManifestFile* Listed(const TSOFile& file) const;
  void Refuse(const TSOFile& file, const std::string& why);

  std::string public_key_;  // raw, empty when the configured key is not valid
  std::optional<PackageManifest> manifest_;
  std::string stored_text_;  // the stored manifest, as written
  std::map<std::string, Checked> checked_;
  bool checked_changed_ = false;
  std::set<std::string> left_out_;  // ManifestKey of files to be sent again
  bool accepted_in_run_ = false;
  std::size_t refused_files_ = 0;
  std::future<Sha256Digest> digest_;  // of the file being written
};

}  // namespace quorvane
