#include "app/installation_exchange.h"

#include <charconv>
#include <vector>

#include "app/received_files.h"
#include "objects/answers.h"
#include "objects/files.h"
#include "objects/protocol.h"
#include "settings/settings.h"
#include "util/codec.h"
#include "util/diagnostic_log.h"
#include "util/text.h"
#include "util/tick.h"

namespace quorvane {
namespace {

constexpr std::string_view kLogLayer = "exchange";
constexpr const char* kPlainCaption = "Quorvane installation";

}  // namespace

struct InstallationExchange::PendingFiles {
  std::vector<std::unique_ptr<TSOFile>> files;
  // The files' memory in their connection's budget, given back once written, so
  // the next large object is not decoded while this one is still in memory.
  std::vector<MemoryCharge> charges;
  std::size_t bytes = 0;
};

std::uint64_t AnswerCount(const TZelSObjectAnswer& answer, std::size_t line) {
  const auto& lines = answer.ZelItems->Lines();
  if (line >= lines.size()) return 0;
  const std::string text = Trim(lines[line]);
  std::int64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < 0) return 0;
  return static_cast<std::uint64_t>(value);
}

InstallationExchange::InstallationExchange(InstallSessionLink& link, InstallationUi& ui,
                                           ExchangeLimits limits)
    : link_(link), ui_(ui), limits_(limits) {}

bool InstallationExchange::SendInstallRequest() {
  if (!facts_set_) {
    facts_ = CollectMachineFacts();
    facts_set_ = true;
  }
  std::unique_ptr<TSOFilesList> request = BuildInstallRequest(link_.RequestParent(), facts_);
  if (verifier_) verifier_->LeaveOutOfInventory(*request);
  DiagnosticLog(kLogLayer, "request " + request->xWhat.substr(0, request->xWhat.find('\n')) +
                               " with " + std::to_string(request->xFileNames->Count()) +
                               " files in the inventory");
  const bool sent = link_.SendInstallRequest(std::move(request));
  if (!sent) DiagnosticLog(kLogLayer, "no connection to the server for the request");
  return sent;
}

bool InstallationExchange::RunInstallSession() {
  outcome_ = {};
  verifier_ = PackageVerifier::FromSite();
  if (verifier_) verifier_->CheckInstalledFiles();
  WindowRef connecting = ui_.ShowConnectingWindow();
  if (!SendInstallRequest()) {
    ui_.CloseConnectingWindow(connecting);
    outcome_.failure = "server not found";
    ui_.ShowMessageDialog(kColourButtonFace, "Server not found", "check your internet connexion.");
    return false;
  }
  const bool finished = ReceiveInstallation(connecting);
  ui_.CloseConnectingWindow(connecting);
  if (RefusedAsUnsigned()) return false;
  if (!finished) {
    DiagnosticLog(kLogLayer, "installation not finished: " + outcome_.failure);
    ui_.ShowMessageDialog(kColourButtonFace, "Serveur don't answer", "Try again in few minutes.");
    return false;
  }
  if (outcome_.files_received < files_expected_) {
    // The server announced more than arrived: an object was lost on the way.
    const std::string text = std::to_string(outcome_.files_received) + " of " +
                             std::to_string(files_expected_) + " files arrived.";
    DiagnosticLog(kLogLayer, "installation incomplete: " + text);
    if (outcome_.first_not_written.empty()) outcome_.first_not_written = text;
    ui_.ShowMessageDialog(kColourButtonFace, "Installation incomplete", text);
    return false;
  }
  if (outcome_.files_not_written > 0) {
    DiagnosticLog(kLogLayer,
                  "installation incomplete: " + std::to_string(outcome_.files_not_written) +
                      " files not written, first " + outcome_.first_not_written);
    ui_.ShowMessageDialog(
        kColourButtonFace, "Installation incomplete",
        std::to_string(outcome_.files_not_written) +
            " file(s) could not be written. First: " + outcome_.first_not_written);
    return false;
  }
  DiagnosticLog(kLogLayer, "installation finished: " + std::to_string(outcome_.files_written) +
                               " files written");
  return true;
}

bool InstallationExchange::RefusedAsUnsigned() {
  using namespace literals;
  if (!verifier_) return false;
  verifier_->Save();
  if (verifier_->Verified()) return false;
  outcome_.updater_written = false;
  if (!outcome_.finished) return false;  // the silence is reported as such
  DiagnosticLog(kLogLayer, "installation refused: the package is not signed by its vendor");
  ui_.ShowMessageDialog(
      kColourButtonFace, kPlainCaption,
      IsEnglish() ? "Installation refused: the package is not signed by its vendor."
                  : "Installation refusée : le paquet n'est pas signé par son éditeur."_w);
  return true;
}

void InstallationExchange::ShowOverallProgress() {
  ui_.UpdateDownloadProgress(download_, bytes_expected_, outcome_.bytes_received, files_expected_,
                             outcome_.files_received);
}

void InstallationExchange::CountFile(const TSOFile& file, bool written,
                                     const std::string& failure) {
  const bool updater =
      file.xRelativePath.empty() && SameText(file.xFileName, protocol::kDeliveredUpdater);
  if (written) {
    ++outcome_.files_written;
    if (updater) outcome_.updater_written = true;
  } else {
    if (outcome_.files_not_written++ == 0) outcome_.first_not_written = failure;
    if (updater) outcome_.updater_written = false;
  }
  // Counted whether written or not, as the server counted it.
  ++outcome_.files_received;
  outcome_.bytes_received += static_cast<std::uint64_t>(std::max(file.xFileSize, 0));
}

void InstallationExchange::FlushFiles(PendingFiles& pending) {
  if (pending.files.empty()) return;
  std::vector<TSOFile*> files;
  files.reserve(pending.files.size());
  for (const auto& file : pending.files)
    files.push_back(file.get());
  ReceivedFileHooks hooks;
  // A file's memory goes back to its connection once its bytes are in their
  // temporary file: the next object is decoded while the batch is flushed.
  hooks.released = [&pending](std::size_t i) { pending.charges[i].Reset(); };
  if (verifier_) {
    hooks.before_write = [&](std::size_t i) { verifier_->StartDigest(*pending.files[i]); };
    hooks.verdict = [&](std::size_t i) { return verifier_->DigestVerdict(*pending.files[i]); };
  }
  const std::vector<ReceivedFileResult> results = WriteReceivedFiles(files, hooks);
  for (std::size_t i = 0; i < results.size(); ++i) {
    CountFile(*pending.files[i], results[i].status.ok(), results[i].status.ToString());
    if (verifier_ && results[i].status.ok()) verifier_->FileWritten(*pending.files[i]);
  }
  pending.files.clear();
  pending.charges.clear();
  pending.bytes = 0;
  ShowOverallProgress();
}

bool InstallationExchange::HandleAnswer(const TZelSObjectAnswer& answer, WindowRef& connecting) {
  const std::string& word = answer.ZelWhat;
  if (word == protocol::kInstallEndMessage) {
    const auto& lines = answer.ZelItems->Lines();
    DiagnosticLog(kLogLayer, "FinMessage");
    ui_.ShowMessageDialog(kColourButtonFace, kPlainCaption, lines.empty() ? "" : lines[0]);
    outcome_.finished = true;
    return false;
  }
  if (word == protocol::kInstallEnd) {
    DiagnosticLog(kLogLayer, "Fin");
    outcome_.finished = true;
    return false;
  }
  if (word == protocol::kInstallBegin) {
    const std::uint64_t files = AnswerCount(answer, 1);
    const std::uint64_t bytes = AnswerCount(answer, 2);
    DiagnosticLog(kLogLayer, "DebutInstall: " + std::to_string(files) + " files, " +
                                 std::to_string(bytes) + " bytes");
    files_expected_ = files_before_restart_ + files;
    bytes_expected_ = bytes_before_restart_ + bytes;
    if (download_ == kNoWindow) {
      ui_.CloseConnectingWindow(connecting);
      download_ = ui_.OpenDownloadWindow(link_.Hidden());
    }
    ShowOverallProgress();
    return true;
  }
  if (word == protocol::kPackageManifest && verifier_) {
    verifier_->AcceptManifest(answer.ZelItems->Lines());
    return true;
  }
  if (word == protocol::kPhase2 || word == protocol::kPhase3) {
    DiagnosticLog(kLogLayer, word);
    ui_.SetDownloadPhase(download_, word == protocol::kPhase2 ? 2 : 3);
    return true;
  }
  DiagnosticLog(kLogLayer, "answer \"" + word.substr(0, 40) + "\" ignored");
  return true;
}

bool InstallationExchange::Reconnect() {
  while (outcome_.reconnects < limits_.reconnects) {
    ++outcome_.reconnects;
    DiagnosticLog(kLogLayer, "connection closed before the end; new request, attempt " +
                                 std::to_string(outcome_.reconnects));
    const std::uint32_t start = TickCount();
    while (TickCount() - start < limits_.reconnect_delay_ms) {
      ui_.ProcessMessages();
      SleepMs(std::min<std::uint32_t>(limits_.poll_ms, limits_.reconnect_delay_ms));
    }
    files_before_restart_ = outcome_.files_received;
    bytes_before_restart_ = outcome_.bytes_received;
    // A new connection opens as the first did, so the server sees the same start.
    link_.SendCustomerInformation();
    if (SendInstallRequest()) return true;
  }
  outcome_.failure = "the connection to the server closed and could not be opened again";
  return false;
}

bool InstallationExchange::ReceiveInstallation(WindowRef& connecting) {
  link_.ClearReceiveProgress();
  files_expected_ = bytes_expected_ = 0;
  files_before_restart_ = bytes_before_restart_ = 0;
  std::uint32_t idle = 0;
  std::uint32_t last_progress = 0;
  bool running = true;
  PendingFiles pending;
  while (running && idle < limits_.idle_polls) {
    ++idle;
    // Read before the stack is emptied: a connection ends only after its last
    // objects were pushed, so a closed line seen here leaves nothing behind.
    const bool connected = link_.ServerConnected();
    // Every object already waiting, in order: files are written in batches, an
    // answer first writes the files that came before it.
    while (running) {
      MemoryCharge charge;
      std::unique_ptr<TZelObject> object = link_.PopIncoming(charge);
      if (!object) break;
      idle = 0;
      if (object->TypeCode() == tvo_xFile) {
        if (auto* file = dynamic_cast<TSOFile*>(object.get())) {
          if (const Status refused = verifier_ ? verifier_->CheckFile(*file) : Status::Ok();
              !refused.ok()) {
            CountFile(*file, false, refused.ToString());
            ShowOverallProgress();
            continue;  // never written: not even a temporary file holds it
          }
          pending.bytes += file->xData.size();
          object.release();
          pending.files.emplace_back(file);
          pending.charges.push_back(std::move(charge));
          if (pending.files.size() >= limits_.batch_files || pending.bytes >= limits_.batch_bytes)
            FlushFiles(pending);
        }
      } else if (object->TypeCode() == tvo_Answer) {
        if (const auto* answer = dynamic_cast<const TZelSObjectAnswer*>(object.get())) {
          FlushFiles(pending);
          running = HandleAnswer(*answer, connecting);
        }
      }
    }
    FlushFiles(pending);
    if (!running) break;
    // Bytes of the object now arriving are activity too, window or not, when
    // enough of them came: one byte every few seconds is no progress.
    const std::uint32_t received = link_.CurrentObjectReceived();
    if (received < last_progress) last_progress = received;  // another object began
    if (received - last_progress >= limits_.activity_bytes) {
      last_progress = received;
      idle = 0;
    }
    ui_.UpdateItemProgress(download_, link_.CurrentObjectSize(), received);
    if (!connected) {
      if (!Reconnect()) break;
      link_.ClearReceiveProgress();
      last_progress = 0;
      idle = 0;
    }
    ui_.ProcessMessages();
    link_.WaitForIncoming(limits_.poll_ms);
  }
  if (!outcome_.finished && outcome_.failure.empty())
    outcome_.failure = "no object and no byte for " + std::to_string(limits_.idle_polls) + " polls";
  ui_.CloseDownloadWindow(download_);
  return outcome_.finished;
}

}  // namespace quorvane
