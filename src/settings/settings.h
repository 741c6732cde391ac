// The numbered settings: 19 persistent values read and written by number through
// the installed SettingsBackend (a TOML file on POSIX, the registry on Windows),
// the language rule and the load of the connection settings with their defaults.
// Nothing is cached; every call goes to the backend. Safe to call from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace quorvane {

using SettingValue = std::variant<std::int32_t, std::string>;

// The table's own type codes.
enum class SettingType : int { kInteger = 4, kString = 6 };

struct SettingInfo {
  const char* sub_key;     // "Server", "SQL", "Language" ...
  const char* value_name;  // "PORT", "ID" ...
  SettingType type;
};

inline constexpr int kSettingCount = 19;

// Numbers of the settings this program uses itself.
inline constexpr int kSettingHost = 4;
inline constexpr int kSettingServerPort = 5;
inline constexpr int kSettingInstallPort = 6;
inline constexpr int kSettingProxyType = 7;
inline constexpr int kSettingProxyAuthentication = 8;
inline constexpr int kSettingProxyPort = 9;
inline constexpr int kSettingProxyAddress = 10;
inline constexpr int kSettingProxyUserId = 11;
inline constexpr int kSettingProxyPassword = 12;
inline constexpr int kSettingLanguage = 18;

// Primary language identifiers stored in setting 18.
inline constexpr int kLanguageEnglish = 9;
inline constexpr int kLanguageFrench = 12;

// The table row of a setting, or nullptr for a number outside 0 to 18.
const SettingInfo* FindSetting(int number);

// Never fails: a missing value, a value of the other type, a storage error or a
// number outside the table reads as 0 or the empty string. Creates the setting's
// sub-key when it is missing, but never a value.
SettingValue ReadSetting(int number);
// The same read, converted when the setting has the other type (decimal text
// both ways, 0 when a text does not parse).
std::int32_t ReadIntSetting(int number);
std::string ReadStringSetting(int number);

// Never fails: errors are swallowed. The number is taken modulo 128. The value is
// converted to the setting's type: an integer becomes its decimal text, a string
// is parsed as a plain decimal 32-bit integer, 0 when it does not parse.
void WriteSetting(int number, const SettingValue& value);

// 12 when setting 18 reads 12, otherwise 9 (English is the fallback for any
// other language and for a missing setting). Read on every call.
int CurrentLanguage();
bool IsEnglish();

struct ConnectionSettings {
  std::string host;
  std::int32_t server_port = 0;
  std::int32_t install_port = 0;
  std::uint8_t proxy_version = 0;
  std::uint8_t proxy_authentication = 0;
  std::int32_t proxy_port = 0;
  std::string proxy_address;
  std::string proxy_user_id;
  std::string proxy_password;
};

// Reads settings 4 to 12 into `target`; each field that comes out 0 or empty gets
// its default, which is also written back to its setting. The host and proxy
// address defaults are built from the site's relay LAN prefix.
void LoadConnectionSettings(ConnectionSettings& target);

}  // namespace quorvane
