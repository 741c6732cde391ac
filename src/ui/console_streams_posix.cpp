#include <sys/ioctl.h>
#include <unistd.h>

#include "ui/console_ui.h"

namespace quorvane {

ConsoleStreams StandardConsoleStreams() {
  ConsoleStreams streams;
  streams.out = stderr;
  streams.out_is_terminal = isatty(fileno(stderr)) == 1;
  streams.in = stdin;
  streams.in_is_terminal = isatty(fileno(stdin)) == 1;
  winsize size{};
  if (streams.out_is_terminal && ioctl(fileno(stderr), TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
    streams.columns = size.ws_col;
  return streams;
}

}  // namespace quorvane
