// Finds the raw version resource (RT_VERSION) inside a PE image: DOS header, PE
// header, resource data directory, three levels of resource directory (type,
// first name, first language), data entry. Every read is bounds-checked against
// the source. Private to util; no shared state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

namespace quorvane {

// Random access to the bytes of an image, from memory or from an open file.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Exactly `length` bytes at `offset` into `out`; false when they are not all there.
  virtual bool Read(std::uint64_t offset, std::size_t length, std::string& out) = 0;
};

class MemoryByteSource : public ByteSource {
 public:
  explicit MemoryByteSource(std::string_view bytes) : bytes_(bytes) {}
  bool Read(std::uint64_t offset, std::size_t length, std::string& out) override;

 private:
  std::string_view bytes_;
};

// The version resource's bytes, or nothing when the image has none or is not a
// well-formed PE image.
std::optional<std::string> FindVersionResource(ByteSource& image);

// Little-endian field readers over a buffer whose size the caller has checked.
inline std::uint16_t Le16(std::string_view data, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(data[at]) |
                                    static_cast<unsigned char>(data[at + 1]) << 8);
}
inline std::uint32_t Le32(std::string_view data, std::size_t at) {
  return Le16(data, at) | static_cast<std::uint32_t>(Le16(data, at + 2)) << 16;
}

}  // namespace quorvane
