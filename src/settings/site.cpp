#include "settings/site.h"

#include <toml++/toml.h>
#include <charconv>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string_view>

#include "util/codec.h"
#include "util/debug_output.h"
#include "util/program_folder.h"

namespace quorvane {
namespace {

constexpr const char* kSiteFileName = "site.toml";

std::mutex& SiteMutex() {
  static std::mutex mutex;
  return mutex;
}

// Guarded by SiteMutex() while it is loaded; read-only afterwards.
SiteValues& SiteStorage() {
  static SiteValues values;
  return values;
}

bool site_loaded = false;

// Smaller budgets would refuse ordinary answers.
constexpr std::int64_t kMinConnectionMemoryBudget = std::int64_t{1} << 20;

// "a.b.c." with three decimal octets: anything else would produce relay
// targets that are not IPv4 addresses.
bool IsRelayLanPrefix(std::string_view text) {
  for (int octet = 0; octet < 3; ++octet) {
    const std::size_t dot = text.find('.');
    if (dot == std::string_view::npos || dot == 0 || dot > 3) return false;
    int value = 0;
    auto [next, error] = std::from_chars(text.data(), text.data() + dot, value);
    if (error != std::errc() || next != text.data() + dot || value > 255) return false;
    text.remove_prefix(dot + 1);
  }
  return text.empty();
}

// Applies the keys of `file` that are present and well-formed; a key with the
// wrong shape keeps its default.
void ApplySiteFile(const toml::table& file, SiteValues& values) {
  if (auto prefix = file["relay_lan_prefix"].value<std::string>()) {
    if (IsRelayLanPrefix(*prefix)) {
      values.relay_lan_prefix = *prefix;
    } else {
      DebugOutput("site.toml: relay_lan_prefix is not of the form \"a.b.c.\"; default kept");
    }
  }
  if (auto url = file["address_page_url"].value<std::string>()) {
    values.address_page_url = Utf8ToCp1252(*url);
  }
  if (auto url = file["owner_page_url"].value<std::string>()) {
    values.owner_page_url = Utf8ToCp1252(*url);
  }
  if (auto seconds = file["install_idle_seconds"].value<std::int64_t>()) {
    if (*seconds >= 1 && *seconds <= 3600) {
      values.install_idle_seconds = static_cast<int>(*seconds);
    } else {
      DebugOutput("site.toml: install_idle_seconds is not within 1 to 3600; default kept");
    }
  }
  if (auto budget = file["connection_memory_budget"].value<std::int64_t>()) {
    if (*budget >= kMinConnectionMemoryBudget) {
      values.connection_memory_budget = *budget;
    } else {
      DebugOutput("site.toml: connection_memory_budget is below 1 MiB; default kept");
    }
  }
  if (auto key = file["package_public_key"].value<std::string>()) values.package_public_key = *key;
  if (const toml::array* names = file["target_host_names"].as_array()) {
    std::array<std::string, 3> parsed;
    bool complete = names->size() == parsed.size();
    for (std::size_t i = 0; complete && i < parsed.size(); ++i) {
      auto name = names->at(i).value<std::string>();
      complete = name.has_value() && !name->empty();
      if (complete) parsed[i] = Utf8ToCp1252(*name);
    }
    if (complete) {
      values.target_host_names = std::move(parsed);
    } else {
      DebugOutput("site.toml: target_host_names needs 3 non-empty strings; defaults kept");
    }
  }
}

SiteValues LoadSiteValues() {
  SiteValues values;
  std::ifstream in(NativePath(kSiteFileName), std::ios::binary);
  if (!in) return values;  // no site file: the compiled-in values
  std::ostringstream text;
  text << in.rdbuf();
  try {
    ApplySiteFile(toml::parse(text.str()), values);
  } catch (const toml::parse_error& error) {
    // A malformed file is ignored as a whole rather than half applied.
    DebugOutput("site.toml is malformed, built-in site values used: " +
                Utf8ToCp1252(error.description()));
  }
  return values;
}

}  // namespace

const SiteValues& Site() {
  std::lock_guard lock(SiteMutex());
  if (!site_loaded) {
    SiteStorage() = LoadSiteValues();
    site_loaded = true;
  }
  return SiteStorage();
}

void ReloadSiteValues() {
  std::lock_guard lock(SiteMutex());
  SiteStorage() = LoadSiteValues();
  site_loaded = true;
}

}  // namespace quorvane
