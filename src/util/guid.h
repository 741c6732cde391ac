// 16-byte identifiers (GUIDs) and their text forms: the 38-character registry form
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" and the file-safe form. Thread-safe.
#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <string>
#include <string_view>

namespace quorvane {

// Byte layout as in memory on Windows: Data1 (4 bytes, little-endian), Data2 and
// Data3 (2 bytes each, little-endian), Data4 (8 bytes in order).
struct Guid {
  std::array<std::uint8_t, 16> bytes{};

  bool IsNull() const;
  auto operator<=>(const Guid&) const = default;
};

inline constexpr std::string_view kNullIdText = "{00000000-0000-0000-0000-000000000000}";

// A fresh random (version 4) identifier: CoCreateGuid on Windows.
Guid NewGuid();

// A version 4 identifier from the process's own generator: NewGuid on POSIX,
// and its stand-in where CoCreateGuid fails.
Guid RandomGuid();

// Registry form, upper-case hexadecimal, always 38 characters.
std::string GuidToString(const Guid& guid);

// Parses exactly the 38-character registry form (either case of hex digit);
// anything else raises EConvertError.
Guid GuidFromString(std::string_view text);

// "-" becomes "X", "{" becomes "N", "}" becomes "Z": usable in file and object names.
std::string FileSafeId(std::string_view id_text);

}  // namespace quorvane
