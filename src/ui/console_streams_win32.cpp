#include <io.h>
#include <windows.h>

#include "ui/console_ui.h"

namespace quorvane {

ConsoleStreams StandardConsoleStreams() {
  ConsoleStreams streams;
  streams.out = stderr;
  streams.out_is_terminal = _isatty(_fileno(stderr)) != 0;
  streams.in = stdin;
  streams.in_is_terminal = _isatty(_fileno(stdin)) != 0;
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (streams.out_is_terminal &&
      ::GetConsoleScreenBufferInfo(::GetStdHandle(STD_ERROR_HANDLE), &info))
    streams.columns = info.srWindow.Right - info.srWindow.Left + 1;
  return streams;
}

}  // namespace quorvane
