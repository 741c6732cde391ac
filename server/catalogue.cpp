#include "catalogue.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "objects/protocol.h"
#include "open_beneath.h"
#include "util/codec.h"
#include "util/file_version.h"
#include "util/text.h"

namespace quorvane::server {
namespace fs = std::filesystem;
namespace {

// Size and modification time as the system reports them (links followed), in
// the same units the cache compares with when it reads the file.
bool StatFile(const fs::path& path, std::int64_t& size, std::int64_t& mtime_ns) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  size = st.st_size;
  mtime_ns = std::int64_t{st.st_mtim.tv_sec} * 1'000'000'000 + st.st_mtim.tv_nsec;
  return true;
}

// Device names Windows reserves, with or without an extension.
bool ReservedOnWindows(const std::string& name) {
  std::string stem = UpperCase(name.substr(0, name.find('.')));
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL"};
  for (const char* device : kDevices)
    if (stem == device) return true;
  return stem.size() == 4 && (stem.starts_with("COM") || stem.starts_with("LPT")) &&
         stem[3] >= '1' && stem[3] <= '9';
}

// A name the installer can write on every system as it stands: it survives the
// trip through Windows-1252, holds no control character and none of the
// characters Windows forbids, does not end in a dot or a blank, and is no device.
bool WireName(const std::string& utf8, std::string& wire) {
  wire = Utf8ToCp1252(utf8);
  if (wire.empty() || Cp1252ToUtf8(wire) != utf8) return false;
  for (unsigned char c : wire)
    if (c < 0x20 || c == 0x7f ||
        std::string_view("\\/:*?\"<>|").find(static_cast<char>(c)) != std::string_view::npos)
      return false;
  if (wire.back() == '.' || wire.back() == ' ') return false;
  return !ReservedOnWindows(wire);
}

bool Hidden(const fs::path& name) {
  const std::string text = name.string();
  return !text.empty() && text.front() == '.';
}

bool IsWithin(const fs::path& inner, const fs::path& root) {
  auto r = root.begin();
  auto i = inner.begin();
  for (; r != root.end(); ++r, ++i)
    if (i == inner.end() || *i != *r) return false;
  return true;
}

}  // namespace

bool RefreshPackageFile(PackageFile& file) {
  if (!StatFile(file.native, file.size, file.mtime_ns) || file.size > kMaxPackageFileSize)
    return false;
  file.version = UpperCase(Trim(FileVersionText(file.native.string())));
  return true;
}

std::string CollisionKey(const PackageFile& file) {
  return LowerCase(file.folder + file.name);
}

PackageCatalogue::PackageCatalogue(fs::path root, std::optional<fs::path> updater,
                                   std::function<void(const std::string&)> log)
    : updater_(std::move(updater)), log_(std::move(log)) {
  std::error_code error;
  root_ = fs::canonical(root, error);
  if (error) root_ = fs::absolute(root, error);
}

bool PackageCatalogue::Contains(const fs::path& path) const {
  std::error_code error;
  const fs::path real = fs::weakly_canonical(path, error);
  return !error && IsWithin(real, root_);
}

int PackageCatalogue::OpenFile(const PackageFile& file, std::string& error) const {
  std::error_code ec;
  const fs::path real = fs::canonical(file.native, ec);
  if (ec) {
    error = "cannot open: " + ec.message();
    return -1;
  }
  int fd = -1;
  if (file.updater) {
    fd = ::open(real.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  } else {
    const fs::path relative = real.lexically_relative(root_);
    if (relative.empty() || *relative.begin() == "..") {
      error = "no longer inside the package folder";
      return -1;
    }
    const int root = OpenFolderForBeneath(root_);
    fd = root < 0 ? -1 : OpenBeneath(root, relative);
    const int saved = errno;
    if (root >= 0) ::close(root);
    errno = saved;
    if (fd < 0 && (errno == ELOOP || errno == ENOTDIR || errno == EXDEV)) {
      error = "a folder of its path was replaced by a link";
      return -1;
    }
  }
  if (fd < 0) error = std::string("cannot open: ") + std::strerror(errno);
  return fd;
}

void PackageCatalogue::Refuse(const std::string& what, const std::string& why) {
  {
    std::lock_guard guard(mutex_);
    if (!refused_.insert(what + "\n" + why).second) return;
  }
  if (log_) log_("package: refused " + what + ": " + why);
}

std::string PackageCatalogue::VersionOf(const fs::path& native, std::int64_t size,
                                        std::int64_t mtime_ns) {
  const std::string key =
      native.string() + '\n' + std::to_string(size) + '\n' + std::to_string(mtime_ns);
  {
    std::lock_guard guard(mutex_);
    if (auto it = versions_.find(key); it != versions_.end()) return it->second;
  }
  std::string version = UpperCase(Trim(FileVersionText(native.string())));
  std::lock_guard guard(mutex_);
  if (versions_.size() > 100000) versions_.clear();
  versions_.emplace(key, version);
  return version;
}

std::vector<PackageFile> PackageCatalogue::Scan(std::string* error_text) {
  std::vector<PackageFile> files;
  std::error_code error;
  if (!fs::is_directory(root_, error)) {
    if (error_text != nullptr) *error_text = "the package folder " + root_.string() + " is missing";
    return files;
  }
  fs::recursive_directory_iterator it(root_, fs::directory_options::none, error), end;
  if (error) {
    if (error_text != nullptr)
      *error_text = "cannot read " + root_.string() + ": " + error.message();
    return files;
  }
  for (; it != end; it.increment(error)) {
    if (error) break;
    const fs::directory_entry& entry = *it;
    const fs::path relative = entry.path().lexically_relative(root_);
    std::error_code entry_error;
    if (Hidden(entry.path().filename())) {
      if (entry.is_directory(entry_error) && !entry.is_symlink(entry_error))
        it.disable_recursion_pending();
      continue;
    }
    const bool link = entry.is_symlink(entry_error);
    if (link) {
      if (!Contains(entry.path())) {
        Refuse(relative.string(), "a link leading out of the package folder");
        continue;
      }
      if (fs::is_directory(entry.path(), entry_error)) {
        Refuse(relative.string(), "a linked folder is not followed");
        continue;
      }
    }
    if (entry.is_directory(entry_error)) continue;
    if (!entry.is_regular_file(entry_error)) {
      Refuse(relative.string(), "not a plain file");
      continue;
    }
    PackageFile file;
    bool writable = true;
    std::vector<std::string> parts;
    for (const fs::path& part : relative) {
      std::string wire;
      if (!WireName(part.string(), wire)) writable = false;
      parts.push_back(std::move(wire));
    }
    if (!writable || parts.empty()) {
      Refuse(relative.string(), "the name cannot be written by the installer");
      continue;
    }
    file.name = parts.back();
    for (std::size_t i = 0; i + 1 < parts.size(); ++i)
      file.folder += parts[i] + "\\";
    if (parts.size() == 1)
      file.phase = InstallPhase::kTopLevel;
    else if (SameText(parts.front(), "DB"))
      file.phase = InstallPhase::kDatabase;
    else
      file.phase = InstallPhase::kSubFolders;
    file.native = entry.path();
    if (!StatFile(file.native, file.size, file.mtime_ns)) continue;  // vanished while listed
    if (file.size > kMaxPackageFileSize) {
      Refuse(relative.string(), "larger than " + std::to_string(kMaxPackageFileSize) + " bytes");
      continue;
    }
    files.push_back(std::move(file));
  }
  if (error) {
    if (error_text != nullptr)
      *error_text = "cannot read " + root_.string() + ": " + error.message();
    return {};
  }
  if (updater_) {
    PackageFile file;
    file.name = std::string(protocol::kDeliveredUpdater);
    file.native = fs::absolute(*updater_, error);
    file.phase = InstallPhase::kTopLevel;
    file.updater = true;
    if (!StatFile(file.native, file.size, file.mtime_ns) || file.size > kMaxPackageFileSize) {
      Refuse("updater " + file.native.string(), "missing, not a plain file or too large");
    } else {
      const std::string key = CollisionKey(file);
      std::erase_if(files, [&](const PackageFile& f) { return CollisionKey(f) == key; });
      files.push_back(std::move(file));
    }
  }
  std::sort(files.begin(), files.end(), [](const PackageFile& a, const PackageFile& b) {
    if (a.phase != b.phase) return a.phase < b.phase;
    const std::string ka = CollisionKey(a), kb = CollisionKey(b);
    if (ka != kb) return ka < kb;
    return a.folder + a.name < b.folder + b.name;
  });
  // Names equal but for case would overwrite each other on the installer's disk:
  // the first in order is kept.
  std::vector<PackageFile> kept;
  kept.reserve(files.size());
  for (PackageFile& file : files) {
    if (!kept.empty() && CollisionKey(kept.back()) == CollisionKey(file)) {
      Refuse(Cp1252ToUtf8(file.folder + file.name),
             "differs only in case from " + Cp1252ToUtf8(kept.back().folder + kept.back().name));
      continue;
    }
    kept.push_back(std::move(file));
  }
  for (PackageFile& file : kept)
    file.version = VersionOf(file.native, file.size, file.mtime_ns);
  return kept;
}

}  // namespace quorvane::server
