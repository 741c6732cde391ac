#include "net/connexion_manager.h"

#include <algorithm>
#include <filesystem>
#include <limits>

#include "objects/protocol.h"
#include "util/diagnostic_log.h"
#include "util/program_folder.h"

namespace quorvane {
namespace {

std::int32_t Clamp32(std::int64_t value) {
  return static_cast<std::int32_t>(
      std::clamp<std::int64_t>(value, 0, std::numeric_limits<std::int32_t>::max()));
}

// Creates the folder when missing and deletes the plain, visible files in it.
void CleanFolder(const std::string& relative) {
  namespace fs = std::filesystem;
  const fs::path folder = NativePath(relative);
  std::error_code error;
  fs::create_directories(folder, error);
  if (error) {
    DiagnosticLog("net",
                  "cannot create " + NativePathText(folder.string()) + ": " + error.message());
    return;
  }
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    std::error_code kind_error;
    if (name.empty() || name.front() == '.' || !it->is_regular_file(kind_error)) continue;
    std::error_code remove_error;
    if (!fs::remove(it->path(), remove_error) && remove_error)
      DiagnosticLog("net", "cannot delete frame file " + NativePathText(it->path().string()) +
                               ": " + remove_error.message());
  }
}

}  // namespace

const ClassInfo& TZelConnexionsManagerByMe::StaticClass() {
  static const ClassInfo info =
      MakeClassInfo("TZelConnexionsManagerByMe", &TZelObject::StaticClass(), {});
  return info;
}

TZelConnexionsManagerByMe::TZelConnexionsManagerByMe(TZelObject* parent)
    : TZelObject(parent, StaticClass()) {
  SetName("ByMe");
  SetTypeId(kTypeIdConnexionManager);
  SetNotPersistent();
  develop_ = IsDevelopMode();
  folders_ = FrameFolders::Default();
  CleanFrameFolders();
  list_ = std::make_unique<TZelConnexionsListByMe>(this);
}

TZelConnexionsManagerByMe::~TZelConnexionsManagerByMe() {
  list_.reset();
  CleanFrameFolders();
}

bool TZelConnexionsManagerByMe::Open() {
  const bool result = TZelObject::Open();
  list_->Open();
  return result;
}

bool TZelConnexionsManagerByMe::Close() {
  list_->Close();
  TZelObject::Close();
  return true;
}

bool TZelConnexionsManagerByMe::Start() {
  const bool result = TZelObject::Start();
  list_->Start();
  SendCustomerInformation();
  return result;
}

bool TZelConnexionsManagerByMe::Stop() {
  list_->Stop();
  TZelObject::Stop();
  return true;
}

bool TZelConnexionsManagerByMe::SendInstallRequest(TSOFilesList* files) {
  if (!list_ || files == nullptr) return false;
  return list_->SendFileList(*files);
}

void TZelConnexionsManagerByMe::SendCustomerInformation() {
  // Serialized when queued, so it is freed at once rather than kept for the run.
  auto files = std::make_unique<TSOFilesList>(this);
  files->xWhat = std::string(protocol::kCustomerInformation);
  files->SetUserFrom(false);
  files->SetWhoFrom(this);
  files->SetWhoServerTo(protocol::kServerInstallReceiver);
  files->SetUsersTo(protocol::kServerUserNumber);
  files->SetWhoTo(protocol::kServerInstallReceiver);
  if (!SendInstallRequest(files.get()))
    DiagnosticLog("net", "\"" + std::string(protocol::kCustomerInformation) +
                             "\" not sent: no server connection");
}

void TZelConnexionsManagerByMe::SetReceiveProgress(std::int64_t position, std::int64_t size) {
  current_object_size_.store(Clamp32(size));
  current_object_received_.store(Clamp32(position));
}

ConnexionProgress TZelConnexionsManagerByMe::Progress(const std::string& object_id) const {
  return list_->Progress(object_id);
}

void TZelConnexionsManagerByMe::CleanFrameFolders() {
  try {
    CleanFolder(folders_.frames);
    CleanFolder(folders_.prepared);
  } catch (const std::exception& error) {
    DiagnosticLog("net", std::string("cleaning the frame folders failed: ") + error.what());
  }
}

void TZelConnexionsManagerByMe::LoadSettings() {
  ConnectionSettings settings;
  LoadConnectionSettings(settings);
  host_ = settings.host;
  server_port_ = settings.server_port;
  install_port_ = settings.install_port;
  socks_.Version =
      static_cast<TxTypeOfProxy>(std::min<int>(settings.proxy_version, toprx_Sockets5));
  socks_.Authentication = static_cast<TxSocksAuthentication>(
      std::min<int>(settings.proxy_authentication, saxUsernamePassword));
  socks_.Port = settings.proxy_port;
  socks_.Address = settings.proxy_address;
  socks_.UserID = settings.proxy_user_id;
  socks_.Password = settings.proxy_password;
}

void TZelConnexionsManagerByMe::SetFrameFolders(FrameFolders folders) {
  folders_ = std::move(folders);
  list_->SetFolders(folders_);
  CleanFrameFolders();
}

void TZelConnexionsManagerByMe::SetDeliveryTarget(IncomingObjectTarget* target) {
  list_->SetDeliveryTarget(target);
}

void TZelConnexionsManagerByMe::SetConnector(SocketConnector connector) {
  list_->SetConnector(std::move(connector));
}

void TZelConnexionsManagerByMe::SetTimings(const ConnexionTimings& timings) {
  list_->SetTimings(timings);
}

void TZelConnexionsManagerByMe::SetListTimings(const ListTimings& timings) {
  list_->SetListTimings(timings);
}

}  // namespace quorvane
