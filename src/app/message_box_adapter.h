// Shows the object base's message boxes and questions in the installation
// windows' modal dialog. Installed by the program entry at start-up; used on
// the main thread only.
#pragma once

#include <string>

#include "model/message_box.h"
#include "ui/installation_ui.h"

namespace quorvane {

class UiMessageBoxService : public MessageBoxService {
 public:
  explicit UiMessageBoxService(InstallationUi& ui) : ui_(ui) {}
  void ShowMessage(const std::string& caption, const std::string& text) override;
  bool AskQuestion(const std::string& caption, const std::string& text) override;

 private:
  InstallationUi& ui_;
};

}  // namespace quorvane
