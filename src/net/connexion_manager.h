// TZelConnexionsManagerByMe: the root of the network side of the installer. It
// holds the connection settings (settings 4 to 12), the two receive-progress
// counters, the flags set from the command line, and owns the connection list.
// Creating and destroying it empties the frame folders "DB\TRM" and "DB\TRM\FST".
// Thread rules: used on the main thread; the receive threads write the two
// progress counters (atomics) and the exchange reads them.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "model/zel_object.h"
#include "net/connexion_item.h"
#include "net/connexion_list.h"
#include "objects/files.h"
#include "objects/socks_info.h"
#include "settings/settings.h"

namespace quorvane {

inline constexpr std::string_view kTypeIdConnexionManager =
    "{10000000-0000-0000-0000-100000000011}";

class TZelConnexionsManagerByMe : public TZelObject, public ReceiveProgressSink {
 public:
  explicit TZelConnexionsManagerByMe(TZelObject* parent = nullptr);
  ~TZelConnexionsManagerByMe() override;

  static const ClassInfo& StaticClass();

  // Lifecycle: Open (manager, then list), Start (list, then one "CustomerInformation"
  // file list, which opens the server connection), Stop (every connection closed,
  // one by one), Close.
  bool Open() override;
  bool Close() override;
  bool Start() override;
  bool Stop() override;

  // Queues the file list on the server connection, opening it when needed. The file
  // list stays the caller's (it is serialized before this returns). False when no
  // connection could be found or opened.
  bool SendInstallRequest(TSOFilesList* files);
  void SendCustomerInformation();

  // The object being received on any connection: written after every read.
  void SetReceiveProgress(std::int64_t position, std::int64_t size) override;
  std::int32_t CurrentObjectSize() const { return current_object_size_.load(); }
  std::int32_t CurrentObjectReceived() const { return current_object_received_.load(); }

  ConnexionProgress Progress(const std::string& object_id) const;

  // Creates the two frame folders ("DB\TRM" and "DB\TRM\FST" of the program folder
  // unless given) when missing and deletes the plain files in them; failures are
  // logged, never raised.
  void CleanFrameFolders();
  // Moves the frame files of every later connection to `folders` and cleans them.
  void SetFrameFolders(FrameFolders folders);
  // Where every later connection delivers its objects with their memory charges
  // (the incoming stack); without it they go uncharged to the stack link.
  void SetDeliveryTarget(IncomingObjectTarget* target);
  // Whether the connection to the server is open and both its threads still run.
  bool ServerConnected() const { return list_->ServerConnected(); }
  const FrameFolders& Folders() const { return folders_; }
  // Reads settings 4 to 12 (with their defaults) into the fields below.
  void LoadSettings();

  // Connection settings as last loaded.
  const std::string& Host() const { return host_; }
  std::int32_t ServerPort() const { return server_port_; }
  std::int32_t InstallPort() const { return install_port_; }
  const TxSocksInfo& Socks() const { return socks_; }

  // Flags set by the installation run from the command line.
  bool Develop() const { return develop_; }
  void SetDevelop(bool develop) { develop_ = develop; }
  bool Hidden() const { return hidden_; }
  void SetHidden(bool hidden) { hidden_ = hidden; }
  std::int32_t TargetNumber() const { return target_number_; }
  void SetTargetNumber(std::int32_t number) { target_number_ = number; }
  std::int32_t ScanCount() const { return scan_count_; }
  void SetScanCount(std::int32_t count) { scan_count_ = count; }
  bool ForceTcp() const { return force_tcp_; }
  void SetForceTcp(bool force) { force_tcp_ = force; }

  TZelConnexionsListByMe& List() { return *list_; }

  // How connections are opened and their time limits (tests give in-memory
  // connectors and short limits); passed to every new connection.
  void SetConnector(SocketConnector connector);
  void SetTimings(const ConnexionTimings& timings);
  void SetListTimings(const ListTimings& timings);

 private:
  std::int32_t server_port_ = 0;
  std::int32_t install_port_ = 0;
  std::string host_;
  TxSocksInfo socks_;
  std::int32_t scan_count_ = 3;
  bool force_tcp_ = false;
  std::atomic<std::int32_t> current_object_size_{0};
  std::atomic<std::int32_t> current_object_received_{0};
  bool develop_ = false;
  bool hidden_ = false;
  std::int32_t target_number_ = -1;
  FrameFolders folders_;
  std::unique_ptr<TZelConnexionsListByMe> list_;
};

}  // namespace quorvane
