// The installation run: everything between reading the command line and
// handing over to the installed client program. Main thread only.
#pragma once

#include <string>
#include <vector>

#include "ui/installation_ui.h"

namespace quorvane {

// flags: the flag string of ParseCommandLine. arguments: the installer's own
// command line, program path first, for an updater the run may start. Returns
// true when the caller is to start the installed client program.
bool RunInstallation(const std::string& flags, const std::vector<std::string>& arguments,
                     InstallationUi& ui);

}  // namespace quorvane
