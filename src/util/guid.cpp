#include "util/guid.h"

#include <random>

#include "util/errors.h"

namespace quorvane {
namespace {

// Positions of the bytes in text order: Data1, Data2 and Data3 are little-endian.
constexpr std::array<int, 16> kTextOrder = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool IsHyphenPosition(std::size_t i) {
  return i == 9 || i == 14 || i == 19 || i == 24;
}

}  // namespace

bool Guid::IsNull() const {
  for (auto b : bytes)
    if (b != 0) return false;
  return true;
}

Guid RandomGuid() {
  // Seeded with 256 bits: one 32-bit seed would make two processes share their
  // whole identifier sequence once in about 2^16 starts.
  thread_local std::mt19937_64 engine = [] {
    std::random_device device;
    std::seed_seq seed{device(), device(), device(), device(),
                       device(), device(), device(), device()};
    return std::mt19937_64(seed);
  }();
  Guid guid;
  for (std::size_t i = 0; i < 16; i += 8) {
    const std::uint64_t r = engine();
    for (std::size_t k = 0; k < 8; ++k)
      guid.bytes[i + k] = static_cast<std::uint8_t>(r >> (8 * k));
  }
  guid.bytes[7] = static_cast<std::uint8_t>((guid.bytes[7] & 0x0F) | 0x40);  // version 4
  guid.bytes[8] = static_cast<std::uint8_t>((guid.bytes[8] & 0x3F) | 0x80);  // variant
  return guid;
}

std::string GuidToString(const Guid& guid) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text = "{";
  for (std::size_t i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
    const std::uint8_t b = guid.bytes[kTextOrder[i]];
    text += kHex[b >> 4];
    text += kHex[b & 0x0F];
  }
  text += '}';
  return text;
}

Guid GuidFromString(std::string_view text) {
  bool ok = text.size() == 38 && text.front() == '{' && text.back() == '}';
  Guid guid;
  std::size_t pos = 1;
  for (std::size_t i = 0; ok && i < 16; ++i) {
    if (IsHyphenPosition(pos)) {
      if (text[pos] != '-') ok = false;
      ++pos;
    }
    const int hi = ok ? HexValue(text[pos]) : -1;
    const int lo = ok ? HexValue(text[pos + 1]) : -1;
    if (hi < 0 || lo < 0)
      ok = false;
    else
      guid.bytes[kTextOrder[i]] = static_cast<std::uint8_t>(hi * 16 + lo);
    pos += 2;
  }
  if (!ok) throw EConvertError("'" + std::string(text) + "' n'est pas une valeur GUID correcte");
  return guid;
}

std::string FileSafeId(std::string_view id_text) {
  std::string out(id_text);
  for (char& c : out) {
    if (c == '-')
      c = 'X';
    else if (c == '{')
      c = 'N';
    else if (c == '}')
      c = 'Z';
  }
  return out;
}

}  // namespace quorvane
