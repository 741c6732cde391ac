// The signed package manifest: the list of a package's files with their sizes
// and SHA-256 digests, signed with the vendor's Ed25519 key, which a server sends
// before an installation so that an installer holding the vendor's public key
// accepts only the vendor's files. Pure functions over libsodium; safe from any
// thread.
//
// Format: the item lines of a "PackageManifest" answer, in this order:
//
//   package=NAME
//   version=N                                  decimal, grows with every change
//   FOLDER<TAB>NAME<TAB>SIZE<TAB>SHA256-HEX    one line per package file; FOLDER as
//                                              the file is sent ("", "DB\", "A\B\")
//   signature=BASE64                           Ed25519, detached, standard base64
//
// The signature covers the bytes of every line before it, each followed by CR LF
// (the text of those lines as a string list writes it). Text is Windows-1252.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <sodium/crypto_hash_sha256.h>

namespace quorvane {

using Sha256Digest = std::array<std::uint8_t, 32>;

// SHA-256 of data given in pieces (a file read in chunks).
class Sha256 {
 public:
  Sha256();
  void Update(std::string_view bytes);
  Sha256Digest Final();

 private:
  crypto_hash_sha256_state state_;
};

Sha256Digest Sha256Of(std::string_view bytes);
std::string HexOf(const Sha256Digest& digest);  // 64 lower-case digits
// The digest of 64 hexadecimal digits, or nothing.
std::optional<Sha256Digest> DigestFromHex(std::string_view hex);

struct ManifestFile {
  std::string folder;  // as sent, with its trailing backslash; empty at the top
  std::string name;
  std::int64_t size = 0;
  Sha256Digest sha256{};
};

struct PackageManifest {
  std::string package;
  std::uint64_t version = 0;
  std::vector<ManifestFile> files;
  // Index into `files` by ManifestKey; VerifyManifestLines fills it.
  std::unordered_map<std::string, std::size_t> index;

  // The listed file at this folder and name, or null.
  const ManifestFile* Find(std::string_view folder, std::string_view name) const;
};

// Folder and name as one key in which case does not count: the installer writes
// every name lower-cased.
std::string ManifestKey(std::string_view folder, std::string_view name);

// An installer refuses a manifest that lists more files than this.
inline constexpr std::size_t kMaxManifestFiles = 1'000'000;

// Ed25519 keys as raw bytes: the secret key holds 64, the public key 32.
struct SigningKeys {
  std::string secret;
  std::string public_key;
};
SigningKeys GenerateSigningKeys();
// The public half of a secret key; empty when `secret` is not one.
std::string PublicKeyOf(std::string_view secret);

std::string EncodeBase64(std::string_view bytes);
// Nothing when `text` is not standard base64 (surrounding blanks are ignored).
std::optional<std::string> DecodeBase64(std::string_view text);

// The answer's lines, signature last. `secret` is a 64-byte secret key.
std::vector<std::string> SignedManifestLines(const PackageManifest& manifest,
                                             std::string_view secret);

// The manifest the lines hold when they are well formed and signed by
// `public_key` (32 bytes); otherwise nothing, and `error` says why.
std::optional<PackageManifest> VerifyManifestLines(const std::vector<std::string>& lines,
                                                   std::string_view public_key, std::string* error);

}  // namespace quorvane
