// Notices for a developer watching the program ("ZelSend Begin" ...): the system
// debugger output on Windows; on stderr, as UTF-8, only when QUORVANE_DEBUG is set
// in the environment. Safe from any thread; each notice is written whole.
#pragma once

#include <string>
#include <string_view>

namespace quorvane {

// `line` holds Windows-1252 text; line breaks inside it are written as blanks.
void DebugOutput(std::string_view line);

// A Windows-1252 line as a text file of the platform holds it: UTF-8 on POSIX,
// the bytes unchanged on Windows.
std::string TextFileLine(std::string_view line);

}  // namespace quorvane
