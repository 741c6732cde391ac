// The object stream's byte format: a signature, then one object as
//   [prefix] class-name object-name property* 00 child* 00
// where names are short texts (1 length byte + Windows-1252 characters) and each
// property is its (dotted) name followed by one tagged value. All integers are
// little-endian two's complement. Shared by the binary reader and writer and by
// the text rendering.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quorvane {

inline constexpr std::string_view kStreamSignature = "TPF0";

// Nested lists, collections and objects deeper than this are refused as a read
// error rather than exhausting the stack.
inline constexpr int kMaxStreamDepth = 64;

// First byte of an object when it carries flags: 0xF0 | flags.
inline constexpr std::uint8_t kPrefixMask = 0xF0;
inline constexpr std::uint8_t kPrefixInherited = 1;
inline constexpr std::uint8_t kPrefixChildPos = 2;
inline constexpr std::uint8_t kPrefixInline = 4;

enum class ValueType : std::uint8_t {
  EndOrNull = 0,
  ListStart = 1,
  Int8 = 2,
  Int16 = 3,
  Int32 = 4,
  Extended = 5,
  ShortText = 6,
  Ident = 7,
  FalseValue = 8,
  TrueValue = 9,
  BinaryData = 10,
  SetValue = 11,
  LongText = 12,
  NilValue = 13,
  CollectionValue = 14,
  Single = 15,
  CurrencyValue = 16,
  DateValue = 17,
  WideText = 18,
  Int64 = 19,
};

inline constexpr std::uint8_t kLastValueType = 19;

}  // namespace quorvane
