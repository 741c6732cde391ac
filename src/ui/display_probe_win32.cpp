#include "ui/display_probe.h"

namespace quorvane {

// Windows always has its desktop; there is no X server to ask.
bool X11DisplayAnswers() {
  return true;
}

}  // namespace quorvane
