// Site values: compiled-in defaults and their override by site.toml in the
// program folder.
#include "settings/site.h"

#include "settings_fixture.h"
#include "util/codec.h"

namespace quorvane::testing {
namespace {

using namespace quorvane::literals;
using SiteValuesTest = SettingsTest;

TEST_F(SiteValuesTest, WithoutASiteFileTheBuiltInValuesApply) {
  std::filesystem::remove(folder_ + "/site.toml");
  ReloadSiteValues();
  const SiteValues builtin;
  EXPECT_EQ(Site().relay_lan_prefix, builtin.relay_lan_prefix);
  EXPECT_EQ(Site().address_page_url, "http://www.quorvane.com/ip.htm");
  EXPECT_EQ(Site().owner_page_url, "http://www.quorvane.net/getowner.htm");
  EXPECT_EQ(Site().target_host_names,
            (std::array<std::string, 3>{"QRVSRV1", "QRVSRV2", "QRVSRV3"}));
}

TEST_F(SiteValuesTest, EveryKeyCanBeOverridden) {
  WriteText(folder_ + "/site.toml",
            "relay_lan_prefix = \"127.0.1.\"\n"
            "address_page_url = \"http://127.0.0.1:8080/ip.htm\"\n"
            "owner_page_url = \"http://127.0.0.1:8080/propriétaire.htm\"\n"
            "target_host_names = [\"ALPHA\", \"BÊTA\", \"GAMMA\"]\n"
            "connection_memory_budget = 5000000\n");
  ReloadSiteValues();
  EXPECT_EQ(Site().connection_memory_budget, 5'000'000);
  EXPECT_EQ(Site().relay_lan_prefix, "127.0.1.");
  EXPECT_EQ(Site().address_page_url, "http://127.0.0.1:8080/ip.htm");
  EXPECT_EQ(Site().owner_page_url, "http://127.0.0.1:8080/propriétaire.htm"_w);
  EXPECT_EQ(Site().target_host_names, (std::array<std::string, 3>{"ALPHA", "BÊTA"_w, "GAMMA"}));
}

TEST_F(SiteValuesTest, ConnectionMemoryBudgetBelowOneMebibyteKeepsTheDefault) {
  for (const char* value : {"10", "-1", "\"2GB\""}) {
    WriteText(folder_ + "/site.toml", std::string("connection_memory_budget = ") + value + "\n");
    ReloadSiteValues();
    EXPECT_EQ(Site().connection_memory_budget, SiteValues().connection_memory_budget) << value;
  }
}

TEST_F(SiteValuesTest, MalformedFileLeavesEveryDefault) {
  WriteText(folder_ + "/site.toml", "relay_lan_prefix = \"127.0.1.\"\nowner_page_url = \n");
  ReloadSiteValues();
  const SiteValues builtin;
  EXPECT_EQ(Site().relay_lan_prefix, builtin.relay_lan_prefix);
  EXPECT_EQ(Site().owner_page_url, builtin.owner_page_url);
}

TEST_F(SiteValuesTest, BadlyShapedKeysKeepTheirDefaultsAlone) {
  const SiteValues builtin;
  const char* bad_prefixes[] = {"127.0.0", "127.0.0.1", "127.0.256.", "127..0.",
                                "a.b.c.",  "",          "1270.0.0.",  "127.0.0.."};
  for (const char* prefix : bad_prefixes) {
    WriteText(folder_ + "/site.toml", std::string("relay_lan_prefix = \"") + prefix +
                                          "\"\naddress_page_url = \"http://127.0.0.1/ip\"\n");
    ReloadSiteValues();
    EXPECT_EQ(Site().relay_lan_prefix, builtin.relay_lan_prefix) << prefix;
    EXPECT_EQ(Site().address_page_url, "http://127.0.0.1/ip") << prefix;
  }

  const char* bad_names[] = {"[\"A\", \"B\"]", "[\"A\", \"B\", \"C\", \"D\"]", "[\"A\", 2, \"C\"]",
                             "[\"A\", \"\", \"C\"]", "\"A\""};
  for (const char* names : bad_names) {
    WriteText(folder_ + "/site.toml", std::string("target_host_names = ") + names + "\n");
    ReloadSiteValues();
    EXPECT_EQ(Site().target_host_names, builtin.target_host_names) << names;
  }

  WriteText(folder_ + "/site.toml", "relay_lan_prefix = 127\nowner_page_url = [\"x\"]\n");
  ReloadSiteValues();
  EXPECT_EQ(Site().relay_lan_prefix, builtin.relay_lan_prefix);
  EXPECT_EQ(Site().owner_page_url, builtin.owner_page_url);
}

TEST_F(SiteValuesTest, ValuesAreReadOnceUntilReloaded) {
  EXPECT_EQ(Site().relay_lan_prefix, "127.0.0.");
  const SiteValues* first = &Site();
  WriteText(folder_ + "/site.toml", "relay_lan_prefix = \"127.0.9.\"\n");
  EXPECT_EQ(Site().relay_lan_prefix, "127.0.0.");
  ReloadSiteValues();
  EXPECT_EQ(Site().relay_lan_prefix, "127.0.9.");
  EXPECT_EQ(&Site(), first);  // references taken earlier stay valid
}

}  // namespace
}  // namespace quorvane::testing
