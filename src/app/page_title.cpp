#include "app/page_title.h"

#include "app/page_title_backend.h"
#include "util/codec.h"
#include "util/text.h"

namespace quorvane {
namespace {

bool IsHtmlSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

// The value of "charset=" in a Content-Type or a meta content attribute.
std::string CharsetParameter(std::string_view text) {
  const std::string lower = LowerCase(text);
  const std::size_t at = lower.find("charset=");
  if (at == std::string::npos) return {};
  std::size_t begin = at + 8;
  while (begin < lower.size() &&
         (lower[begin] == '"' || lower[begin] == '\'' || IsHtmlSpace(lower[begin])))
    ++begin;
  std::size_t end = begin;
  while (end < lower.size() && lower[end] != '"' && lower[end] != '\'' && lower[end] != ';' &&
         lower[end] != '>' && lower[end] != '/' && !IsHtmlSpace(lower[end]))
    ++end;
  return lower.substr(begin, end - begin);
}

// "charset=" inside a <meta ...> tag among the first 1024 bytes.
std::string MetaCharset(std::string_view body) {
  const std::string head = LowerCase(body.substr(0, 1024));
  for (std::size_t at = head.find("<meta"); at != std::string::npos;
       at = head.find("<meta", at + 5)) {
    const std::size_t end = head.find('>', at);
    const std::string tag = head.substr(at, end == std::string::npos ? end : end - at);
    std::string charset = CharsetParameter(tag);
    if (!charset.empty()) return charset;
  }
  return {};
}

bool IsValidUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    std::size_t length = c < 0x80         ? 1
                         : (c >> 5) == 6  ? 2
                         : (c >> 4) == 14 ? 3
                         : (c >> 3) == 30 ? 4
                                          : 0;
    if (length == 0 || i + length > text.size()) return false;
    for (std::size_t k = 1; k < length; ++k)
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    i += length;
  }
  return true;
}

// The page cut after its n-th "</title" tag (n from 0), or nothing when there is
// no such tag or the page buries the title under more tags than any real page
// has (the parser's tree walks are recursive, so a hostile depth must never
// reach them).
std::string_view TitleRegion(std::string_view utf8, const std::string& lower, int n) {
  constexpr std::size_t kMaxTagsBeforeTitle = 4096;
  const std::size_t open = lower.find("<title");
  if (open == std::string::npos) return {};
  std::size_t close = open;
  for (int i = 0; i <= n; ++i) {
    close = lower.find("</title", close + 1);
    if (close == std::string::npos) return {};
  }
  std::size_t tags = 0;
  for (std::size_t i = 0; i < open; ++i)
    tags += lower[i] == '<';
  if (tags > kMaxTagsBeforeTitle) return {};
  const std::size_t end = lower.find('>', close);
  return utf8.substr(0, end == std::string::npos ? utf8.size() : end + 1);
}

// White space runs collapsed to one blank, trimmed: what a browser reports as
// the document's title.
std::string CollapsedText(std::string_view raw) {
  std::string text;
  bool pending_space = false;
  for (char c : raw) {
    if (IsHtmlSpace(c)) {
      pending_space = !text.empty();
      continue;
    }
    if (pending_space) text += ' ';
    pending_space = false;
    text += c;
  }
  return text;
}

}  // namespace

std::string PageCharset(std::string_view content_type, std::string_view body) {
  std::string charset = CharsetParameter(content_type);
  if (!charset.empty()) return charset;
  if (body.substr(0, 3) == "\xEF\xBB\xBF") return "utf-8";
  if (body.substr(0, 2) == "\xFF\xFE") return "utf-16le";
  if (body.substr(0, 2) == "\xFE\xFF") return "utf-16be";
  charset = MetaCharset(body);
  if (!charset.empty()) return charset;
  return IsValidUtf8(body) ? "utf-8" : "windows-1252";
}

std::string PageToUtf8(std::string_view body, const std::string& charset) {
  std::string out;
  // Browsers read the Latin-1 and ASCII labels as Windows-1252; our own codec does it.
  const bool latin = charset == "windows-1252" || charset == "cp1252" || charset == "iso-8859-1" ||
                     charset == "latin1" || charset == "us-ascii" || charset == "ascii";
  if (!latin && ConvertToUtf8(body, charset, out)) {
    if (out.substr(0, 3) == "\xEF\xBB\xBF") out.erase(0, 3);
    return out;
  }
  return Cp1252ToUtf8(body);
}

std::string PageTitle(std::string_view content_type, std::string_view body) {
  const std::string utf8 = PageToUtf8(body, PageCharset(content_type, body));
  const std::string lower = LowerCase(utf8);
  // A "</title" may close an SVG title first; a few more are tried.
  for (int n = 0; n < 4; ++n) {
    const std::string_view region = TitleRegion(utf8, lower, n);
    if (region.empty()) return {};
    const std::optional<std::string> title = ParseTitleText(region);
    if (title) return Utf8ToCp1252(CollapsedText(*title));
  }
  return {};
}

}  // namespace quorvane
