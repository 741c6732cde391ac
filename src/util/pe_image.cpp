#include "util/pe_image.h"

#include <vector>

namespace quorvane {
namespace {

constexpr std::uint32_t kRtVersion = 16;
constexpr std::uint32_t kHighBit = 0x80000000u;
// A version resource's own length field is 16 bits; anything far above is damage.
constexpr std::uint32_t kMaxResourceSize = 1u << 20;

struct Section {
  std::uint32_t virtual_address;
  std::uint32_t virtual_size;
  std::uint32_t raw_size;
  std::uint32_t raw_offset;
};

struct ResourceEntry {
  std::uint32_t name;
  std::uint32_t offset;
};

class PeReader {
 public:
  explicit PeReader(ByteSource& image) : image_(image) {}

  std::optional<std::string> VersionResource() {
    std::uint32_t resource_rva = 0;
    if (!ReadHeaders(resource_rva)) return std::nullopt;
    const auto base = FileOffset(resource_rva);
    if (!base) return std::nullopt;
    resource_base_ = *base;

    // Type level: the RT_VERSION entry; name level and language level: the first.
    const auto type = FindEntry(0, [](const ResourceEntry& e) { return e.name == kRtVersion; });
    if (!type || !(type->offset & kHighBit)) return std::nullopt;
    const auto name = FindEntry(type->offset & ~kHighBit, nullptr);
    if (!name || !(name->offset & kHighBit)) return std::nullopt;
    const auto language = FindEntry(name->offset & ~kHighBit, nullptr);
    if (!language || (language->offset & kHighBit)) return std::nullopt;

    std::string data_entry;
    if (!image_.Read(resource_base_ + language->offset, 16, data_entry)) return std::nullopt;
    const std::uint32_t data_rva = Le32(data_entry, 0);
    const std::uint32_t data_size = Le32(data_entry, 4);
    const auto data_offset = FileOffset(data_rva);
    if (!data_offset || data_size == 0 || data_size > kMaxResourceSize) return std::nullopt;
    std::string data;
    if (!image_.Read(*data_offset, data_size, data)) return std::nullopt;
    return data;
  }

 private:
  bool ReadHeaders(std::uint32_t& resource_rva) {
    std::string dos;
    if (!image_.Read(0, 64, dos) || dos[0] != 'M' || dos[1] != 'Z') return false;
    const std::uint64_t pe_offset = Le32(dos, 0x3C);
    std::string pe;
    if (!image_.Read(pe_offset, 24, pe) || pe.compare(0, 4, std::string("PE\0\0", 4)) != 0)
      return false;
    const std::uint16_t section_count = Le16(pe, 6);
    const std::uint16_t optional_size = Le16(pe, 20);
    std::string optional;
    if (!image_.Read(pe_offset + 24, optional_size, optional) || optional_size < 2) return false;

    std::size_t count_at = 0;
    std::size_t directories_at = 0;
    switch (Le16(optional, 0)) {
      case 0x10B:  // PE32
        count_at = 92;
        directories_at = 96;
        break;
      case 0x20B:  // PE32+
        count_at = 108;
        directories_at = 112;
        break;
      default:
        return false;
    }
    constexpr std::size_t kResourceDirectory = 2;
    const std::size_t resource_at = directories_at + kResourceDirectory * 8;
    if (optional.size() < resource_at + 8 || Le32(optional, count_at) <= kResourceDirectory)
      return false;
    resource_rva = Le32(optional, resource_at);
    if (resource_rva == 0 || Le32(optional, resource_at + 4) == 0) return false;

    std::string table;
    if (!image_.Read(pe_offset + 24 + optional_size, std::size_t{section_count} * 40, table))
      return false;
    sections_.reserve(section_count);
    for (std::size_t i = 0; i < section_count; ++i) {
      const std::size_t at = i * 40;
      sections_.push_back(
          {Le32(table, at + 12), Le32(table, at + 8), Le32(table, at + 16), Le32(table, at + 20)});
    }
    return true;
  }

  // The file offset of an address of the loaded image, when a section's file
  // data holds it.
  std::optional<std::uint64_t> FileOffset(std::uint32_t rva) const {
    for (const Section& s : sections_) {
      const std::uint64_t delta = std::uint64_t{rva} - s.virtual_address;
      if (rva < s.virtual_address || delta >= s.raw_size) continue;
      if (s.virtual_size != 0 && delta >= s.virtual_size) continue;
      return std::uint64_t{s.raw_offset} + delta;
    }
    return std::nullopt;
  }

  // The first entry of the directory at `offset` (from the resource base) that
  // `match` accepts, or its first entry when `match` is null.
  template <typename Match>
  std::optional<ResourceEntry> FindEntry(std::uint32_t offset, Match match) {
    std::string header;
    if (!image_.Read(resource_base_ + offset, 16, header)) return std::nullopt;
    const std::size_t count = std::size_t{Le16(header, 12)} + Le16(header, 14);
    std::string entries;
    if (count == 0 || !image_.Read(resource_base_ + offset + 16, count * 8, entries))
      return std::nullopt;
    for (std::size_t i = 0; i < count; ++i) {
      const ResourceEntry entry{Le32(entries, i * 8), Le32(entries, i * 8 + 4)};
      if constexpr (std::is_same_v<Match, std::nullptr_t>) {
        return entry;
      } else if (!(entry.name & kHighBit) && match(entry)) {
        return entry;
      }
    }
    return std::nullopt;
  }

  ByteSource& image_;
  std::vector<Section> sections_;
  std::uint64_t resource_base_ = 0;
};

}  // namespace

bool MemoryByteSource::Read(std::uint64_t offset, std::size_t length, std::string& out) {
  if (offset > bytes_.size() || length > bytes_.size() - offset) return false;
  out.assign(bytes_.substr(static_cast<std::size_t>(offset), length));
  return true;
}

std::optional<std::string> FindVersionResource(ByteSource& image) {
  return PeReader(image).VersionResource();
}

}  // namespace quorvane
