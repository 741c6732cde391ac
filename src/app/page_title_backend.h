// The platform halves of the page title (page_title_posix.cpp with iconv and
// gumbo, page_title_win32.cpp with the system's code pages). Private to app;
// pure functions, safe from any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quorvane {

inline constexpr std::string_view kReplacementUtf8 = "\xEF\xBF\xBD";  // U+FFFD

// The bytes in UTF-8 from the named character set; input that does not convert
// becomes U+FFFD. False when the system does not know the character set.
bool ConvertToUtf8(std::string_view body, const std::string& charset, std::string& out);

// The text of the first HTML <title> element of a UTF-8 page, character
// references decoded, white space as written; nothing when there is none.
std::optional<std::string> ParseTitleText(std::string_view utf8);

}  // namespace quorvane
