#include "app/message_box_adapter.h"

namespace quorvane {

// This program has no application object to give a colour, so the dialog takes
// the system button face.
void UiMessageBoxService::ShowMessage(const std::string& caption, const std::string& text) {
  ui_.ShowMessageDialog(kColourButtonFace, caption, text);
}

bool UiMessageBoxService::AskQuestion(const std::string& caption, const std::string& text) {
  return ui_.AskQuestionDialog(kColourButtonFace, caption, text) == DialogResult::kYes;
}

}  // namespace quorvane
