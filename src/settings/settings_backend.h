// Where the numbered settings are stored: one interface with a backend per
// platform (a TOML file on POSIX, the current user's registry on Windows) and a
// process-wide slot that holds the backend in use. The slot serialises calls, so
// a backend is never entered by two threads of one process at once.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace quorvane {

// A storage failure: the text names the file or key and the system's reason.
class ESettingsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Values are addressed by sub-key ("Server") and value name ("PORT"); strings are
// Windows-1252. Reads apply the wrong-type rule: a missing value or a value of
// the other type reads as 0 or empty. Reads create a missing sub-key. Storage
// failures throw ESettingsError.
class SettingsBackend {
 public:
  virtual ~SettingsBackend() = default;

  virtual std::int32_t ReadInteger(std::string_view sub_key, std::string_view name) = 0;
  virtual std::string ReadString(std::string_view sub_key, std::string_view name) = 0;
  virtual void WriteInteger(std::string_view sub_key, std::string_view name,
                            std::int32_t value) = 0;
  virtual void WriteString(std::string_view sub_key, std::string_view name,
                           std::string_view value) = 0;
};

// The backend of the platform this program was built for.
std::unique_ptr<SettingsBackend> MakePlatformSettingsBackend();

// Replaces the backend in use (tests install fakes); nullptr restores the
// platform backend.
void InstallSettingsBackend(std::unique_ptr<SettingsBackend> backend);

// Runs `action` on the backend in use while holding the slot's lock.
void WithSettingsBackend(const std::function<void(SettingsBackend&)>& action);

}  // namespace quorvane
