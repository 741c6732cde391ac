// The POSIX settings store: one TOML file with a table per sub-key ([Server],
// [Language] ...), integers as TOML integers and strings as UTF-8 TOML strings.
// Every write takes an exclusive flock on "<file>.lock", re-reads the file,
// changes one value and renames a fsynced temporary file over it, so concurrent
// writers in any number of processes or threads never lose each other's values.
#pragma once

#include <string>

#include "settings/settings_backend.h"

namespace quorvane {

// The settings file: $QUORVANE_SETTINGS when set, otherwise
// ${XDG_CONFIG_HOME:-$HOME/.config}/quorvane/settings.toml. Resolved on each call,
// so a change of the environment takes effect at once.
std::string SettingsFilePath();

// Stateless: the file path is resolved on every call. A file that is not valid
// TOML reads as empty; the next write replaces it with a valid file and keeps the
// unreadable one as "<file>.bad" for the user.
class TomlSettingsBackend final : public SettingsBackend {
 public:
  std::int32_t ReadInteger(std::string_view sub_key, std::string_view name) override;
  std::string ReadString(std::string_view sub_key, std::string_view name) override;
  void WriteInteger(std::string_view sub_key, std::string_view name, std::int32_t value) override;
  void WriteString(std::string_view sub_key, std::string_view name,
                   std::string_view value) override;
};

}  // namespace quorvane
