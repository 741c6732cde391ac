#include "util/version_resource.h"

#include "util/codec.h"
#include "util/pe_image.h"
#include "util/text.h"

namespace quorvane {
namespace {

constexpr std::uint32_t kFixedInfoSignature = 0xFEEF04BD;
constexpr std::size_t kFixedInfoSize = 52;
constexpr std::uint16_t kTextValue = 1;

std::size_t Align4(std::size_t offset) {
  return (offset + 3) & ~std::size_t{3};
}

// One node of the tree: wLength, wValueLength, wType, the key, then the value
// and the children, each starting on a 4-byte boundary of the resource.
struct Block {
  std::string key;  // Windows-1252
  std::uint16_t value_length = 0;
  std::uint16_t type = 0;
  std::size_t value_at = 0;
  std::size_t children_at = 0;
  std::size_t end = 0;
};

// UTF-16LE text from `at` up to its terminator, converted to Windows-1252 (a
// unit outside the set, a surrogate included, becomes the replacement). Without
// a terminator before `end` the text is refused, or, when `to_end` is allowed,
// taken up to `end`. Sets `after` past the terminator.
std::optional<std::string> ReadText(std::string_view data, std::size_t at, std::size_t end,
                                    std::size_t& after, bool to_end = false) {
  std::string text;
  for (std::size_t pos = at; pos + 2 <= end; pos += 2) {
    const char16_t unit = Le16(data, pos);
    if (unit == 0) {
      after = pos + 2;
      return text;
    }
    const int byte = unit >= 0xD800 && unit <= 0xDFFF ? -1 : Cp1252ByteOf(unit);
    text += byte < 0 ? kCp1252Replacement : static_cast<char>(byte);
  }
  if (!to_end) return std::nullopt;
  after = end;
  return text;
}

std::optional<Block> ParseBlock(std::string_view data, std::size_t at, std::size_t limit) {
  if (at > limit || limit - at < 6) return std::nullopt;
  const std::uint16_t length = Le16(data, at);
  if (length < 6) return std::nullopt;
  Block block;
  // A length running past its parent is cut to the parent, so the tree never
  // reaches outside the resource.
  block.end = std::min(at + length, limit);
  block.value_length = Le16(data, at + 2);
  block.type = Le16(data, at + 4);
  std::size_t after_key = 0;
  auto key = ReadText(data, at + 6, block.end, after_key);
  if (!key) return std::nullopt;
  block.key = std::move(*key);
  block.value_at = std::min(Align4(after_key), block.end);
  const std::size_t value_bytes =
      block.type == kTextValue ? std::size_t{block.value_length} * 2 : block.value_length;
  block.children_at = std::min(Align4(block.value_at + value_bytes), block.end);
  return block;
}

// Calls visit(child) for each child of `parent` until it returns true.
template <typename Visit>
bool ForEachChild(std::string_view data, const Block& parent, Visit visit) {
  std::size_t at = parent.children_at;
  while (at < parent.end) {
    const auto child = ParseBlock(data, at, parent.end);
    if (!child) return false;
    if (visit(*child)) return true;
    at = Align4(child->end);
  }
  return false;
}

std::optional<Block> FindChild(std::string_view data, const Block& parent, std::string_view key) {
  std::optional<Block> found;
  ForEachChild(data, parent, [&](const Block& child) {
    if (!SameText(child.key, key)) return false;
    found = child;
    return true;
  });
  return found;
}

std::optional<Block> Root(std::string_view data) {
  auto root = ParseBlock(data, 0, data.size());
  if (!root || root->key != "VS_VERSION_INFO") return std::nullopt;
  return root;
}

}  // namespace

std::optional<VersionResource> VersionResource::Parse(std::string_view data) {
  const auto root = Root(data);
  if (!root) return std::nullopt;
  VersionResource resource(data);
  if (root->value_length >= kFixedInfoSize && root->value_at + kFixedInfoSize <= root->end &&
      Le32(data, root->value_at) == kFixedInfoSignature) {
    resource.has_fixed_info_ = true;
    resource.file_version_ms_ = Le32(data, root->value_at + 8);
    resource.file_version_ls_ = Le32(data, root->value_at + 12);
  }
  return resource;
}

std::optional<std::uint32_t> VersionResource::FirstTranslation() const {
  const auto root = Root(data_);
  const auto var_info = root ? FindChild(data_, *root, "VarFileInfo") : std::nullopt;
  const auto translation = var_info ? FindChild(data_, *var_info, "Translation") : std::nullopt;
  if (!translation || translation->value_length < 4 || translation->value_at + 4 > translation->end)
    return std::nullopt;
  const std::uint32_t entry = Le32(data_, translation->value_at);
  // Stored as language then code page, each 16 bits: the name of the string table
  // puts the language first.
  return entry << 16 | entry >> 16;
}

std::optional<std::string> VersionResource::StringValue(std::string_view table,
                                                        std::string_view name) const {
  const auto root = Root(data_);
  const auto string_info = root ? FindChild(data_, *root, "StringFileInfo") : std::nullopt;
  const auto string_table = string_info ? FindChild(data_, *string_info, table) : std::nullopt;
  const auto entry = string_table ? FindChild(data_, *string_table, name) : std::nullopt;
  if (!entry) return std::nullopt;
  if (entry->value_length == 0 || entry->value_at >= entry->end) return std::string();
  // Writers disagree on whether wValueLength counts characters or bytes; the text
  // runs to its terminator or to the end of its block.
  std::size_t after = 0;
  return ReadText(data_, entry->value_at, entry->end, after, true);
}

}  // namespace quorvane
