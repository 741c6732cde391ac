// The object base's way to show a modal message or ask a yes/no question. The
// windows live in a higher layer, which installs its implementation at start-up;
// until then messages go to the debugger output and questions answer no.
// Install once from the main thread before other threads start.
#pragma once

#include <string>

namespace quorvane {

class MessageBoxService {
 public:
  virtual ~MessageBoxService() = default;
  virtual void ShowMessage(const std::string& caption, const std::string& text) = 0;
  virtual bool AskQuestion(const std::string& caption, const std::string& text) = 0;
};

// nullptr restores the fallback. The service is not owned.
void InstallMessageBoxService(MessageBoxService* service);
MessageBoxService& CurrentMessageBoxService();

}  // namespace quorvane
