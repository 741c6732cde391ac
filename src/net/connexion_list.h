// TZelConnexionsListByMe: the outgoing connections of the manager. It finds the
// connection that suits an object to send, opens one when there is none (for the
// server: the relay targets prefix + 1..N in random order behind the SOCKS relay,
// counted only when the server names itself with "Atfctn" in time), sends the
// customer identification on every new TCP connection, queues objects, drops idle
// and dead connections and reports progress.
// Thread rules: used on the main thread; the item list is guarded by the object
// lock, Progress only try-locks it so a display refresh never waits on a connect.
// Connects run without the lock.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "model/zel_object.h"
#include "net/connexion_item.h"
#include "objects/files.h"

namespace quorvane {

class TZelConnexionsManagerByMe;

inline constexpr std::string_view kServerPeerName = "Server";

struct ListTimings {
  int close_pause_ms = 500;                         // between two connections closed by CloseAll
  std::chrono::milliseconds idle_timeout{300'000};  // an idle connection is closed after it
};

struct ConnexionProgress {
  bool found = false;
  std::int64_t size = 0;
  std::int64_t position = 0;
  int percent = 0;
};

// One connection's incoming counters, and their sums with the percents averaged.
struct ItemProgress {
  std::int64_t done = 0;
  std::int64_t total = 0;
  int percent = 0;
};
ConnexionProgress SumProgress(const std::vector<ItemProgress>& items);

// The server user's identifier, {00000000-0000-0000-0000-000000000002}.
Guid ServerUserId();

// Candidates 1..count (at most 255) in a uniformly random order, each once.
std::vector<int> ShuffledCandidates(int count, std::mt19937& random);

class TZelConnexionsListByMe : public TZelObject {
 public:
  explicit TZelConnexionsListByMe(TZelConnexionsManagerByMe* manager);
  ~TZelConnexionsListByMe() override;

  static const ClassInfo& StaticClass();

  bool AddConnection(std::uint8_t transport, char data_kind, const std::string& peer_name,
                     const TxSocksInfo& socks, const Guid& target, bool pause_between_attempts,
                     const std::string& address, int port, bool heavy);
  bool OpenConnection(const Guid& target, std::uint8_t transport, bool heavy, char data_kind);
  // A live matching connection, or a new one when may_open; dead matches are removed.
  TZelConnexionByMeItem* FindOrOpen(const Guid& target, bool may_open, bool heavy, char data_kind,
                                    std::uint8_t transport);
  // Queues the file list on the connection to its addressee (ZelUsersToID), or to
  // the server. The file list stays the caller's.
  bool SendFileList(TSOFilesList& files);
  void SendIdentification(TZelConnexionByMeItem& item);

  void RemoveMatching(const Guid& target, std::uint8_t transport, bool heavy, char data_kind);
  void RemoveItem(TZelConnexionByMeItem* item);
  void DeleteDeadItems();
  void Animate();
  void CloseAll();

  int Count() const;
  TZelConnexionByMeItem* ItemAt(int index) const;
  ConnexionProgress Progress(const std::string& object_id) const;

  bool Stop() override;

  void SetConnector(SocketConnector connector) { connector_ = std::move(connector); }
  void SetTimings(const ConnexionTimings& timings) { timings_ = timings; }
  void SetListTimings(const ListTimings& timings) { list_timings_ = timings; }
  void SetFolders(FrameFolders folders) { folders_ = std::move(folders); }
  void SetDeliveryTarget(IncomingObjectTarget* target) { delivery_target_ = target; }
  // Whether a connection to the server is open and both its threads still run.
  bool ServerConnected() const;
  // The relay targets of the last server search, in the order tried.
  const std::vector<std::string>& LastTargets() const { return last_targets_; }

 private:
  std::uint8_t EffectiveTransport(std::uint8_t transport) const;
  TZelConnexionByMeItem* FindLive(const Guid& target, std::uint8_t transport, bool heavy,
                                  char data_kind);

  std::vector<std::unique_ptr<TZelConnexionByMeItem>> items_;
  ListTimings list_timings_;
  std::int32_t animation_counter_ = 2;
  TZelConnexionsManagerByMe* manager_;
  SocketConnector connector_;
  ConnexionTimings timings_;
  FrameFolders folders_;
  IncomingObjectTarget* delivery_target_ = nullptr;
  std::mt19937 random_;
  std::vector<std::string> last_targets_;
};

}  // namespace quorvane
