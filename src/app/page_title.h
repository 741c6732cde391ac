// The title of an HTML page as a browser shows it, in Windows-1252: the page is
// converted to UTF-8 from its declared character set (the Content-Type header,
// then a byte-order mark, then a <meta> in its first 1024 bytes; undeclared pages
// are taken as UTF-8 when they are valid UTF-8 and as Windows-1252 otherwise),
// parsed with gumbo, and the <title> text has its white space collapsed.
// Pure functions, safe from any thread.
#pragma once

#include <string>
#include <string_view>

namespace quorvane {

// The character set name the page declares or implies, lower-cased ("utf-8",
// "iso-8859-1", "windows-1252" ...).
std::string PageCharset(std::string_view content_type, std::string_view body);

// The page's bytes in UTF-8. An unknown character set is read as Windows-1252;
// bytes that do not convert become U+FFFD.
std::string PageToUtf8(std::string_view body, const std::string& charset);

// The title text, Windows-1252; empty when the page has none.
std::string PageTitle(std::string_view content_type, std::string_view body);

}  // namespace quorvane
