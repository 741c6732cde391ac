#include "pe_builder.h"

#include "util/codec.h"

namespace quorvane::testing {
namespace {

void Put16(std::string& out, std::size_t at, std::uint32_t value) {
  out[at] = static_cast<char>(value & 0xFF);
  out[at + 1] = static_cast<char>((value >> 8) & 0xFF);
}

void Put32(std::string& out, std::size_t at, std::uint32_t value) {
  Put16(out, at, value & 0xFFFF);
  Put16(out, at + 2, value >> 16);
}

void Append16(std::string& out, std::uint32_t value) {
  out.append(2, '\0');
  Put16(out, out.size() - 2, value);
}

void Append32(std::string& out, std::uint32_t value) {
  out.append(4, '\0');
  Put32(out, out.size() - 4, value);
}

void Pad4(std::string& out) {
  out.append((4 - out.size() % 4) % 4, '\0');
}

std::string Utf16(const std::string& cp1252) {
  std::string out;
  for (unsigned char c : cp1252)
    Append16(out, Cp1252CodePoint(c));
  Append16(out, 0);
  return out;
}

// wLength, wValueLength, wType, key, padding, value, padding, children.
std::string Block(const std::string& key, const std::string& value, std::uint16_t value_length,
                  std::uint16_t type, const std::vector<std::string>& children) {
  std::string out(6, '\0');
  out += Utf16(key);
  Pad4(out);
  out += value;
  for (const std::string& child : children) {
    Pad4(out);
    out += child;
  }
  Put16(out, 0, static_cast<std::uint32_t>(out.size()));
  Put16(out, 2, value_length);
  Put16(out, 4, type);
  return out;
}

std::string FixedInfo(const VersionSpec& spec) {
  std::string out;
  Append32(out, 0xFEEF04BD);
  Append32(out, 0x00010000);
  Append32(out, static_cast<std::uint32_t>(spec.major) << 16 | spec.minor);
  Append32(out, static_cast<std::uint32_t>(spec.release) << 16 | spec.build);
  Append32(out, static_cast<std::uint32_t>(spec.major) << 16 | spec.minor);
  Append32(out, static_cast<std::uint32_t>(spec.release) << 16 | spec.build);
  for (int i = 0; i < 7; ++i)
    Append32(out, 0);  // flags mask, flags, OS, type, subtype, date
  return out;
}

// Writes a resource directory with one entry at `at` of `section`.
void Directory(std::string& section, std::size_t at,
               std::vector<std::pair<std::uint32_t, std::uint32_t>> entries) {
  Put16(section, at + 14, static_cast<std::uint32_t>(entries.size()));
  for (std::size_t i = 0; i < entries.size(); ++i) {
    Put32(section, at + 16 + i * 8, entries[i].first);
    Put32(section, at + 20 + i * 8, entries[i].second);
  }
}

constexpr std::uint32_t kSubdirectory = 0x80000000u;
constexpr std::uint32_t kFileAlignment = 0x200;
constexpr std::uint32_t kTextRva = 0x1000;
constexpr std::uint32_t kResourceRva = 0x2000;

std::string ResourceSection(const std::string& data) {
  // Type directory at 0 (two entries), name directory at 32, language directory
  // at 56, data entry at 80, data at 96.
  std::string section(96, '\0');
  Directory(section, 0, {{3, kSubdirectory | 32}, {16, kSubdirectory | 32}});
  Directory(section, 32, {{1, kSubdirectory | 56}});
  Directory(section, 56, {{0x040C, 80}});
  Put32(section, 80, kResourceRva + 96);
  Put32(section, 84, static_cast<std::uint32_t>(data.size()));
  section += data;
  return section;
}

}  // namespace

std::string BuildVersionInfo(const VersionSpec& spec) {
  std::vector<std::string> children;
  if (!spec.tables.empty()) {
    std::vector<std::string> tables;
    for (const StringTable& table : spec.tables) {
      std::vector<std::string> strings;
      for (const auto& [name, value] : table.strings) {
        const std::string text = Utf16(value);
        const auto length =
            static_cast<std::uint16_t>(spec.value_length_in_bytes ? text.size() : text.size() / 2);
        strings.push_back(Block(name, text, length, 1, {}));
      }
      tables.push_back(Block(table.key, "", 0, 1, strings));
    }
    children.push_back(Block("StringFileInfo", "", 0, 1, tables));
  }
  if (!spec.translations.empty()) {
    std::string value;
    for (const auto& [language, code_page] : spec.translations) {
      Append16(value, language);
      Append16(value, code_page);
    }
    const std::string var =
        Block("Translation", value, static_cast<std::uint16_t>(value.size()), 0, {});
    children.push_back(Block("VarFileInfo", "", 0, 1, {var}));
  }
  const std::string fixed = spec.fixed_info ? FixedInfo(spec) : std::string();
  return Block("VS_VERSION_INFO", fixed, static_cast<std::uint16_t>(fixed.size()), 0, children);
}

std::string BuildPeImage(const PeSpec& spec) {
  const bool has_resource = spec.version_resource.has_value();
  std::string resource = has_resource ? ResourceSection(*spec.version_resource) : std::string();
  if (has_resource && !spec.icon_before_version) {
    // Only the RT_VERSION entry in the type directory.
    Put16(resource, 14, 1);
    Put32(resource, 16, 16);
    Put32(resource, 20, kSubdirectory | 32);
    Put32(resource, 24, 0);
    Put32(resource, 28, 0);
  }
  const std::uint32_t optional_size = spec.pe32_plus ? 240 : 224;
  const std::uint16_t section_count = has_resource ? 2 : 1;

  std::string image(0x400, '\0');
  image[0] = 'M';
  image[1] = 'Z';
  Put32(image, 0x3C, 0x40);
  image.replace(0x40, 4, std::string("PE\0\0", 4));
  const std::size_t coff = 0x44;
  Put16(image, coff, spec.pe32_plus ? 0x8664 : 0x014C);
  Put16(image, coff + 2, section_count);
  Put16(image, coff + 16, optional_size);
  Put16(image, coff + 18, 0x0102);
  const std::size_t optional = coff + 20;
  Put16(image, optional, spec.pe32_plus ? 0x20B : 0x10B);
  const std::size_t directories = optional + (spec.pe32_plus ? 112 : 96);
  Put32(image, directories - 4, 16);  // NumberOfRvaAndSizes
  if (has_resource) {
    Put32(image, directories + 16, kResourceRva);
    Put32(image, directories + 20, static_cast<std::uint32_t>(resource.size()));
  }

  const std::size_t sections = optional + optional_size;
  const auto section = [&](std::size_t index, const char* name, std::uint32_t rva,
                           std::uint32_t size, std::uint32_t raw_offset) {
    const std::size_t at = sections + index * 40;
    image.replace(at, 5, name, 5);
    Put32(image, at + 8, size);
    Put32(image, at + 12, rva);
    Put32(image, at + 16, (size + kFileAlignment - 1) / kFileAlignment * kFileAlignment);
    Put32(image, at + 20, raw_offset);
  };
  section(0, ".text", kTextRva, kFileAlignment, 0x400);
  image.append(kFileAlignment, '\xC3');
  if (has_resource) {
    section(1, ".rsrc", kResourceRva, static_cast<std::uint32_t>(resource.size()), 0x600);
    image += resource;
    image.append((kFileAlignment - image.size() % kFileAlignment) % kFileAlignment, '\0');
  }
  return image;
}

std::string SampleImage() {
  using namespace quorvane::literals;
  VersionSpec version;
  version.tables = {{"040c04e4",
                     {{"CompanyName", "Quorvane"},
                      {"FileDescription", "Client d'installation"},
                      {"FileVersion", "1.0.0.12"},
                      {"LegalCopyright", "© Quorvane – tous droits réservés"_w},
                      {"ProductName", "Quorvane Setup"}}}};
  version.translations = {{0x040C, 0x04E4}};
  return BuildPeImage({.version_resource = BuildVersionInfo(version)});
}

}  // namespace quorvane::testing
