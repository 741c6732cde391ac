// The page title on Windows: character sets through the system's code pages
// (MultiByteToWideChar), and the title read by a small reader of the page head,
// because gumbo has no Windows build here (see the folder's README).
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "app/page_title_backend.h"
#include "util/text.h"

namespace quorvane {
namespace {

struct CharsetCodePage {
  std::string_view name;
  UINT code_page;
};

// The character set labels pages use most, as the system's code pages.
constexpr CharsetCodePage kCodePages[] = {
    {"utf-8", CP_UTF8},     {"utf8", CP_UTF8},      {"koi8-r", 20866},      {"koi8-u", 21866},
    {"iso-8859-2", 28592},  {"iso-8859-3", 28593},  {"iso-8859-4", 28594},  {"iso-8859-5", 28595},
    {"iso-8859-6", 28596},  {"iso-8859-7", 28597},  {"iso-8859-8", 28598},  {"iso-8859-9", 28599},
    {"iso-8859-13", 28603}, {"iso-8859-15", 28605}, {"windows-1250", 1250}, {"windows-1251", 1251},
    {"windows-1253", 1253}, {"windows-1254", 1254}, {"windows-1255", 1255}, {"windows-1256", 1256},
    {"windows-1257", 1257}, {"windows-1258", 1258}, {"shift_jis", 932},     {"sjis", 932},
    {"euc-jp", 20932},      {"gbk", 936},           {"gb2312", 936},        {"big5", 950},
    {"euc-kr", 949},        {"ibm866", 866},        {"macintosh", 10000},
};

void AppendUtf8(std::uint32_t code, std::string& out) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// UTF-16 has no code page that MultiByteToWideChar takes: the units are read here.
std::string Utf16ToUtf8(std::string_view body, bool big_endian) {
  std::string out;
  std::size_t i = 0;
  auto unit = [&](std::size_t at) -> std::uint32_t {
    const auto a = static_cast<unsigned char>(body[at]);
    const auto b = static_cast<unsigned char>(body[at + 1]);
    return big_endian ? (a << 8) | b : (b << 8) | a;
  };
  if (body.size() >= 2 && unit(0) == 0xFEFF) i = 2;
  for (; i + 1 < body.size(); i += 2) {
    const std::uint32_t first = unit(i);
    if (first >= 0xD800 && first < 0xDC00 && i + 3 < body.size()) {
      const std::uint32_t second = unit(i + 2);
      if (second >= 0xDC00 && second < 0xE000) {
        AppendUtf8(0x10000 + ((first - 0xD800) << 10) + (second - 0xDC00), out);
        i += 2;
        continue;
      }
    }
    if (first >= 0xD800 && first < 0xE000)
      out.append(kReplacementUtf8);
    else
      AppendUtf8(first, out);
  }
  if (i < body.size()) out.append(kReplacementUtf8);  // an odd byte at the end
  return out;
}

// The code page's text as UTF-16, then as UTF-8; the system puts U+FFFD (or
// its default character) where input does not convert.
bool CodePageToUtf8(std::string_view body, UINT code_page, std::string& out) {
  out.clear();
  if (body.empty()) return true;
  const int size = static_cast<int>(body.size());
  const int wide_length = ::MultiByteToWideChar(code_page, 0, body.data(), size, nullptr, 0);
  if (wide_length <= 0) return false;
  std::vector<wchar_t> wide(static_cast<std::size_t>(wide_length));
  ::MultiByteToWideChar(code_page, 0, body.data(), size, wide.data(), wide_length);
  const int length =
      ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_length, nullptr, 0, nullptr, nullptr);
  out.resize(static_cast<std::size_t>(length));
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), wide_length, out.data(), length, nullptr, nullptr);
  return true;
}

// "&amp;", "&#233;", "&#xE9;" ...: the references a title holds in practice.
std::size_t DecodeReference(std::string_view text, std::size_t at, std::string& out) {
  static constexpr std::pair<std::string_view, std::uint32_t> kNamed[] = {
      {"amp;", '&'}, {"lt;", '<'}, {"gt;", '>'}, {"quot;", '"'}, {"apos;", '\''}, {"nbsp;", 0xA0}};
  const std::string_view rest = text.substr(at + 1);
  for (const auto& [name, code] : kNamed) {
    if (rest.substr(0, name.size()) == name) {
      AppendUtf8(code, out);
      return at + 1 + name.size();
    }
  }
  if (!rest.empty() && rest[0] == '#') {
    const bool hex = rest.size() > 1 && (rest[1] == 'x' || rest[1] == 'X');
    const std::string digits(rest.substr(hex ? 2 : 1, 8));
    char* end = nullptr;
    const unsigned long code = std::strtoul(digits.c_str(), &end, hex ? 16 : 10);
    const std::size_t used = static_cast<std::size_t>(end - digits.c_str());
    if (used > 0) {
      AppendUtf8(code == 0 || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000) ? 0xFFFD : code,
                 out);
      std::size_t next = at + 1 + (hex ? 2 : 1) + used;
      if (next < text.size() && text[next] == ';') ++next;
      return next;
    }
  }
  out += '&';
  return at + 1;
}

}  // namespace

bool ConvertToUtf8(std::string_view body, const std::string& charset, std::string& out) {
  if (charset == "utf-16le" || charset == "utf-16") {
    out = Utf16ToUtf8(body, false);
    return true;
  }
  if (charset == "utf-16be") {
    out = Utf16ToUtf8(body, true);
    return true;
  }
  for (const CharsetCodePage& entry : kCodePages)
    if (entry.name == charset) return CodePageToUtf8(body, entry.code_page, out);
  return false;
}

std::optional<std::string> ParseTitleText(std::string_view utf8) {
  const std::string lower = LowerCase(utf8);
  std::size_t at = 0;
  for (;;) {
    at = lower.find('<', at);
    if (at == std::string::npos) return std::nullopt;
    if (lower.compare(at, 4, "<!--") == 0) {  // a comment hides what it holds
      const std::size_t end = lower.find("-->", at + 4);
      if (end == std::string::npos) return std::nullopt;
      at = end + 3;
    } else if (lower.compare(at, 4, "<svg") == 0) {  // an SVG title is not the page's
      const std::size_t end = lower.find("</svg", at);
      if (end == std::string::npos) return std::nullopt;
      at = end + 5;
    } else if (lower.compare(at, 6, "<title") == 0 &&
               (at + 6 == lower.size() || lower[at + 6] == '>' || lower[at + 6] == ' ' ||
                lower[at + 6] == '\t' || lower[at + 6] == '\n' || lower[at + 6] == '/')) {
      break;
    } else {
      ++at;
    }
  }
  const std::size_t open_end = lower.find('>', at);
  if (open_end == std::string::npos) return std::nullopt;
  const std::size_t close = lower.find("</title", open_end);
  // As in a browser, the text runs to the end of the page when nothing closes it.
  const std::string_view raw =
      utf8.substr(open_end + 1, (close == std::string::npos ? lower.size() : close) - open_end - 1);
  std::string text;
  for (std::size_t i = 0; i < raw.size();) {
    if (raw[i] == '&') {
      i = DecodeReference(raw, i, text);
    } else {
      text += raw[i++];
    }
  }
  return text;
}

}  // namespace quorvane
