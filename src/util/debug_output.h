// Notices for a developer watching the program ("ZelSend Begin" ...): the system
// debugger output on Windows; on stderr, as UTF-8, only when QUORVANE_DEBUG is set
// in the environment. Safe from any thread; each notice is written whole.
#pragma once

#include <string_view>

namespace quorvane {

// `line` holds Windows-1252 text; line breaks inside it are written as blanks.
void DebugOutput(std::string_view line);

}  // namespace quorvane
