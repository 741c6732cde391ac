// The installation run: everything between reading the command line and
// handing over to the installed client program: the run objects, server
// discovery, the customer identification, the connection manager, the
// installation exchange, and the updater hand-off. Main thread only.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ui/installation_ui.h"

namespace quorvane {

// flags: the flag string of ParseCommandLine. arguments: the installer's own
// command line, program path first. Returns true when the caller is to start
// the installed client program.
bool RunInstallation(const std::string& flags, const std::vector<std::string>& arguments,
                     InstallationUi& ui);

// The native path of an updater the last run delivered and made ready, once:
// the caller starts it after releasing the instance lock (an updater that
// starts the installer again would otherwise find the lock taken).
std::optional<std::string> TakePendingUpdater();

// The nick name stored at the end of a run when the customer has none.
inline constexpr const char* kDefaultNickName = "Farnwick";

}  // namespace quorvane
