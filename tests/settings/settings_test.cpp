// The numbered settings over the real settings file: the read and write rules,
// the language rule and the connection settings with their defaults.
#include "settings/settings.h"

#include "settings_fixture.h"
#include "util/codec.h"

namespace quorvane::testing {
namespace {

using namespace quorvane::literals;
using SettingsRulesTest = SettingsTest;

TEST_F(SettingsRulesTest, FreshMachineFirstLoadWritesEveryDefault) {
  ConnectionSettings target;
  LoadConnectionSettings(target);

  EXPECT_EQ(target.host, "127.0.0.2");
  EXPECT_EQ(target.server_port, 709);
  EXPECT_EQ(target.install_port, 700);
  EXPECT_EQ(target.proxy_version, 1);
  EXPECT_EQ(target.proxy_authentication, 0);
  EXPECT_EQ(target.proxy_port, 1080);
  EXPECT_EQ(target.proxy_address, "127.0.0.1");
  EXPECT_EQ(target.proxy_user_id, "");
  EXPECT_EQ(target.proxy_password, "");

  // Stored with the setting's own type, under [Server].
  const toml::table file = ParsedFile();
  EXPECT_EQ(file["Server"]["HOST"].value<std::string>(), "127.0.0.2");
  EXPECT_EQ(file["Server"]["PORT"].value<std::int64_t>(), 709);
  EXPECT_EQ(file["Server"]["PORTINST"].value<std::int64_t>(), 700);
  EXPECT_EQ(file["Server"]["PROXYTYPE"].value<std::int64_t>(), 1);
  EXPECT_EQ(file["Server"]["PROXYAUTH"].value<std::int64_t>(), 0);
  EXPECT_EQ(file["Server"]["PROXYPORT"].value<std::int64_t>(), 1080);
  EXPECT_EQ(file["Server"]["PROXYIP"].value<std::string>(), "127.0.0.1");
  EXPECT_EQ(file["Server"]["PROXYUSRID"].value<std::string>(), "");
  EXPECT_EQ(file["Server"]["PROXYUSRPW"].value<std::string>(), "");
}

TEST_F(SettingsRulesTest, LoadKeepsStoredValues) {
  WriteText(settings_path_,
            "[Server]\nHOST = \"127.0.0.9\"\nPORT = 1709\nPORTINST = 1700\nPROXYTYPE = 4\n"
            "PROXYAUTH = 2\nPROXYPORT = 9050\nPROXYIP = \"127.0.0.5\"\nPROXYUSRID = \"user\"\n"
            "PROXYUSRPW = \"secret\"\n");
  const std::string before = ReadText(settings_path_);
  ConnectionSettings target;
  LoadConnectionSettings(target);
  EXPECT_EQ(target.host, "127.0.0.9");
  EXPECT_EQ(target.server_port, 1709);
  EXPECT_EQ(target.install_port, 1700);
  EXPECT_EQ(target.proxy_version, 4);
  EXPECT_EQ(target.proxy_authentication, 2);
  EXPECT_EQ(target.proxy_port, 9050);
  EXPECT_EQ(target.proxy_address, "127.0.0.5");
  EXPECT_EQ(target.proxy_user_id, "user");
  EXPECT_EQ(target.proxy_password, "secret");
  EXPECT_EQ(ReadText(settings_path_), before);  // nothing written back
}

TEST_F(SettingsRulesTest, WrongTypeReadsEmptyAndNextLoadStoresTheDefault) {
  WriteText(settings_path_,
            "[Server]\nPORT = \"8000\"\nHOST = 5\nPROXYPORT = 1.5\nID = true\n"
            "PORTINST = 4294967297\n");
  EXPECT_EQ(ReadSetting(kSettingServerPort), SettingValue(0));
  EXPECT_EQ(ReadSetting(kSettingHost), SettingValue(std::string()));
  EXPECT_EQ(ReadSetting(kSettingProxyPort), SettingValue(0));
  EXPECT_EQ(ReadSetting(0), SettingValue(0));
  EXPECT_EQ(ReadSetting(kSettingInstallPort), SettingValue(0));  // beyond 32 bits

  ConnectionSettings target;
  LoadConnectionSettings(target);
  EXPECT_EQ(target.server_port, 709);
  EXPECT_EQ(target.host, "127.0.0.2");
  EXPECT_EQ(target.proxy_port, 1080);
  const toml::table file = ParsedFile();
  EXPECT_EQ(file["Server"]["PORT"].value<std::int64_t>(), 709);
  EXPECT_EQ(file["Server"]["HOST"].value<std::string>(), "127.0.0.2");
}

TEST_F(SettingsRulesTest, ZeroAndTruncatedValuesAreReplacedByDefaults) {
  WriteSetting(kSettingServerPort, 0);
  // 256 and 512 do not fit the one-byte proxy fields: their low bytes are 0.
  WriteSetting(kSettingProxyType, 256);
  WriteSetting(kSettingProxyAuthentication, 512);
  ConnectionSettings target;
  LoadConnectionSettings(target);
  EXPECT_EQ(target.server_port, 709);
  EXPECT_EQ(target.proxy_version, 1);
  EXPECT_EQ(target.proxy_authentication, 0);
  EXPECT_EQ(ReadSetting(kSettingServerPort), SettingValue(709));
  EXPECT_EQ(ReadSetting(kSettingProxyType), SettingValue(1));
  EXPECT_EQ(ReadSetting(kSettingProxyAuthentication), SettingValue(0));

  WriteSetting(kSettingProxyType, 0x104);  // low byte 4: kept as it is stored
  LoadConnectionSettings(target);
  EXPECT_EQ(target.proxy_version, 4);
  EXPECT_EQ(ReadSetting(kSettingProxyType), SettingValue(0x104));
}

TEST_F(SettingsRulesTest, LanguageRuleReadsTheSettingEveryTime) {
  EXPECT_EQ(CurrentLanguage(), kLanguageEnglish);  // missing
  WriteSetting(kSettingLanguage, kLanguageFrench);
  EXPECT_EQ(CurrentLanguage(), kLanguageFrench);
  EXPECT_FALSE(IsEnglish());
  WriteSetting(kSettingLanguage, 7);  // German: not French, so English
  EXPECT_EQ(CurrentLanguage(), kLanguageEnglish);
  EXPECT_TRUE(IsEnglish());
  // A change made behind the program's back is seen at once.
  WriteText(settings_path_, "[Language]\nID = 12\n");
  EXPECT_FALSE(IsEnglish());
}

TEST_F(SettingsRulesTest, ReadCreatesTheMissingTableButNoValue) {
  EXPECT_EQ(ReadSetting(16), SettingValue(0));  // no file yet
  ASSERT_NE(ParsedFile()["Protocol"].as_table(), nullptr);
  WriteText(settings_path_, "[Server]\nPORT = 709\n");
  EXPECT_EQ(ReadSetting(13), SettingValue(0));
  EXPECT_EQ(ReadSetting(1), SettingValue(std::string()));

  const toml::table file = ParsedFile();
  ASSERT_NE(file["ClientListen"].as_table(), nullptr);
  EXPECT_TRUE(file["ClientListen"].as_table()->empty());
  ASSERT_NE(file["SQL"].as_table(), nullptr);
  EXPECT_TRUE(file["SQL"].as_table()->empty());
  EXPECT_EQ(file["Server"]["PORT"].value<std::int64_t>(), 709);
}

TEST_F(SettingsRulesTest, SharedValueNameIdIsKeptApartBySubKey) {
  WriteSetting(0, 42);
  WriteSetting(kSettingLanguage, kLanguageFrench);
  EXPECT_EQ(ReadSetting(0), SettingValue(42));
  EXPECT_EQ(ReadSetting(kSettingLanguage), SettingValue(kLanguageFrench));
  const toml::table file = ParsedFile();
  EXPECT_EQ(file["Server"]["ID"].value<std::int64_t>(), 42);
  EXPECT_EQ(file["Language"]["ID"].value<std::int64_t>(), 12);
}

TEST_F(SettingsRulesTest, WriteConvertsToTheSettingsType) {
  WriteSetting(kSettingHost, 123);
  EXPECT_EQ(ReadSetting(kSettingHost), SettingValue(std::string("123")));
  WriteSetting(kSettingProxyUserId, -45);
  EXPECT_EQ(ReadSetting(kSettingProxyUserId), SettingValue(std::string("-45")));

  const struct {
    const char* text;
    std::int32_t stored;
  } cases[] = {// a text that is no 32-bit decimal number leaves the value as it was
               {"8080", 8080},    {"-12", -12}, {"2147483647", 2147483647},
               {"2147483648", 1}, {"80x", 1},   {"", 1},
               {" 80", 1},        {"0x50", 1},  {"-2147483648", INT32_MIN}};
  for (const auto& c : cases) {
    WriteSetting(kSettingServerPort, 1);
    WriteSetting(kSettingServerPort, std::string(c.text));
    EXPECT_EQ(ReadSetting(kSettingServerPort), SettingValue(c.stored)) << '"' << c.text << '"';
  }
  EXPECT_EQ(ParsedFile()["Server"]["HOST"].value<std::string>(), "123");

  // The typed reads convert the same way.
  EXPECT_EQ(ReadIntSetting(kSettingHost), 123);
  EXPECT_EQ(ReadStringSetting(kSettingServerPort), "-2147483648");
}

TEST_F(SettingsRulesTest, NumbersOutsideTheTable) {
  WriteSetting(128 + kSettingServerPort, 77);  // only the low 7 bits count
  EXPECT_EQ(ReadSetting(kSettingServerPort), SettingValue(77));
  WriteSetting(-128 + kSettingInstallPort, 78);
  EXPECT_EQ(ReadSetting(kSettingInstallPort), SettingValue(78));

  const std::string before = ReadText(settings_path_);
  WriteSetting(19, 1);
  WriteSetting(127, std::string("x"));
  EXPECT_EQ(ReadText(settings_path_), before);
  EXPECT_EQ(ReadSetting(19), SettingValue(0));
  EXPECT_EQ(ReadSetting(-1), SettingValue(0));
  EXPECT_EQ(FindSetting(kSettingCount), nullptr);
}

TEST_F(SettingsRulesTest, AccentsAreWindows1252InMemoryAndUtf8InTheFile) {
  const std::string password = "Numéro secret €ü"_w;
  ASSERT_EQ(password.size(), 16u);  // one byte per character
  WriteSetting(kSettingProxyPassword, password);
  EXPECT_EQ(ReadSetting(kSettingProxyPassword), SettingValue(password));
  EXPECT_NE(ReadText(settings_path_).find("Numéro secret €ü"), std::string::npos);

  // A value typed into the file by hand, in UTF-8, reads as Windows-1252.
  WriteText(settings_path_, "[Server]\nPROXYUSRID = \"Hélène\"\n");
  EXPECT_EQ(ReadStringSetting(kSettingProxyUserId), "Hélène"_w);

  // Every byte and every TOML quoting character comes back as it was written.
  std::string all;
  for (int byte = 1; byte < 256; ++byte)
    all.push_back(static_cast<char>(byte));
  const std::string quoting = "'''\"\"\"\\\\\n\r\t'\"";
  WriteSetting(kSettingProxyPassword, all);
  WriteSetting(kSettingProxyUserId, quoting);
  EXPECT_EQ(ReadStringSetting(kSettingProxyPassword), all);
  EXPECT_EQ(ReadStringSetting(kSettingProxyUserId), quoting);
}

TEST_F(SettingsRulesTest, WritesKeepUnrelatedContent) {
  WriteText(settings_path_,
            "top = \"level\"\n[Other]\nname = \"kept\"\n[Server]\nCUSTOM = [1, 2]\n");
  WriteSetting(kSettingServerPort, 709);
  const toml::table file = ParsedFile();
  EXPECT_EQ(file["top"].value<std::string>(), "level");
  EXPECT_EQ(file["Other"]["name"].value<std::string>(), "kept");
  EXPECT_EQ(file["Server"]["CUSTOM"][1].value<std::int64_t>(), 2);
  EXPECT_EQ(file["Server"]["PORT"].value<std::int64_t>(), 709);

  // A plain value where a table belongs cannot hold settings: a read leaves it,
  // a write puts the table in its place.
  WriteText(settings_path_, "Server = 3\n");
  EXPECT_EQ(ReadSetting(kSettingServerPort), SettingValue(0));
  EXPECT_EQ(ParsedFile()["Server"].value<std::int64_t>(), 3);
  WriteSetting(kSettingServerPort, 709);
  EXPECT_EQ(ReadSetting(kSettingServerPort), SettingValue(709));
}

// A store that refuses every access, as a registry with access denied would.
class RefusingBackend final : public SettingsBackend {
 public:
  std::int32_t ReadInteger(std::string_view, std::string_view) override { Refuse(); }
  std::string ReadString(std::string_view, std::string_view) override { Refuse(); }
  void WriteInteger(std::string_view, std::string_view, std::int32_t) override { Refuse(); }
  void WriteString(std::string_view, std::string_view, std::string_view) override { Refuse(); }

 private:
  [[noreturn]] static void Refuse() { throw ESettingsError("access denied"); }
};

TEST_F(SettingsRulesTest, StoreErrorsNeverReachTheCaller) {
  WriteSetting(kSettingServerPort, 1709);
  InstallSettingsBackend(std::make_unique<RefusingBackend>());
  EXPECT_EQ(ReadSetting(kSettingServerPort), SettingValue(0));
  EXPECT_EQ(ReadSetting(kSettingHost), SettingValue(std::string()));
  EXPECT_NO_THROW(WriteSetting(kSettingServerPort, 1));
  EXPECT_TRUE(IsEnglish());
  ConnectionSettings target;
  LoadConnectionSettings(target);
  EXPECT_EQ(target.server_port, 709);
  EXPECT_EQ(target.host, "127.0.0.2");

  InstallSettingsBackend(nullptr);  // back to the file, which the refused write left alone
  EXPECT_EQ(ReadSetting(kSettingServerPort), SettingValue(1709));
}

}  // namespace
}  // namespace quorvane::testing
