#include "util/system_info.h"

#include <algorithm>
#include <array>
#include <charconv>

#include "util/text.h"

namespace quorvane {
namespace {

struct LanguageCode {
  std::string_view iso639;
  int id;
};

// Windows primary language identifiers (LANG_*) of the ISO 639-1 codes.
constexpr std::array<LanguageCode, 62> kLanguages = {{
    {"af", 0x36}, {"ar", 0x01}, {"az", 0x2C}, {"be", 0x23}, {"bg", 0x02}, {"bn", 0x45},
    {"br", 0x7E}, {"bs", 0x1A}, {"ca", 0x03}, {"co", 0x83}, {"cs", 0x05}, {"cy", 0x52},
    {"da", 0x06}, {"de", 0x07}, {"el", 0x08}, {"en", 0x09}, {"es", 0x0A}, {"et", 0x25},
    {"eu", 0x2D}, {"fa", 0x29}, {"fi", 0x0B}, {"fo", 0x38}, {"fr", 0x0C}, {"ga", 0x3C},
    {"gl", 0x56}, {"he", 0x0D}, {"hi", 0x39}, {"hr", 0x1A}, {"hu", 0x0E}, {"hy", 0x2B},
    {"id", 0x21}, {"is", 0x0F}, {"it", 0x10}, {"ja", 0x11}, {"ka", 0x37}, {"kk", 0x3F},
    {"ko", 0x12}, {"lb", 0x6E}, {"lt", 0x27}, {"lv", 0x26}, {"mk", 0x2F}, {"ms", 0x3E},
    {"mt", 0x3A}, {"nb", 0x14}, {"nl", 0x13}, {"nn", 0x14}, {"no", 0x14}, {"oc", 0x82},
    {"pl", 0x15}, {"pt", 0x16}, {"rm", 0x17}, {"ro", 0x18}, {"ru", 0x19}, {"sk", 0x1B},
    {"sl", 0x24}, {"sq", 0x1C}, {"sr", 0x1A}, {"sv", 0x1D}, {"sw", 0x41}, {"th", 0x1E},
    {"tr", 0x1F}, {"uk", 0x22},
}};

constexpr int kEnglish = 0x09;

// Reads the unsigned number at the front of `text` and drops it; 0 when there is none.
std::uint32_t TakeNumber(std::string_view& text) {
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error == std::errc::result_out_of_range) value = UINT32_MAX;
  text.remove_prefix(static_cast<std::size_t>(end - text.data()));
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(value, UINT32_MAX));
}

// The kB figure of one "Name:   1234 kB" line of /proc/meminfo, or -1.
long long MeminfoField(std::string_view meminfo, std::string_view name) {
  std::size_t pos = 0;
  while (pos < meminfo.size()) {
    std::size_t end = meminfo.find('\n', pos);
    if (end == std::string_view::npos) end = meminfo.size();
    std::string_view line = meminfo.substr(pos, end - pos);
    pos = end + 1;
    if (!line.starts_with(name) || line.size() <= name.size() || line[name.size()] != ':') continue;
    line.remove_prefix(name.size() + 1);
    while (!line.empty() && line.front() == ' ')
      line.remove_prefix(1);
    long long value = -1;
    const auto [ptr, error] = std::from_chars(line.data(), line.data() + line.size(), value);
    (void)ptr;
    return error == std::errc() ? value : -1;
  }
  return -1;
}

}  // namespace

int LanguageIdFromLocale(std::string_view locale) {
  const std::size_t end = locale.find_first_of("_.@-");
  const std::string code = LowerCase(locale.substr(0, end));
  for (const auto& language : kLanguages)
    if (language.iso639 == code) return language.id;
  return kEnglish;
}

std::uint32_t VersionWordFromRelease(std::string_view release) {
  const std::uint32_t major = TakeNumber(release);
  std::uint32_t minor = 0;
  std::uint32_t build = 0;
  if (release.starts_with('.')) {
    release.remove_prefix(1);
    minor = TakeNumber(release);
    if (release.starts_with('.')) {
      release.remove_prefix(1);
      build = TakeNumber(release);
    }
  }
  return std::min<std::uint32_t>(major, 0xFF) | std::min<std::uint32_t>(minor, 0xFF) << 8 |
         std::min<std::uint32_t>(build, 0x7FFF) << 16;
}

int MemoryLoadFromMeminfo(std::string_view meminfo) {
  const long long total = MeminfoField(meminfo, "MemTotal");
  const long long available = MeminfoField(meminfo, "MemAvailable");
  if (total <= 0 || available < 0) return -1;
  const long long free_percent = std::min(available, total) * 100 / total;
  return static_cast<int>(100 - free_percent);
}

}  // namespace quorvane
