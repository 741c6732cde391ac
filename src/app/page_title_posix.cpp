#include <gumbo.h>
#include <iconv.h>

#include <cerrno>
#include <vector>

#include "app/page_title_backend.h"

namespace quorvane {
namespace {

// Depth first, in document order, without recursion.
const GumboNode* FindTitle(const GumboNode* document) {
  std::vector<const GumboNode*> pending{document};
  while (!pending.empty()) {
    const GumboNode* node = pending.back();
    pending.pop_back();
    if (node->type == GUMBO_NODE_ELEMENT && node->v.element.tag == GUMBO_TAG_TITLE &&
        node->v.element.tag_namespace == GUMBO_NAMESPACE_HTML)
      return node;
    if (node->type != GUMBO_NODE_ELEMENT && node->type != GUMBO_NODE_DOCUMENT) continue;
    const GumboVector& children =
        node->type == GUMBO_NODE_DOCUMENT ? node->v.document.children : node->v.element.children;
    for (unsigned i = children.length; i > 0; --i)
      pending.push_back(static_cast<const GumboNode*>(children.data[i - 1]));
  }
  return nullptr;
}

}  // namespace

// iconv on the whole text; invalid input bytes become U+FFFD one by one.
bool ConvertToUtf8(std::string_view body, const std::string& charset, std::string& out) {
  iconv_t cd = iconv_open("UTF-8", charset.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  out.clear();
  std::vector<char> chunk(16 * 1024);
  char* in = const_cast<char*>(body.data());
  std::size_t in_left = body.size();
  while (in_left > 0) {
    char* dest = chunk.data();
    std::size_t dest_left = chunk.size();
    const std::size_t done = iconv(cd, &in, &in_left, &dest, &dest_left);
    out.append(chunk.data(), chunk.size() - dest_left);
    if (done == static_cast<std::size_t>(-1)) {
      if (errno == E2BIG) continue;
      out.append(kReplacementUtf8);
      if (errno == EINVAL) break;  // incomplete sequence at the end
      ++in;                        // EILSEQ: skip the offending byte
      --in_left;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  iconv_close(cd);
  return true;
}

std::optional<std::string> ParseTitleText(std::string_view utf8) {
  GumboOutput* output = gumbo_parse_with_options(&kGumboDefaultOptions, utf8.data(), utf8.size());
  if (output == nullptr) return std::nullopt;
  std::optional<std::string> text;
  if (const GumboNode* title = FindTitle(output->document)) {
    text.emplace();
    const GumboVector& children = title->v.element.children;
    for (unsigned i = 0; i < children.length; ++i) {
      const auto* child = static_cast<const GumboNode*>(children.data[i]);
      if (child->type == GUMBO_NODE_TEXT || child->type == GUMBO_NODE_WHITESPACE)
        *text += child->v.text.text;
    }
  }
  gumbo_destroy_output(&kGumboDefaultOptions, output);
  return text;
}

}  // namespace quorvane
