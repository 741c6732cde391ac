#include "settings/settings.h"

#include <array>
#include <charconv>
#include <exception>
#include <optional>

#include "settings/settings_backend.h"
#include "settings/site.h"
#include "util/debug_output.h"

namespace quorvane {
namespace {

constexpr std::array<SettingInfo, kSettingCount> kSettings = {{
    {"Server", "ID", SettingType::kInteger},
    {"SQL", "ServerName", SettingType::kString},
    {"SQL", "InsertPacketsCount", SettingType::kInteger},
    {"SQL", "FileRefreshStat", SettingType::kInteger},
    {"Server", "HOST", SettingType::kString},
    {"Server", "PORT", SettingType::kInteger},
    {"Server", "PORTINST", SettingType::kInteger},
    {"Server", "PROXYTYPE", SettingType::kInteger},
    {"Server", "PROXYAUTH", SettingType::kInteger},
    {"Server", "PROXYPORT", SettingType::kInteger},
    {"Server", "PROXYIP", SettingType::kString},
    {"Server", "PROXYUSRID", SettingType::kString},
    {"Server", "PROXYUSRPW", SettingType::kString},
    {"ClientListen", "PORTCLIENTLISTEN", SettingType::kInteger},
    {"SQL", "DataBaseName", SettingType::kString},
    {"SQL", "DataBaseNameDevelop", SettingType::kString},
    {"Protocol", "WBN", SettingType::kInteger},
    {"Protocol", "PHONE", SettingType::kInteger},
    {"Language", "ID", SettingType::kInteger},
}};

// Defaults of the connection settings.
constexpr std::int32_t kDefaultServerPort = 709;
constexpr std::int32_t kDefaultInstallPort = 700;
constexpr std::uint8_t kDefaultProxyVersion = 1;  // SOCKS 4
constexpr std::uint8_t kDefaultProxyAuthentication = 0;
constexpr std::int32_t kDefaultProxyPort = 1080;

// A plain decimal 32-bit integer; "12x", "" and out-of-range texts do not parse.
std::optional<std::int32_t> ParseDecimal(const std::string& text) {
  std::int32_t result = 0;
  const char* end = text.data() + text.size();
  auto [next, error] = std::from_chars(text.data(), end, result);
  if (error != std::errc() || next != end) return std::nullopt;
  return result;
}

}  // namespace

const SettingInfo* FindSetting(int number) {
  if (number < 0 || number >= kSettingCount) return nullptr;
  return &kSettings[static_cast<std::size_t>(number)];
}

SettingValue ReadSetting(int number) {
  const SettingInfo* info = FindSetting(number);
  if (info == nullptr) return std::int32_t{0};
  const bool is_integer = info->type == SettingType::kInteger;
  SettingValue result = is_integer ? SettingValue(std::int32_t{0}) : SettingValue(std::string());
  // Reads never fail: an unreadable store is the same as a missing value.
  try {
    WithSettingsBackend([&](SettingsBackend& backend) {
      if (is_integer) {
        result = backend.ReadInteger(info->sub_key, info->value_name);
      } else {
        result = backend.ReadString(info->sub_key, info->value_name);
      }
    });
  } catch (const std::exception& error) {
    DebugOutput(error.what());
  }
  return result;
}

std::int32_t ReadIntSetting(int number) {
  SettingValue value = ReadSetting(number);
  if (const auto* integer = std::get_if<std::int32_t>(&value)) return *integer;
  return ParseDecimal(std::get<std::string>(value)).value_or(0);
}

std::string ReadStringSetting(int number) {
  SettingValue value = ReadSetting(number);
  if (auto* text = std::get_if<std::string>(&value)) return std::move(*text);
  return std::to_string(std::get<std::int32_t>(value));
}

void WriteSetting(int number, const SettingValue& value) {
  const SettingInfo* info = FindSetting(number & 0x7F);
  if (info == nullptr) return;
  try {
    WithSettingsBackend([&](SettingsBackend& backend) {
      if (info->type == SettingType::kInteger) {
        // A text that is no number cannot be converted: the write does nothing.
        const auto* text = std::get_if<std::string>(&value);
        const auto number = text ? ParseDecimal(*text) : std::get<std::int32_t>(value);
        if (number) backend.WriteInteger(info->sub_key, info->value_name, *number);
      } else {
        const auto* integer = std::get_if<std::int32_t>(&value);
        backend.WriteString(info->sub_key, info->value_name,
                            integer ? std::to_string(*integer) : std::get<std::string>(value));
      }
    });
  } catch (const std::exception& error) {
    // Writes never fail for the caller; the old value stays in place.
    DebugOutput(error.what());
  }
}

int CurrentLanguage() {
  return ReadIntSetting(kSettingLanguage) == kLanguageFrench ? kLanguageFrench : kLanguageEnglish;
}

bool IsEnglish() {
  return CurrentLanguage() != kLanguageFrench;
}

void LoadConnectionSettings(ConnectionSettings& target) {
  target.host = ReadStringSetting(kSettingHost);
  target.server_port = ReadIntSetting(kSettingServerPort);
  target.install_port = ReadIntSetting(kSettingInstallPort);
  target.proxy_version = static_cast<std::uint8_t>(ReadIntSetting(kSettingProxyType));
  target.proxy_authentication =
      static_cast<std::uint8_t>(ReadIntSetting(kSettingProxyAuthentication));
  target.proxy_port = ReadIntSetting(kSettingProxyPort);
  target.proxy_address = ReadStringSetting(kSettingProxyAddress);
  target.proxy_user_id = ReadStringSetting(kSettingProxyUserId);
  target.proxy_password = ReadStringSetting(kSettingProxyPassword);

  // The byte fields are tested after truncation: a stored 256 would otherwise
  // leave a proxy version of 0, which no relay accepts.
  auto default_string = [](int number, std::string& field, const std::string& fallback) {
    if (!field.empty()) return;
    field = fallback;
    WriteSetting(number, field);
  };
  auto default_integer = [](int number, auto& field, auto fallback) {
    if (field != 0) return;
    field = fallback;
    WriteSetting(number, static_cast<std::int32_t>(field));
  };
  const std::string& prefix = Site().relay_lan_prefix;
  default_string(kSettingHost, target.host, prefix + "2");
  default_integer(kSettingServerPort, target.server_port, kDefaultServerPort);
  default_integer(kSettingInstallPort, target.install_port, kDefaultInstallPort);
  default_integer(kSettingProxyType, target.proxy_version, kDefaultProxyVersion);
  default_integer(kSettingProxyAuthentication, target.proxy_authentication,
                  kDefaultProxyAuthentication);
  default_integer(kSettingProxyPort, target.proxy_port, kDefaultProxyPort);
  default_string(kSettingProxyAddress, target.proxy_address, prefix + "1");
  default_string(kSettingProxyUserId, target.proxy_user_id, std::string());
  default_string(kSettingProxyPassword, target.proxy_password, std::string());
}

}  // namespace quorvane
