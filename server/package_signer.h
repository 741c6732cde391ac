// The signed manifest a server sends before "DebutInstall" when it has the
// vendor's key: every package file with its size and SHA-256, signed. It is made
// once per package listing: while scans find the same files with the same sizes
// and times, every installation gets the same prepared frames; a file whose size
// or time changed is hashed again, the others keep their digests. Safe from any
// thread: one lock, held while a changed listing is hashed, so installations that
// arrive meanwhile wait for that one result instead of hashing again.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "catalogue.h"
#include "transport/package_manifest.h"

namespace quorvane::server {

struct SignedManifest {
  std::vector<std::string> lines;  // the answer's item lines, signature last
  std::string frames;              // the "PackageManifest" answer as it goes on the wire
};

class PackageSigner {
 public:
  // secret: a 64-byte Ed25519 secret key. package: the name the manifest gives.
  // version: the manifest's version; without it, the newest modification time
  // of the listed files in seconds.
  PackageSigner(std::string secret, const PackageCatalogue& catalogue, std::string package,
                std::optional<std::uint64_t> version);

  // The manifest of `files` (a scan of the catalogue), or null (and `error`)
  // when a file cannot be read whole as listed.
  std::shared_ptr<const SignedManifest> Sign(const std::vector<PackageFile>& files,
                                             std::string* error);
  // Its frames alone.
  std::shared_ptr<const std::string> Frames(const std::vector<PackageFile>& files,
                                            std::string* error);

 private:
  std::string secret_;
  const PackageCatalogue& catalogue_;
  std::string package_;
  std::optional<std::uint64_t> version_;
  std::mutex mutex_;
  std::string listing_;  // folder, name, size and time of every file of the last listing
  std::shared_ptr<const SignedManifest> signed_;
  std::map<std::string, Sha256Digest> digests_;  // by native path, size and time
};

}  // namespace quorvane::server
