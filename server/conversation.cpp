#include "conversation.h"

#include "objects/answers.h"
#include "objects/customer.h"
#include "objects/enums.h"
#include "objects/files.h"
#include "objects/protocol.h"
#include "server_log.h"
#include "util/codec.h"
#include "wire.h"

namespace quorvane::server {
namespace {

constexpr std::size_t kPrefetch = 2;  // files prepared ahead of the one being sent

std::string FirstLine(const std::string& text) {
  const std::size_t end = text.find_first_of("\r\n");
  return end == std::string::npos ? text : text.substr(0, end);
}

}  // namespace

Conversation::Conversation(const ConversationScript& script, std::string package_name,
                           ConversationHost& host)
    : script_(script), package_name_(std::move(package_name)), host_(host) {
  steps_.push_back({script_.greeting, -1});
}

std::string Conversation::Receive(std::unique_ptr<TZelObject> object) {
  switch (object->TypeCode()) {
    case tvo_Answer: {
      auto* answer = dynamic_cast<TZelSObjectAnswer*>(object.get());
      if (answer == nullptr) break;
      if (answer->ZelWhat == protocol::kAuthentication) {
        host_.Log("identified: installer " +
                  LogSafe(answer->ZelItems->Value(protocol::kItemId), 40));
        return {};
      }
      if (answer->ZelWhat == protocol::kHeaderInfo) return {};
      return "answer \"" + LogSafe(answer->ZelWhat, 60) + "\"";
    }
    case tvo_CustomerIdentification:
      host_.Log("identified: customer \"" + LogSafe(object->Caption(), 120) + "\" " +
                object->GetId());
      return {};
    case tvo_FilesList: {
      std::unique_ptr<TSOFilesList> list(dynamic_cast<TSOFilesList*>(object.get()));
      if (!list) break;
      object.release();
      const std::string word = FirstLine(list->xWhat);
      if (word == protocol::kWantInstall || word == protocol::kWantInstallEnglish) {
        if (installing_) {
          host_.Log("asked " + word + " again: ignored");
          return {};
        }
        installing_ = true;
        host_.Log("asked " + word + " with an inventory of " +
                  std::to_string(list->xFileNames->Count()) + " files");
        host_.Plan(std::move(list));
        return {};
      }
      if (word == protocol::kCustomerInformation) {
        host_.Log("customer information received");
        return {};
      }
      return "request \"" + LogSafe(word, 60) + "\"";
    }
    default:
      break;
  }
  return "an object of class " + LogSafe(object->Class().name, 60);
}

void Conversation::Planned(InstallPlan plan, std::shared_ptr<const std::string> manifest) {
  plan_ = std::move(plan);
  planned_ = true;
  host_.Log("installing: " + std::to_string(plan_.files.size()) + " of " +
            std::to_string(plan_.package_files) + " files to send, " + std::to_string(plan_.bytes) +
            " bytes");
  if (manifest) steps_.push_back({std::move(manifest), -1});
  steps_.push_back({std::make_shared<const std::string>(AnswerFrames(
                        protocol::kInstallBegin,
                        {Utf8ToCp1252(package_name_), std::to_string(plan_.files.size()),
                         std::to_string(plan_.bytes)})),
                    -1});
  InstallPhase phase = InstallPhase::kDatabase;
  for (std::size_t i = 0; i <= plan_.files.size(); ++i) {
    const InstallPhase next =
        i < plan_.files.size() ? plan_.files[i].phase : InstallPhase::kTopLevel;
    while (phase < next || (i == plan_.files.size() && phase < InstallPhase::kTopLevel)) {
      phase = static_cast<InstallPhase>(static_cast<int>(phase) + 1);
      steps_.push_back({phase == InstallPhase::kSubFolders ? script_.phase2 : script_.phase3, -1});
    }
    if (i < plan_.files.size()) steps_.push_back({nullptr, static_cast<int>(i)});
  }
  steps_.push_back({script_.end, -1});
  Prefetch();
}

void Conversation::Prepared(int index, std::shared_ptr<const PreparedFrames> frames) {
  prepared_[index] = std::move(frames);
}

void Conversation::Failed(int index, const std::string& error) {
  if (retried_.insert(index).second && host_.Refresh(plan_.files[index])) {
    // Changed since the scan: once more with its present size and time.
    host_.Acquire(index, plan_.files[index]);
    return;
  }
  failed_[index] = error;
}

void Conversation::Prefetch() {
  while (next_fetch_ < plan_.files.size() &&
         next_fetch_ < static_cast<std::size_t>(files_passed_) + kPrefetch) {
    const int index = static_cast<int>(next_fetch_++);
    host_.Acquire(index, plan_.files[index]);
  }
}

std::optional<Piece> Conversation::Next() {
  if (next_step_ >= steps_.size()) return std::nullopt;
  const Step& step = steps_[next_step_];
  if (step.frames) {
    ++next_step_;
    return Piece{step.frames, {}, static_cast<std::int64_t>(step.frames->size()), {}};
  }
  const PackageFile& file = plan_.files[step.file];
  if (auto failed = failed_.find(step.file); failed != failed_.end()) {
    // Ending without "Fin" lets the installer see the installation is not
    // complete; it asks again and the comparison sends what is missing.
    host_.EndConnection("could not send " + LogSafe(file.folder + file.name) + ": " +
                        failed->second + "; ended without \"" + std::string(protocol::kInstallEnd) +
                        "\"");
    return std::nullopt;
  }
  auto ready = prepared_.find(step.file);
  if (ready == prepared_.end()) return std::nullopt;  // still being prepared
  const std::shared_ptr<const PreparedFrames> frames = std::move(ready->second);
  prepared_.erase(ready);
  ++next_step_;
  ++files_passed_;
  ++files_sent_;
  file_bytes_sent_ += frames->file_size;
  Prefetch();
  return Piece{frames->memory, frames->memory ? nullptr : frames->stored, frames->size,
               file.folder + file.name};
}

}  // namespace quorvane::server
