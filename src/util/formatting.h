// Display text of numeric property values by their declared type name, and the
// French display names of the enumerated property types. Results never depend
// on the machine's locale. Pure functions, safe from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quorvane {

// Type names are compared without regard to case. Unknown type names give "".
//   INTEGER     decimal
//   TXDATE      days since 30/12/1899 as dd/mm/yy; "ns" for 0 or less
//   TXFILESIZE  kilobytes, thousands grouped by a blank, right-aligned in 8
//               characters, then " Ko"; 1 to 1023 bytes show as "1 Ko"
//   TXFILEDATE  packed DOS date (high 16 bits) and time (low 16 bits) as
//               dd/mm/yyyy hh:nn:ss
// A date that is not a real calendar date (beyond 31/12/9999, a DOS date with
// month 0 ...) shows as "ns", like an empty one.
std::string FormatIntegerValue(std::string_view type_name, std::int64_t value);

//   DOUBLE      two decimals right-aligned in 8 characters ("%8.2f")
//   TXMONEY     the same followed by " F"
//   TXDATETIME  dd/mm/yy hh:nn:ss; "ns" for 0 or less
// Decimals are rounded half away from zero on the shortest decimal form of the
// value, so 2.675 shows as 2.68 as the user typed it, not as its binary neighbour.
std::string FormatRealValue(std::string_view type_name, double value);

// The display name of an ordinal of an enumerated type ("TxTypeOfProxy", 1 gives
// "Socks4 proxy serveur"); "" for an unknown type or an ordinal out of range.
std::string EnumDisplayName(std::string_view enum_type_name, int ordinal);

}  // namespace quorvane
