#include "model/message_box.h"

#include <atomic>

#include "util/debug_output.h"

namespace quorvane {
namespace {

// Without windows: messages go to the debugger output, questions answer no.
class DebugOutputMessageBox : public MessageBoxService {
 public:
  void ShowMessage(const std::string& caption, const std::string& text) override {
    DebugOutput(caption + ": " + text);
  }
  bool AskQuestion(const std::string& caption, const std::string& text) override {
    DebugOutput(caption + ": " + text + " (no)");
    return false;
  }
};

std::atomic<MessageBoxService*> installed{nullptr};

}  // namespace

void InstallMessageBoxService(MessageBoxService* service) {
  installed.store(service);
}

MessageBoxService& CurrentMessageBoxService() {
  static DebugOutputMessageBox fallback;
  MessageBoxService* service = installed.load();
  return service != nullptr ? *service : fallback;
}

}  // namespace quorvane
