// Internal pieces shared by the two directions of the text rendering (the
// renderer in object_text_render.cpp, the parser in object_text_parse.cpp).
// Pure functions.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>
#include <vector>

#include "model/object_stream.h"
#include "model/stream_errors.h"
#include "model/stream_format.h"
#include "util/codec.h"
#include "util/text.h"

namespace quorvane::object_text_detail {

// Characters of a string and bytes of binary data per text line.
inline constexpr std::size_t kStringLineLength = 64;
inline constexpr std::size_t kBinaryLineLength = 32;
inline constexpr std::uint64_t kMaxLength = 0xFFFFFFFFu;  // 4-byte lengths

inline bool IsIdentStart(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
inline bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
inline bool IsIdentChar(char c) {
  return IsIdentStart(c) || IsDigit(c);
}
inline bool IsHexDigit(char c) {
  return IsDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}
inline int HexValue(char c) {
  return IsDigit(c) ? c - '0' : (c | 0x20) - 'a' + 10;
}

inline bool IsIdentifier(std::string_view s) {
  return !s.empty() && IsIdentStart(s[0]) && std::all_of(s.begin(), s.end(), IsIdentChar);
}

// Dotted names such as "ZelUsersToID.Strings".
inline bool IsPropertyName(std::string_view s) {
  for (;;) {
    const std::size_t dot = s.find('.');
    if (!IsIdentifier(s.substr(0, dot))) return false;
    if (dot == std::string_view::npos) return true;
    s.remove_prefix(dot + 1);
  }
}

inline void AppendLittleEndian(std::string& out, std::uint64_t value, int size) {
  for (int i = 0; i < size; ++i)
    out += static_cast<char>(value >> (8 * i));
}

inline void AppendHex(std::string& out, std::uint64_t value, int digits) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  for (int i = digits - 1; i >= 0; --i)
    out += kDigits[(value >> (4 * i)) & 0xF];
}

// The integer encoding the binary writer uses: the smallest width that holds it.
inline void AppendInteger(std::string& out, std::int64_t value) {
  if (value >= INT8_MIN && value <= INT8_MAX) {
    out += static_cast<char>(ValueType::Int8);
    AppendLittleEndian(out, static_cast<std::uint64_t>(value), 1);
  } else if (value >= INT16_MIN && value <= INT16_MAX) {
    out += static_cast<char>(ValueType::Int16);
    AppendLittleEndian(out, static_cast<std::uint64_t>(value), 2);
  } else if (value >= INT32_MIN && value <= INT32_MAX) {
    out += static_cast<char>(ValueType::Int32);
    AppendLittleEndian(out, static_cast<std::uint64_t>(value), 4);
  } else {
    out += static_cast<char>(ValueType::Int64);
    AppendLittleEndian(out, static_cast<std::uint64_t>(value), 8);
  }
}

// Shortest decimal that reads back to the same value; "E" as exponent mark.
template <typename Float>
std::string ShortestDecimal(Float value) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  std::string text(buffer, result.ptr);
  std::replace(text.begin(), text.end(), 'e', 'E');
  return text;
}

// The double an extended value holds, when converting it back gives the same ten
// bytes; otherwise (NaN, infinity, more precision or range than a double, an
// encoding the hardware would not produce) it needs its raw form.
inline std::optional<double> ExactDouble(const unsigned char bytes[10]) {
  const double value = ExtendedToDouble(bytes);
  if (!std::isfinite(value)) return std::nullopt;
  std::array<unsigned char, 10> back{};
  DoubleToExtended(value, back.data());
  if (!std::equal(back.begin(), back.end(), bytes)) return std::nullopt;
  return value;
}

// Raises EReadError when nesting goes beyond kMaxStreamDepth, in both directions.
class DepthGuard {
 public:
  explicit DepthGuard(int& depth) : depth_(depth) {
    if (depth_ >= kMaxStreamDepth) throw EReadError(kStreamReadError);
    ++depth_;
  }
  ~DepthGuard() { --depth_; }
  DepthGuard(const DepthGuard&) = delete;
  DepthGuard& operator=(const DepthGuard&) = delete;

 private:
  int& depth_;
};

}  // namespace quorvane::object_text_detail
