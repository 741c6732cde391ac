#include "app/connection_status_adapter.h"

namespace quorvane {

void UiConnectionStatus::ShowClosing() {
  if (window_ == kNoWindow) window_ = ui_.OpenStatusWindow();
}

void UiConnectionStatus::StatusLine(const std::string& text) {
  ui_.PushStatusLine(window_, text);
  ui_.ProcessMessages();
}

void UiConnectionStatus::CloseClosing() {
  if (window_ != kNoWindow) ui_.CloseConnectingWindow(window_);
}

void UiConnectionStatus::TraceNotice(const std::string& /*text*/) {}

}  // namespace quorvane
