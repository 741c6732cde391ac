#include <unistd.h>

#include <cstdlib>
#include <string>

#include "util/codec.h"
#include "util/debug_output.h"

namespace quorvane {

std::string TextFileLine(std::string_view line) {
  return Cp1252ToUtf8(line);
}

void DebugOutput(std::string_view line) {
  const char* enabled = std::getenv("QUORVANE_DEBUG");
  if (enabled == nullptr || *enabled == '\0') return;
  std::string text = Cp1252ToUtf8(line);
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  text += '\n';
  // One write call per notice, so lines of concurrent threads do not interleave.
  std::size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = ::write(STDERR_FILENO, text.data() + written, text.size() - written);
    if (n <= 0) return;
    written += static_cast<std::size_t>(n);
  }
}

}  // namespace quorvane
