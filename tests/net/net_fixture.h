// A private program folder with its frame folders and the message classes
// registered; a root object holding the incoming stack that connections deliver
// to; and a connector that hands the client one end of an in-memory stream pair
// and keeps a TestPeer on the other end, scripted per target address.
#pragma once

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "net/client_socket.h"
#include "net/pipe_stream.h"
#include "net/test_peer.h"
#include "objects/register_classes.h"
#include "support/temp_folder.h"
#include "transport/objects_stack.h"
#include "util/program_folder.h"

namespace quorvane::testing {

// What the far side of an address does when the client connects.
// A user other than the server, as a peer may name itself.
inline constexpr std::string_view kOtherUserIdText = "{00000000-0000-0000-0000-000000000007}";

enum class PeerScript {
  kRefuse,   // the connect fails as refused
  kServer,   // accepts and names itself the server user at once
  kWrongId,  // accepts and names another identifier
  kSilent,   // accepts and never says anything
};

struct ConnectRecord {
  std::string address;
  int port = 0;
  std::string relay_address;
  int relay_port = 0;
  TxTypeOfProxy relay_version = toprx_Nop;
};

class FakeNetwork {
 public:
  void Script(const std::string& address, PeerScript script) {
    std::lock_guard lock(mutex_);
    scripts_[address] = script;
  }
  // Capacity of each direction of new pipes (small: the client's writes block).
  void SetPipeCapacity(std::size_t capacity) { capacity_ = capacity; }

  SocketConnector Connector() {
    return [this](const SocketTarget& target) -> std::unique_ptr<ByteStream> {
      PeerScript script = PeerScript::kRefuse;
      {
        std::lock_guard lock(mutex_);
        records_.push_back({target.address, target.port, target.socks.Address, target.socks.Port,
                            target.socks.Version});
        if (auto it = scripts_.find(target.address); it != scripts_.end()) script = it->second;
      }
      if (script == PeerScript::kRefuse)
        throw ESocketOpenError(WinSockErrorText(ECONNREFUSED, "connect"), SocketFailure::kRefused);
      auto [near, far] = MakePipePair(capacity_);
      auto peer = std::make_unique<TestPeer>(std::move(far));
      if (script == PeerScript::kServer) peer->Authenticate(protocol::kServerUserId);
      if (script == PeerScript::kWrongId) peer->Authenticate(kOtherUserIdText);
      std::lock_guard lock(mutex_);
      peers_.push_back(std::move(peer));
      peer_addresses_.push_back(target.address);
      return std::move(near);
    };
  }

  std::vector<ConnectRecord> Records() const {
    std::lock_guard lock(mutex_);
    return records_;
  }
  std::size_t PeerCount() const {
    std::lock_guard lock(mutex_);
    return peers_.size();
  }
  TestPeer& Peer(std::size_t index) {
    std::lock_guard lock(mutex_);
    return *peers_.at(index);
  }
  std::string PeerAddress(std::size_t index) const {
    std::lock_guard lock(mutex_);
    return peer_addresses_.at(index);
  }
  void ClearRecords() {
    std::lock_guard lock(mutex_);
    records_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::map<std::string, PeerScript> scripts_;
  std::vector<ConnectRecord> records_;
  std::vector<std::unique_ptr<TestPeer>> peers_;
  std::vector<std::string> peer_addresses_;
  std::size_t capacity_ = 1 << 20;
};

class NetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scope_.emplace("qv_net");
    std::filesystem::create_directories(NativePath("DB\\TRM\\FST"));
    RegisterClasses();
    stack_ = std::make_unique<TZelObjectsStackManagerIn>(nullptr);
    root_ = std::make_unique<TZelObject>(nullptr);
    root_->SetStackManager(stack_.get());
  }
  void TearDown() override {
    root_.reset();
    stack_.reset();
    scope_.reset();
  }

  // The next object the client received, or null after timeout_ms.
  std::unique_ptr<TZelObject> PopClient(int timeout_ms = 10'000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
      if (auto object = stack_->Pop()) return object;
      if (std::chrono::steady_clock::now() >= deadline) return nullptr;
      SleepMs(2);
    }
  }

  // Polls a condition every 2 ms for at most timeout_ms.
  static bool Eventually(const std::function<bool()>& condition, int timeout_ms = 10'000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!condition()) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      SleepMs(2);
    }
    return true;
  }

  std::optional<ProgramFolderScope> scope_;
  std::unique_ptr<TZelObjectsStackManagerIn> stack_;
  std::unique_ptr<TZelObject> root_;
};

}  // namespace quorvane::testing
