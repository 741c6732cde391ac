#include "net/connexion_list.h"

#include <algorithm>
#include <chrono>

#include "net/connection_status.h"
#include "net/connexion_manager.h"
#include "objects/customer.h"
#include "objects/enums.h"
#include "objects/protocol.h"
#include "settings/site.h"
#include "util/codec.h"
#include "util/diagnostic_log.h"
#include "util/text.h"
#include "util/tick.h"

namespace quorvane {

using literals::operator""_w;

Guid ServerUserId() {
  return GuidFromString(protocol::kServerUserId);
}

std::vector<int> ShuffledCandidates(int count, std::mt19937& random) {
  count = std::clamp(count, 0, 255);
  std::vector<int> candidates(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i)
    candidates[static_cast<std::size_t>(i)] = i + 1;
  std::shuffle(candidates.begin(), candidates.end(), random);
  return candidates;
}

ConnexionProgress SumProgress(const std::vector<ItemProgress>& items) {
  ConnexionProgress progress;
  progress.found = true;
  std::int64_t percent = 0;
  for (const ItemProgress& item : items) {
    progress.size += item.total;
    progress.position += item.done;
    percent += item.percent;
  }
  if (!items.empty()) percent /= static_cast<std::int64_t>(items.size());
  progress.percent = static_cast<int>(percent);
  return progress;
}

const ClassInfo& TZelConnexionsListByMe::StaticClass() {
  static const ClassInfo info =
      MakeClassInfo("TZelConnexionsListByMe", &TZelObject::StaticClass(), {});
  return info;
}

TZelConnexionsListByMe::TZelConnexionsListByMe(TZelConnexionsManagerByMe* manager)
    : TZelObject(manager, StaticClass()),
      manager_(manager),
      folders_(FrameFolders::Default()),
      random_(static_cast<std::mt19937::result_type>(
          std::chrono::steady_clock::now().time_since_epoch().count() ^ std::random_device{}())) {
  SetName("List");
  SetTypeId(kTypeIdConnexionList);
  SetNotPersistent();
}

TZelConnexionsListByMe::~TZelConnexionsListByMe() {
  std::lock_guard guard(Mutex());
  items_.clear();  // each item stops its threads and closes its socket
}

std::uint8_t TZelConnexionsListByMe::EffectiveTransport(std::uint8_t transport) const {
  return manager_ != nullptr && manager_->ForceTcp() ? kTransportTcp : transport;
}

bool TZelConnexionsListByMe::AddConnection(std::uint8_t transport, char data_kind,
                                           const std::string& peer_name, const TxSocksInfo& socks,
                                           const Guid& target, bool pause_between_attempts,
                                           const std::string& address, int port, bool heavy) {
  if (IsNoConnection()) return false;
  transport = EffectiveTransport(transport);
  auto item = std::make_unique<TZelConnexionByMeItem>(this);
  item->Configure(transport, data_kind, peer_name, target, socks, address, port, heavy);
  item->SetPauseBetweenAttempts(pause_between_attempts);
  item->SetOwners(manager_, this);
  item->SetConnector(connector_);
  item->SetTimings(timings_);
  item->SetFolders(folders_);
  item->SetDeliveryTarget(delivery_target_);
  item->Open();
  ConnectionTrace("Connexion " + std::string(TransportName(transport)) + " ..");
  if (!item->Start()) {
    ConnectionTrace("*Connexion impossible " + DataKindName(data_kind, heavy, IsEnglish()) + "*");
    item->Stop();
    item->Close();
    return false;
  }
  TZelConnexionByMeItem* added = item.get();
  {
    std::lock_guard guard(Mutex());
    items_.push_back(std::move(item));
  }
  added->Run();
  ConnectionTrace("Waiting autentification ..");
  if (added->IsAcknowledged()) {
    ConnectionTrace("Autentified");
    added->Announce();
    ConnectionTrace("Connexion " + std::string(TransportName(transport)) + " " +
                    DataKindName(data_kind, heavy, IsEnglish()) + " ok ");
    return true;
  }
  ConnectionTrace("No autentification");
  // The item just made goes, not whichever matching item comes first.
  RemoveItem(added);
  return false;
}

bool TZelConnexionsListByMe::OpenConnection(const Guid& target, std::uint8_t transport, bool heavy,
                                            char data_kind) {
  if (IsNoConnection()) return false;
  transport = EffectiveTransport(transport);
  if (target != ServerUserId()) {
    // Contacts come from an application's user list; this program has none.
    ConnectionTrace("Search contact");
    ConnectionTrace("Contact not found");
    return false;
  }
  if (transport != kTransportTcp || data_kind != kKindObject || manager_ == nullptr) return false;
  ConnectionTrace("Connexion server ..");
  manager_->LoadSettings();
  int port = manager_->InstallPort();
  std::vector<int> candidates;
  if (manager_->Develop()) {
    manager_->SetScanCount(1);
    candidates.push_back(manager_->TargetNumber() > 0 ? manager_->TargetNumber()
                                                      : TZelObject::TargetNumber());
    port -= 1;
  } else {
    candidates = ShuffledCandidates(manager_->ScanCount(), random_);
  }
  last_targets_.clear();
  const TxSocksInfo& socks = manager_->Socks();
  for (const int candidate : candidates) {
    const std::string address = Site().relay_lan_prefix + std::to_string(candidate);
    last_targets_.push_back(address);
    if (AddConnection(kTransportTcp, data_kind, std::string(kServerPeerName), socks, target, true,
                      address, port, heavy))
      return true;
  }
  DiagnosticLog("net", "no server found behind relay " + socks.Address + ":" +
                           std::to_string(socks.Port) + " (" + std::to_string(candidates.size()) +
                           " targets tried at port " + std::to_string(port) + ")");
  return false;
}

TZelConnexionByMeItem* TZelConnexionsListByMe::FindLive(const Guid& target, std::uint8_t transport,
                                                        bool heavy, char data_kind) {
  std::lock_guard guard(Mutex());
  for (;;) {
    auto it = std::find_if(items_.begin(), items_.end(), [&](const auto& item) {
      return item->Matches(target, transport, heavy, data_kind);
    });
    if (it == items_.end()) return nullptr;
    if ((*it)->IsActive()) return it->get();
    // A dead connection would swallow what is queued on it.
    DiagnosticLog("net", "connection " + std::to_string((*it)->Number()) + " to " + (*it)->Where() +
                             " is dead (" + (*it)->EndReason() + "): removed");
    RemoveItem(it->get());
  }
}

TZelConnexionByMeItem* TZelConnexionsListByMe::FindOrOpen(const Guid& target, bool may_open,
                                                          bool heavy, char data_kind,
                                                          std::uint8_t transport) {
  transport = EffectiveTransport(transport);
  TZelConnexionByMeItem* item = FindLive(target, transport, heavy, data_kind);
  if (item == nullptr && may_open && OpenConnection(target, transport, heavy, data_kind)) {
    item = FindLive(target, transport, heavy, data_kind);
    if (item != nullptr && Identification() != nullptr && transport == kTransportTcp)
      SendIdentification(*item);
  }
  return item;
}

bool TZelConnexionsListByMe::SendFileList(TSOFilesList& files) {
  const bool heavy = files.IsHeavy();
  Guid target;
  if (files.ZelUsersToID().Count() > 0) {
    const std::string text = Trim(files.ZelUsersToID().Lines().front());
    if (text.size() == 38) {
      try {
        target = GuidFromString(text);
      } catch (...) {
        DiagnosticLog("net", "file list addressed to \"" + text +
                                 "\", which is no identifier: taken as the null one");
      }
    }
  }
  TZelConnexionByMeItem* item = FindOrOpen(target, true, heavy, kKindObject, kTransportTcp);
  if (item == nullptr && target != ServerUserId())
    item = FindOrOpen(ServerUserId(), true, heavy, kKindObject, kTransportTcp);
  if (item == nullptr) return false;
  item->Touch();
  item->Send(files);
  return true;
}

void TZelConnexionsListByMe::SendIdentification(TZelConnexionByMeItem& item) {
  TZelObject* identification = Identification();
  if (identification == nullptr) return;
  std::lock_guard guard(identification->Mutex());
  if (identification->TypeCode() == tvo_CustomerIdentification) {
    if (auto* customer = dynamic_cast<TZelSObjectCustomerIdentification*>(identification)) {
      customer->xsConIP = customer->xProxyType != toprx_Nop
                              ? ComputerIpAddress()
                              : (item.Socket() ? item.Socket()->LocalAddress() : std::string());
    }
  }
  identification->SetUserFrom(false);
  identification->SetWhoFrom(this);
  if (item.TargetId() == ServerUserId()) {
    identification->SetWhoServerTo(protocol::kServerIdentificationReceiver);
    identification->SetUsersTo(protocol::kServerUserNumber);
    identification->SetWhoTo(protocol::kServerIdentificationReceiver);
  } else {
    identification->SetUsersToId(GuidToString(item.TargetId()));
    identification->SetWhoTo(protocol::kServerIdentificationReceiver);
  }
  item.Touch();
  item.Send(*identification);
}

void TZelConnexionsListByMe::RemoveMatching(const Guid& target, std::uint8_t transport, bool heavy,
                                            char data_kind) {
  std::lock_guard guard(Mutex());
  for (const auto& item : items_) {
    if (item->Matches(target, transport, heavy, data_kind)) {
      RemoveItem(item.get());
      return;
    }
  }
}

void TZelConnexionsListByMe::RemoveItem(TZelConnexionByMeItem* item) {
  std::lock_guard guard(Mutex());
  try {
    auto it = std::find_if(items_.begin(), items_.end(),
                           [item](const auto& held) { return held.get() == item; });
    if (it == items_.end()) return;
    if (item->IsActive()) item->CloseSocket();
    item->Stop();
    item->Close();
    items_.erase(it);
  } catch (...) {
    HandleException();
  }
}

void TZelConnexionsListByMe::DeleteDeadItems() {
  std::lock_guard guard(Mutex());
  const auto now = TZelConnexionByMeItem::Clock::now();
  const Guid server = ServerUserId();
  for (auto it = items_.rbegin(); it != items_.rend(); ++it) {
    TZelConnexionByMeItem& item = **it;
    if (item.TargetId() == server || item.DataKind() == kKindImage || item.DataKind() == kKindSound)
      continue;
    if (item.IsActive() && now - item.LastActivity() > list_timings_.idle_timeout) {
      DiagnosticLog("net", "connection " + std::to_string(item.Number()) + " to " + item.Where() +
                               " idle: closed");
      item.CloseSocket();
    }
  }
  for (int i = static_cast<int>(items_.size()) - 1; i >= 0; --i) {
    if (!items_[static_cast<std::size_t>(i)]->IsActive())
      RemoveItem(items_[static_cast<std::size_t>(i)].get());
  }
}

void TZelConnexionsListByMe::Animate() {
  if (animation_counter_ > 20) animation_counter_ = 0;
  if (animation_counter_ == 1) DeleteDeadItems();
  ++animation_counter_;
}

void TZelConnexionsListByMe::CloseAll() {
  std::lock_guard guard(Mutex());
  ConnectionStatus* status = CurrentConnectionStatus();
  try {
    if (status != nullptr && !items_.empty()) status->ShowClosing();
    for (int n = static_cast<int>(items_.size()); n >= 1; --n) {
      const std::string line = "Fermeture connexion sortante N°:"_w + std::to_string(n);
      if (status != nullptr) status->StatusLine(line);
      DiagnosticLog("net", line);
      SleepMs(static_cast<std::uint32_t>(list_timings_.close_pause_ms));
      RemoveItem(items_.back().get());
    }
  } catch (...) {
    HandleException();
  }
  if (status != nullptr) status->CloseClosing();
}

int TZelConnexionsListByMe::Count() const {
  std::lock_guard guard(Mutex());
  return static_cast<int>(items_.size());
}

TZelConnexionByMeItem* TZelConnexionsListByMe::ItemAt(int index) const {
  std::lock_guard guard(Mutex());
  if (index < 0 || index >= static_cast<int>(items_.size())) return nullptr;
  return items_[static_cast<std::size_t>(index)].get();
}

bool TZelConnexionsListByMe::ServerConnected() const {
  std::lock_guard guard(Mutex());
  const Guid server = ServerUserId();
  return std::any_of(items_.begin(), items_.end(), [&](const auto& item) {
    return item->TargetId() == server && item->IsActive() && item->EndReason().empty();
  });
}

ConnexionProgress TZelConnexionsListByMe::Progress(const std::string& object_id) const {
  ConnexionProgress progress;
  std::unique_lock guard(Mutex(), std::try_to_lock);
  if (!guard.owns_lock()) return progress;
  if (!object_id.empty()) {
    for (const auto& item : items_) {
      if (item->CurrentId() == object_id) {
        progress.found = true;
        progress.size = item->CurrentSize();
        progress.position = item->CurrentPosition();
        progress.percent = item->CurrentPercent();
        break;
      }
    }
    return progress;
  }
  std::vector<ItemProgress> counters;
  for (const auto& item : items_)
    counters.push_back({item->Done(), item->Total(), item->Percent()});
  return SumProgress(counters);
}

bool TZelConnexionsListByMe::Stop() {
  CloseAll();
  TZelObject::Stop();
  return true;
}

}  // namespace quorvane
