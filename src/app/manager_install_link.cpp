#include "app/manager_install_link.h"

#include "net/connexion_manager.h"
#include "transport/objects_stack.h"

namespace quorvane {

TZelObject& ManagerInstallLink::RequestParent() {
  return manager_;
}

bool ManagerInstallLink::SendInstallRequest(std::unique_ptr<TSOFilesList> request) {
  // Serialized onto the connection before this returns; the list is ours to drop.
  return manager_.SendInstallRequest(request.get());
}

std::unique_ptr<TZelObject> ManagerInstallLink::PopIncoming() {
  return stack_.Pop();
}

std::unique_ptr<TZelObject> ManagerInstallLink::PopIncoming(MemoryCharge& charge) {
  return stack_.Pop(charge);
}

void ManagerInstallLink::WaitForIncoming(std::uint32_t timeout_ms) {
  // The stack sets its flag on every push, so an object pushed after the last
  // pop ends the wait at once.
  stack_.Flag().WaitAndReset(timeout_ms);
}

void ManagerInstallLink::ClearReceiveProgress() {
  manager_.SetReceiveProgress(0, 0);
}

std::uint32_t ManagerInstallLink::CurrentObjectSize() const {
  return static_cast<std::uint32_t>(manager_.CurrentObjectSize());
}

std::uint32_t ManagerInstallLink::CurrentObjectReceived() const {
  return static_cast<std::uint32_t>(manager_.CurrentObjectReceived());
}

bool ManagerInstallLink::Hidden() const {
  return manager_.Hidden();
}

void ManagerInstallLink::SendCustomerInformation() {
  manager_.SendCustomerInformation();
}

bool ManagerInstallLink::ServerConnected() const {
  return manager_.ServerConnected();
}

}  // namespace quorvane
