#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "util/debug_output.h"

namespace quorvane {

// The debugger output is always fed, as Windows programs do; QUORVANE_DEBUG also
// copies the notice to stderr for a console run.
std::string TextFileLine(std::string_view line) {
  return std::string(line);
}

void DebugOutput(std::string_view line) {
  std::string text(line);
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  ::OutputDebugStringA(text.c_str());
  const char* enabled = std::getenv("QUORVANE_DEBUG");
  if (enabled == nullptr || *enabled == '\0') return;
  text += '\n';
  std::fwrite(text.data(), 1, text.size(), stderr);
}

}  // namespace quorvane
