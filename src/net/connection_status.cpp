#include "net/connection_status.h"

#include <atomic>

#include "util/diagnostic_log.h"

namespace quorvane {
namespace {
std::atomic<ConnectionStatus*> g_status{nullptr};
}

void InstallConnectionStatus(ConnectionStatus* status) {
  g_status.store(status);
}
ConnectionStatus* CurrentConnectionStatus() {
  return g_status.load();
}

void ConnectionTrace(const std::string& text) {
  DiagnosticLog("net", text);
  if (ConnectionStatus* status = g_status.load()) status->TraceNotice(text);
}

}  // namespace quorvane
