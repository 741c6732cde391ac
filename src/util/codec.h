// Windows-1252 <-> UTF-8. Every string in memory, on the wire and in files holds
// Windows-1252 bytes; these conversions are used only at the edges (POSIX file
// names, Qt, the terminal, HTTP titles). Pure functions, safe from any thread.
#pragma once

#include <string>
#include <string_view>

namespace quorvane {

// The byte written for a character that Windows-1252 cannot represent.
inline constexpr char kCp1252Replacement = '?';

// Each of the 256 bytes maps to one code point (the five bytes Windows leaves
// undefined map to the C1 controls of the same value), so this never fails.
std::string Cp1252ToUtf8(std::string_view cp1252);

// Malformed UTF-8 and characters outside the set become kCp1252Replacement.
std::string Utf8ToCp1252(std::string_view utf8);

// Code point of one Windows-1252 byte, and the byte of a code point (or -1).
char32_t Cp1252CodePoint(unsigned char byte);
int Cp1252ByteOf(char32_t code_point);

namespace literals {
// "Numéro"_w: a UTF-8 source literal turned into Windows-1252 once, at the call.
inline std::string operator""_w(const char* text, std::size_t size) {
  return Utf8ToCp1252(std::string_view(text, size));
}
}  // namespace literals

}  // namespace quorvane
