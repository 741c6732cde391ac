// Starts a program of the program folder and lets it run on its own, the way
// the installer hands over to the client program or an updater. Failures are
// not reported: the installer ends either way. Main thread.
#pragma once

#include <string>
#include <vector>

namespace quorvane {

// path: the program's native path. arguments: what the installer itself was
// given after its own path, passed one by one (never re-split). No permission
// is changed here: a program the server delivers got its owner's execute
// permission when it was written. Returns whether the program could be started.
bool StartProgram(const std::string& path, const std::vector<std::string>& arguments);

}  // namespace quorvane
