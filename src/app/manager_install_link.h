// The installation exchange's view of the real connection manager and its
// incoming object stack. Main thread; the counters it reads are written by the
// receive threads.
#pragma once

#include "app/installation_exchange.h"

namespace quorvane {

class TZelConnexionsManagerByMe;
class TZelObjectsStackManagerIn;

class ManagerInstallLink : public InstallSessionLink {
 public:
  ManagerInstallLink(TZelConnexionsManagerByMe& manager, TZelObjectsStackManagerIn& stack)
      : manager_(manager), stack_(stack) {}

  TZelObject& RequestParent() override;
  bool SendInstallRequest(std::unique_ptr<TSOFilesList> request) override;
  std::unique_ptr<TZelObject> PopIncoming() override;
  std::unique_ptr<TZelObject> PopIncoming(MemoryCharge& charge) override;
  void WaitForIncoming(std::uint32_t timeout_ms) override;
  void ClearReceiveProgress() override;
  std::uint32_t CurrentObjectSize() const override;
  std::uint32_t CurrentObjectReceived() const override;
  bool Hidden() const override;
  void SendCustomerInformation() override;
  bool ServerConnected() const override;

 private:
  TZelConnexionsManagerByMe& manager_;
  TZelObjectsStackManagerIn& stack_;
};

}  // namespace quorvane
