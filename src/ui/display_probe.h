// Whether the X server that DISPLAY names answers, asked before Qt is started
// because Qt ends the process when it cannot reach it. Main thread, once.
#pragma once

namespace quorvane {

bool X11DisplayAnswers();

}  // namespace quorvane
