// Small text helpers with the semantics the protocol relies on: case mapping of
// ASCII letters only (bytes >= 0x80 are left alone) and trimming of control
// characters and blanks. Pure functions.
#pragma once

#include <string>
#include <string_view>

namespace quorvane {

std::string UpperCase(std::string_view text);
std::string LowerCase(std::string_view text);
// Removes leading and trailing characters <= ' '.
std::string Trim(std::string_view text);
bool SameText(std::string_view a, std::string_view b);  // ASCII case-insensitive

}  // namespace quorvane
