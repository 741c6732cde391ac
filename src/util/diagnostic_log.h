// The diagnostic log: one line per event that the program otherwise swallows
// (a refused connection, a dropped frame, a file that could not be written), so
// support can tell one cause from another. Each line holds the UTC time, the
// thread's number, the layer and the text. Writing it never fails the program:
// a log that cannot be written is skipped. The file is text of the platform:
// UTF-8 on POSIX. Safe from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quorvane {

// The log file rotates to "<path>.1" when a line would take it past this size.
inline constexpr std::uintmax_t kDiagnosticLogLimit = 1024 * 1024;

// Sets the native path of the log file; an empty path stops writing to a file.
// The installer logs to "DB\setup.log" under its program folder, the server to
// the file it is given.
void SetDiagnosticLogFile(std::string native_path);

// Whether a native path is the log file or its rotated copy (a listing of the
// folder that holds it leaves them out).
bool IsDiagnosticLogFile(const std::string& native_path);

// Appends one line. `text` holds Windows-1252 text; line breaks become blanks.
// With QUORVANE_DEBUG set, the line is also written to stderr.
void DiagnosticLog(std::string_view layer, std::string_view text);

}  // namespace quorvane
