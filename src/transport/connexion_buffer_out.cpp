#include "transport/connexion_buffer_out.h"

#include <filesystem>
#include <stdexcept>

#include "model/object_stream.h"
#include "objects/answers.h"
#include "objects/protocol.h"
#include "transport/bzip_block.h"
#include "transport/frame_format.h"
#include "util/codec.h"
#include "util/program_folder.h"

namespace quorvane {
namespace {

constexpr std::uint8_t kAnnouncementLevel = 1;

}  // namespace

const ClassInfo& TZelConnexionBufferOut::StaticClass() {
  static const ClassInfo info =
      MakeClassInfo("TZelConnexionBufferOut", &TZelConnexionBuffer::StaticClass(), {});
  return info;
}

TZelConnexionBufferOut::TZelConnexionBufferOut(TZelObject* owner)
    : TZelConnexionBufferOut(owner, FrameFolders()) {}

TZelConnexionBufferOut::TZelConnexionBufferOut(TZelObject* owner, FrameFolders folders)
    : TZelConnexionBuffer(owner, StaticClass(), std::move(folders)),
      announcement_(std::make_unique<TZelSObjectAnswer>(nullptr)) {
  announcement_->ZelWhat = protocol::kHeaderInfo;
  SetName(Name() + "Out");
  SetAuthenticated(true);
}

TZelConnexionBufferOut::~TZelConnexionBufferOut() {
  std::lock_guard guard(Mutex());
  announcement_.reset();
}

void TZelConnexionBufferOut::CompressPayload(std::string& bytes, std::uint8_t level) {
  if (ObjectFileStore* transfer = DataTransfer())
    transfer->Compress(bytes, level);
  else
    bytes = CompressBlock(bytes.data(), bytes.size(), level);
}

bool TZelConnexionBufferOut::WriteHeader(TxTrame* frame, std::int64_t payload_size) {
  const std::string header = FrameHeader(payload_size);
  return WriteToFrame(frame, header.data(), header.size());
}

bool TZelConnexionBufferOut::WriteTrailer(TxTrame* frame, bool compressed, char kind) {
  const std::string trailer = FrameTrailer(kind, compressed);
  return WriteToFrame(frame, trailer.data(), trailer.size());
}

bool TZelConnexionBufferOut::WriteFrame(TxTrame* frame, const std::string& payload,
                                        bool compressed) {
  const bool written = WriteHeader(frame, static_cast<std::int64_t>(payload.size())) &&
                       WriteToFrame(frame, payload.data(), payload.size()) &&
                       WriteTrailer(frame, compressed, kKindObject) && Enqueue(frame);
  // The send thread cannot have seen the frame: we still hold the lock.
  if (!written) RemoveFrame(frame);
  return written;
}

void TZelConnexionBufferOut::SendObject(TZelObject& object) {
  using namespace literals;
  std::lock_guard guard(Mutex());
  const std::int64_t total_before = Total();
  TxTrame* announcement = nullptr;
  try {
    const auto* answer = dynamic_cast<const TZelSObjectAnswer*>(&object);
    if (answer != nullptr && answer->TypeCode() == tvo_Answer &&
        answer->ZelWhat == protocol::kFastFrame) {
      if (answer->ZelItems->Count() == 0)
        throw std::invalid_argument("FastTrame sans nom de fichier");
      SendPrepared(answer->ZelItems->Lines().front());
      return;
    }
    Trace("ZelSend Begin");
    std::string payload = ObjectToStream(object);
    const std::uint8_t level = object.SendCompressionLevel();
    const bool compressed = level != 0;
    if (compressed) CompressPayload(payload, level);
    const auto size = static_cast<std::int64_t>(payload.size());
    FrameHeader(size);  // refuses a length beyond the signed 32-bit range before anything is queued
    announcement = SendHeaderInfo(object, size);
    TxTrame* frame = NewFrame(std::string(), &object);
    if (frame != nullptr && !WriteFrame(frame, payload, compressed))
      throw std::runtime_error("Erreur d'écriture de la trame"_w);
    Trace("ZelSend End");
  } catch (...) {
    // Nothing of this object may stay queued: a frame without its bytes would
    // break the stream, and an announcement without its object would mislabel it.
    if (announcement != nullptr) RemoveFrame(announcement);
    SetTotal(total_before);
    HandleException();
  }
}

TxTrame* TZelConnexionBufferOut::SendHeaderInfo(const TZelObject& object,
                                                std::int64_t payload_size) {
  if (payload_size < kAnnouncementThreshold) return nullptr;
  TxTrame* frame = nullptr;
  try {
    announcement_->ZelItems->Clear();
    announcement_->AddItem(protocol::kItemId, object.GetId());
    announcement_->AddItem(protocol::kItemCaption, object.Caption());
    std::string payload = ObjectToStream(*announcement_);
    CompressPayload(payload, kAnnouncementLevel);
    frame = NewFrame(std::string(), nullptr);
    if (frame == nullptr || !WriteFrame(frame, payload, true)) return nullptr;
    return frame;
  } catch (...) {
    HandleException();
    return nullptr;
  }
}

void TZelConnexionBufferOut::SendPrepared(const std::string& name) {
  using namespace literals;
  const std::string folder = Folders().prepared + "\\";
  if (!std::filesystem::is_regular_file(NativePath(folder + name)))
    throw std::runtime_error("Fichier trame préparée introuvable : "_w + name);
  if (std::filesystem::is_regular_file(NativePath(folder + "Header" + name)))
    EnqueuePrepared("Header" + name);
  EnqueuePrepared(name);
}

}  // namespace quorvane
