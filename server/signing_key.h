// The vendor's signing key on disk: `quorvane-server keygen` writes a new
// Ed25519 key pair, and `--sign-key` reads the secret half back. Both files hold
// one line of standard base64: FILE the 64-byte secret key (mode 0600), FILE.pub
// the 32-byte public key that installers are given as `package_public_key`.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace quorvane::server {

// Refused (false, `error` set) when FILE or FILE.pub exists already: a key that
// signed packages in the field is never overwritten by mistake.
bool WriteKeyPair(const std::filesystem::path& key, std::string* error);

// The secret key's 64 bytes, or nothing (and `error`) when the file is
// unreadable or holds no secret key.
std::optional<std::string> ReadSecretKey(const std::filesystem::path& key, std::string* error);

}  // namespace quorvane::server
