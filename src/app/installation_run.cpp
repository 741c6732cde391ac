#include "app/installation_run.h"

#include "util/debug_output.h"

namespace quorvane {

// The exchange with the server is not part of this build yet. Until it is,
// the run tells the user and reports failure, so nothing is ever started
// after it and no connection is attempted.
bool RunInstallation(const std::string& flags, const std::vector<std::string>&,
                     InstallationUi& ui) {
  DebugOutput("RunInstallation flags=" + flags);
  ui.ShowMessageDialog(kColourButtonFace, "Quorvane installation",
                       "This version of Quorvane Setup cannot install yet.");
  return false;
}

}  // namespace quorvane
