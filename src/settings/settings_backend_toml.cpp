#include "settings/settings_backend_toml.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <unistd.h>

#include <toml++/toml.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <sstream>
#include <vector>

#include "util/atomic_file.h"
#include "util/codec.h"
#include "util/program_folder.h"

namespace quorvane {
namespace {

// A larger file is not one this program wrote; it is treated as unreadable
// rather than loaded into memory.
constexpr std::size_t kMaxSettingsFileSize = 4 * 1024 * 1024;

[[noreturn]] void ThrowSystemError(const char* what, const std::string& path, int error) {
  throw ESettingsError(std::string(what) + " \"" + NativePathText(path) +
                       "\": " + std::strerror(error));
}

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
  passwd entry{};
  passwd* found = nullptr;
  std::vector<char> buffer(16384);
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr) {
    return found->pw_dir;
  }
  throw ESettingsError("settings: no home folder (HOME is not set)");
}

// The file to replace: a symbolic link (even a dangling one) is followed so
// that a linked settings file is updated in place, or created where the link
// points, instead of the link being replaced by a plain file.
std::string TargetPath() {
  return FinalLinkTarget(SettingsFilePath());
}

// An exclusive advisory lock on "<file>.lock", held for one read-change-write.
// flock locks belong to the open file description, so two threads of one
// process exclude each other as two processes do.
class WriteLock {
 public:
  explicit WriteLock(const std::string& settings_path) {
    const std::string path = settings_path + ".lock";
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) ThrowSystemError("settings: cannot open the lock file", path, errno);
    while (::flock(fd_, LOCK_EX) != 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      ::close(fd_);
      ThrowSystemError("settings: cannot lock", path, error);
    }
  }
  ~WriteLock() { ::close(fd_); }
  WriteLock(const WriteLock&) = delete;
  WriteLock& operator=(const WriteLock&) = delete;

 private:
  int fd_ = -1;
};

struct SettingsFile {
  toml::table table;
  bool corrupt = false;  // present but not valid TOML (or too large)
};

// Reads without a lock: writers only ever rename a complete file into place, so
// an open of the path sees either the old file or the new one, never a partial one.
SettingsFile LoadFile(const std::string& path) {
  SettingsFile file;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return file;
    ThrowSystemError("settings: cannot open", path, errno);
  }
  std::string text;
  char chunk[8192];
  for (;;) {
    const ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      const int error = errno;
      ::close(fd);
      ThrowSystemError("settings: cannot read", path, error);
    }
    if (got == 0) break;
    text.append(chunk, static_cast<std::size_t>(got));
    if (text.size() > kMaxSettingsFileSize) {
      file.corrupt = true;
      break;
    }
  }
  ::close(fd);
  if (file.corrupt) return file;
  try {
    file.table = toml::parse(text, path);
  } catch (const toml::parse_error&) {
    file.corrupt = true;
  }
  return file;
}

// Replaces `path` by `text` through the program's one durable replacement
// (temporary beside it, flushed, renamed, folder flushed), keeping the file's
// mode. On any failure the temporary file is removed and `path` is left as it was.
void ReplaceFile(const std::string& path, const std::string& text) {
  if (const Status written = WriteFileAtomically(path, text); !written.ok())
    throw ESettingsError("settings: " + written.ToString());
}

// An unreadable file is about to be replaced: keep it for the user under
// "<file>.bad" (a hard link, so the settings path never goes missing).
void KeepUnreadableFile(const std::string& path) {
  const std::string kept = path + ".bad";
  ::unlink(kept.c_str());
  ::link(path.c_str(), kept.c_str());
}

enum class OnCorrupt { kReplace, kLeave };

// One locked read-change-write. `change` returns false when it changed nothing,
// and then the file is not rewritten.
void UpdateFile(const std::string& path, OnCorrupt on_corrupt,
                const std::function<bool(toml::table&)>& change) {
  std::error_code error;
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  if (!folder.empty()) std::filesystem::create_directories(folder, error);
  if (error) {
    throw ESettingsError("settings: cannot create the folder \"" + NativePathText(folder.string()) +
                         "\": " + error.message());
  }
  WriteLock lock(path);
  SettingsFile file = LoadFile(path);
  if (file.corrupt && on_corrupt == OnCorrupt::kLeave) return;
  if (!change(file.table)) return;
  std::ostringstream text;
  text << file.table << '\n';
  if (file.corrupt) KeepUnreadableFile(path);
  ReplaceFile(path, text.str());
}

// The table of a sub-key, created (or put in place of a plain value of that
// name, which can never hold settings) when needed.
toml::table& SubKeyTable(toml::table& root, std::string_view sub_key) {
  if (toml::table* existing = root.get_as<toml::table>(sub_key)) return *existing;
  root.insert_or_assign(sub_key, toml::table{});
  return *root.get_as<toml::table>(sub_key);
}

// Looks a value up, creating its sub-key as the registry opens a key path. A
// read never rewrites an unreadable file.
const toml::node* FindValue(const std::string& path, const SettingsFile& file,
                            std::string_view sub_key, std::string_view name) {
  if (const toml::node* key = file.table.get(sub_key)) {
    const toml::table* table = key->as_table();
    return table == nullptr ? nullptr : table->get(name);
  }
  if (!file.corrupt) {
    UpdateFile(path, OnCorrupt::kLeave,
               [sub_key](toml::table& root) { return root.insert(sub_key, toml::table{}).second; });
  }
  return nullptr;
}

}  // namespace

std::string SettingsFilePath() {
  if (const char* path = std::getenv("QUORVANE_SETTINGS"); path != nullptr && *path != '\0') {
    return path;
  }
  std::string config;
  // A relative XDG_CONFIG_HOME is invalid and ignored, as the XDG rules require.
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
    config = xdg;
  } else {
    config = HomeFolder() + "/.config";
  }
  return config + "/quorvane/settings.toml";
}

std::int32_t TomlSettingsBackend::ReadInteger(std::string_view sub_key, std::string_view name) {
  const std::string path = TargetPath();
  const SettingsFile file = LoadFile(path);
  const toml::node* node = FindValue(path, file, sub_key, name);
  const auto* integer = node == nullptr ? nullptr : node->as_integer();
  if (integer == nullptr) return 0;
  // A stored number that does not fit in 32 bits is unreadable like a wrong type.
  const std::int64_t value = integer->get();
  if (value < std::numeric_limits<std::int32_t>::min() ||
      value > std::numeric_limits<std::int32_t>::max()) {
    return 0;
  }
  return static_cast<std::int32_t>(value);
}

std::string TomlSettingsBackend::ReadString(std::string_view sub_key, std::string_view name) {
  const std::string path = TargetPath();
  const SettingsFile file = LoadFile(path);
  const toml::node* node = FindValue(path, file, sub_key, name);
  const auto* text = node == nullptr ? nullptr : node->as_string();
  return text == nullptr ? std::string() : Utf8ToCp1252(text->get());
}

void TomlSettingsBackend::WriteInteger(std::string_view sub_key, std::string_view name,
                                       std::int32_t value) {
  UpdateFile(TargetPath(), OnCorrupt::kReplace, [&](toml::table& root) {
    toml::table& table = SubKeyTable(root, sub_key);
    if (const auto* stored = table.get_as<std::int64_t>(name); stored && stored->get() == value) {
      return false;
    }
    table.insert_or_assign(name, static_cast<std::int64_t>(value));
    return true;
  });
}

void TomlSettingsBackend::WriteString(std::string_view sub_key, std::string_view name,
                                      std::string_view value) {
  std::string utf8 = Cp1252ToUtf8(value);
  UpdateFile(TargetPath(), OnCorrupt::kReplace, [&](toml::table& root) {
    toml::table& table = SubKeyTable(root, sub_key);
    if (const auto* stored = table.get_as<std::string>(name); stored && stored->get() == utf8) {
      return false;
    }
    table.insert_or_assign(name, std::move(utf8));
    return true;
  });
}

std::unique_ptr<SettingsBackend> MakePlatformSettingsBackend() {
  return std::make_unique<TomlSettingsBackend>();
}

}  // namespace quorvane
