#include "transport/package_manifest.h"

#include <sodium.h>

#include <charconv>
#include <limits>
#include <mutex>
#include <stdexcept>

#include "util/text.h"

namespace quorvane {
namespace {

constexpr std::string_view kPackagePrefix = "package=";
constexpr std::string_view kVersionPrefix = "version=";
constexpr std::string_view kSignaturePrefix = "signature=";

void InitialiseSodium() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (sodium_init() < 0) throw std::runtime_error("libsodium cannot be initialised");
  });
}

const unsigned char* Bytes(std::string_view text) {
  return reinterpret_cast<const unsigned char*>(text.data());
}

// The signed bytes: every line followed by CR LF.
std::string SignedText(const std::vector<std::string>& lines, std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i)
    text.append(lines[i]).append("\r\n");
  return text;
}

template <typename Number>
bool ParseNumber(std::string_view text, Number& value) {
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return !text.empty() && error == std::errc() && end == text.data() + text.size();
}

// One file line, or why it is malformed.
std::string ParseFileLine(std::string_view line, ManifestFile& file) {
  std::string_view fields[4];
  for (int i = 0; i < 3; ++i) {
    const std::size_t tab = line.find('\t');
    if (tab == std::string_view::npos) return "fewer than four fields";
    fields[i] = line.substr(0, tab);
    line.remove_prefix(tab + 1);
  }
  fields[3] = line;
  file.folder = fields[0];
  file.name = fields[1];
  if (file.name.empty() || file.name.find('\t') != std::string::npos)
    return "an empty name or a fifth field";
  if (!file.folder.empty() && file.folder.back() != '\\')
    return "a folder without its trailing backslash";
  if (!ParseNumber(fields[2], file.size) || file.size < 0 ||
      file.size > std::numeric_limits<std::int32_t>::max())
    return "a size that is not a 32-bit count";
  const std::optional<Sha256Digest> digest = DigestFromHex(fields[3]);
  if (!digest) return "a SHA-256 that is not 64 hexadecimal digits";
  file.sha256 = *digest;
  return {};
}

}  // namespace

Sha256::Sha256() {
  InitialiseSodium();
  crypto_hash_sha256_init(&state_);
}

void Sha256::Update(std::string_view bytes) {
  crypto_hash_sha256_update(&state_, Bytes(bytes), bytes.size());
}

Sha256Digest Sha256::Final() {
  Sha256Digest digest;
  crypto_hash_sha256_final(&state_, digest.data());
  return digest;
}

Sha256Digest Sha256Of(std::string_view bytes) {
  Sha256 hash;
  hash.Update(bytes);
  return hash.Final();
}

std::string HexOf(const Sha256Digest& digest) {
  char text[2 * 32 + 1];
  sodium_bin2hex(text, sizeof text, digest.data(), digest.size());
  return text;
}

std::optional<Sha256Digest> DigestFromHex(std::string_view hex) {
  Sha256Digest digest;
  std::size_t decoded = 0;
  if (hex.size() != 2 * digest.size() ||
      sodium_hex2bin(digest.data(), digest.size(), hex.data(), hex.size(), nullptr, &decoded,
                     nullptr) != 0 ||
      decoded != digest.size())
    return std::nullopt;
  return digest;
}

std::string ManifestKey(std::string_view folder, std::string_view name) {
  std::string key = LowerCase(folder);
  key += LowerCase(name);
  return key;
}

const ManifestFile* PackageManifest::Find(std::string_view folder, std::string_view name) const {
  auto it = index.find(ManifestKey(folder, name));
  return it == index.end() ? nullptr : &files[it->second];
}

SigningKeys GenerateSigningKeys() {
  InitialiseSodium();
  SigningKeys keys;
  keys.secret.resize(crypto_sign_SECRETKEYBYTES);
  keys.public_key.resize(crypto_sign_PUBLICKEYBYTES);
  crypto_sign_keypair(reinterpret_cast<unsigned char*>(keys.public_key.data()),
                      reinterpret_cast<unsigned char*>(keys.secret.data()));
  return keys;
}

std::string PublicKeyOf(std::string_view secret) {
  if (secret.size() != crypto_sign_SECRETKEYBYTES) return {};
  InitialiseSodium();
  // The key pair made again from its seed must be this one.
  unsigned char seed[crypto_sign_SEEDBYTES];
  crypto_sign_ed25519_sk_to_seed(seed, Bytes(secret));
  std::string key(crypto_sign_PUBLICKEYBYTES, '\0');
  std::string again(crypto_sign_SECRETKEYBYTES, '\0');
  crypto_sign_seed_keypair(reinterpret_cast<unsigned char*>(key.data()),
                           reinterpret_cast<unsigned char*>(again.data()), seed);
  sodium_memzero(seed, sizeof seed);
  const bool same = sodium_memcmp(again.data(), secret.data(), again.size()) == 0;
  sodium_memzero(again.data(), again.size());
  return same ? key : std::string();
}

std::string EncodeBase64(std::string_view bytes) {
  std::string text(sodium_base64_ENCODED_LEN(bytes.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
  sodium_bin2base64(text.data(), text.size(), Bytes(bytes), bytes.size(),
                    sodium_base64_VARIANT_ORIGINAL);
  text.resize(text.size() - 1);  // the terminating zero
  return text;
}

std::optional<std::string> DecodeBase64(std::string_view text) {
  const std::string trimmed = Trim(text);
  std::string bytes(trimmed.size() / 4 * 3 + 3, '\0');
  std::size_t size = 0;
  const char* end = nullptr;
  if (sodium_base642bin(reinterpret_cast<unsigned char*>(bytes.data()), bytes.size(),
                        trimmed.data(), trimmed.size(), nullptr, &size, &end,
                        sodium_base64_VARIANT_ORIGINAL) != 0 ||
      end != trimmed.data() + trimmed.size())
    return std::nullopt;
  bytes.resize(size);
  return bytes;
}

std::vector<std::string> SignedManifestLines(const PackageManifest& manifest,
                                             std::string_view secret) {
  if (secret.size() != crypto_sign_SECRETKEYBYTES)
    throw std::invalid_argument("a signing key has 64 bytes");
  std::vector<std::string> lines;
  lines.reserve(manifest.files.size() + 3);
  lines.push_back(std::string(kPackagePrefix) + manifest.package);
  lines.push_back(std::string(kVersionPrefix) + std::to_string(manifest.version));
  for (const ManifestFile& file : manifest.files)
    lines.push_back(file.folder + '\t' + file.name + '\t' + std::to_string(file.size) + '\t' +
                    HexOf(file.sha256));
  const std::string text = SignedText(lines, lines.size());
  std::string signature(crypto_sign_BYTES, '\0');
  InitialiseSodium();
  crypto_sign_detached(reinterpret_cast<unsigned char*>(signature.data()), nullptr, Bytes(text),
                       text.size(), Bytes(secret));
  lines.push_back(std::string(kSignaturePrefix) + EncodeBase64(signature));
  return lines;
}

std::optional<PackageManifest> VerifyManifestLines(const std::vector<std::string>& lines,
                                                   std::string_view public_key,
                                                   std::string* error) {
  auto refuse = [error](std::string why) {
    if (error != nullptr) *error = std::move(why);
    return std::nullopt;
  };
  if (public_key.size() != crypto_sign_PUBLICKEYBYTES) return refuse("the public key is not valid");
  if (lines.size() < 3 || lines.size() > kMaxManifestFiles + 3)
    return refuse("it has " + std::to_string(lines.size()) + " lines");
  const std::string& last = lines.back();
  std::optional<std::string> signature;
  if (last.starts_with(kSignaturePrefix))
    signature = DecodeBase64(std::string_view(last).substr(kSignaturePrefix.size()));
  if (!signature || signature->size() != crypto_sign_BYTES)
    return refuse("its last line is not a signature");
  // The signature first: nothing of an unsigned text is believed, not even its shape.
  InitialiseSodium();
  const std::string text = SignedText(lines, lines.size() - 1);
  if (crypto_sign_verify_detached(Bytes(*signature), Bytes(text), text.size(), Bytes(public_key)) !=
      0)
    return refuse("the signature does not verify with the vendor's key");
  PackageManifest manifest;
  if (!lines[0].starts_with(kPackagePrefix) || lines[0].size() == kPackagePrefix.size())
    return refuse("its first line is not \"package=NAME\"");
  manifest.package = lines[0].substr(kPackagePrefix.size());
  if (!lines[1].starts_with(kVersionPrefix) ||
      !ParseNumber(std::string_view(lines[1]).substr(kVersionPrefix.size()), manifest.version))
    return refuse("its second line is not \"version=N\"");
  manifest.files.resize(lines.size() - 3);
  for (std::size_t i = 0; i < manifest.files.size(); ++i) {
    ManifestFile& file = manifest.files[i];
    const std::string malformed = ParseFileLine(lines[i + 2], file);
    if (!malformed.empty()) return refuse("line " + std::to_string(i + 3) + " has " + malformed);
    if (!manifest.index.emplace(ManifestKey(file.folder, file.name), i).second)
      return refuse("it lists " + file.folder + file.name + " twice");
  }
  return manifest;
}

}  // namespace quorvane
