#include "util/file_version.h"

#include <filesystem>

#include "util/file_version_backend.h"
#include "util/pe_image.h"
#include "util/text.h"
#include "util/version_resource.h"

namespace quorvane {
namespace {

std::string Number(std::uint32_t value) {
  return std::to_string(value);
}

}  // namespace

std::string TranslationTable(std::uint32_t translation) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string table(8, '0');
  for (int i = 0; i < 8; ++i)
    table[i] = kHex[(translation >> (28 - 4 * i)) & 0x0F];
  return table;
}

void FillVersionStrings(TFileVersion& version,
                        const std::function<std::optional<std::string>(const char*)>& lookup) {
  const std::pair<const char*, std::string*> fields[] = {
      {"CompanyName", &version.CompanyName},
      {"FileDescription", &version.FileDescription},
      {"FileVersion", &version.FileVersion},
      {"InternalName", &version.InternalName},
      {"OriginalFilename", &version.OriginalFilename},
      {"ProductName", &version.ProductName},
      {"ProductVersion", &version.ProductVersion},
      {"LegalCopyright", &version.LegalCopyright},
      {"LegalTrademarks", &version.LegalTrademarks},
      {"Comments", &version.Comments},
      {"PrivateBuild", &version.PrivateBuild},
      {"SpecialBuild", &version.SpecialBuild},
  };
  for (const auto& [name, field] : fields)
    *field = lookup(name).value_or(std::string());
}

void FillVersionNumbers(TFileVersion& version, std::uint32_t high, std::uint32_t low) {
  version.ShortVersion = Number(high >> 16) + "." + Number(high & 0xFFFF);
  version.FullVersion = version.ShortVersion + "." + Number(low >> 16) + "." + Number(low & 0xFFFF);
}

bool IsRegularFile(std::string_view path) {
  std::error_code error;
  return std::filesystem::is_regular_file(std::filesystem::path(std::string(path)), error);
}

bool FillFromImage(TFileVersion& version, ByteSource& image) {
  version = TFileVersion{};
  const auto data = FindVersionResource(image);
  const auto resource = data ? VersionResource::Parse(*data) : std::nullopt;
  if (!resource) return false;
  version.Valid = true;
  if (const auto translation = resource->FirstTranslation()) {
    const std::string table = TranslationTable(*translation);
    FillVersionStrings(version,
                       [&](const char* name) { return resource->StringValue(table, name); });
  }
  if (resource->HasFixedInfo())
    FillVersionNumbers(version, resource->FileVersionMs(), resource->FileVersionLs());
  return true;
}

bool ReadVersionFromBytes(TFileVersion& version, std::string_view bytes) {
  MemoryByteSource image(bytes);
  return FillFromImage(version, image);
}

std::string FileVersionText(std::string_view path) {
  if (!IsRegularFile(path)) return "NE";
  TFileVersion version;
  ReadVersion(version, path);
  return Trim(version.FullVersion).empty() ? "NF" : version.FullVersion;
}

}  // namespace quorvane
