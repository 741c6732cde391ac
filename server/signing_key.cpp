#include "signing_key.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "transport/package_manifest.h"
#include "util/atomic_file.h"

namespace quorvane::server {
namespace {

// Creates `path` with `mode`, never over an existing file, and writes `line`.
bool CreateWith(const std::filesystem::path& path, const std::string& line, mode_t mode,
                std::string* error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) {
    if (error != nullptr) *error = "cannot create " + path.string() + ": " + std::strerror(errno);
    return false;
  }
  const std::string text = line + "\n";
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  const bool ok = done == text.size() && ::fsync(fd) == 0;
  if (::close(fd) != 0 || !ok) {
    if (error != nullptr) *error = "cannot write " + path.string() + ": " + std::strerror(errno);
    ::unlink(path.c_str());
    return false;
  }
  return true;
}

}  // namespace

bool WriteKeyPair(const std::filesystem::path& key, std::string* error) {
  std::filesystem::path public_file = key;
  public_file += ".pub";
  std::error_code ec;
  if (std::filesystem::exists(public_file, ec)) {
    if (error != nullptr) *error = public_file.string() + " exists already";
    return false;
  }
  const SigningKeys keys = GenerateSigningKeys();
  if (!CreateWith(key, EncodeBase64(keys.secret), 0600, error)) return false;
  if (!CreateWith(public_file, EncodeBase64(keys.public_key), 0644, error)) {
    ::unlink(key.c_str());
    return false;
  }
  return true;
}

std::optional<std::string> ReadSecretKey(const std::filesystem::path& key, std::string* error) {
  const std::optional<std::string> text = ReadWholeFile(key.string());
  if (!text) {
    if (error != nullptr) *error = "cannot read the signing key " + key.string();
    return std::nullopt;
  }
  std::optional<std::string> secret = DecodeBase64(*text);
  if (!secret || PublicKeyOf(*secret).empty()) {
    if (error != nullptr) *error = key.string() + " holds no signing key";
    return std::nullopt;
  }
  return secret;
}

}  // namespace quorvane::server
