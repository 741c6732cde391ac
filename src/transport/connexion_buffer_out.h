// TZelConnexionBufferOut: the outgoing side of a connection. SendObject turns an
// object into one frame file (announced by a "HeaderInfo" frame when large) and
// queues it for the send thread, all under the buffer lock, so announcement and
// object frames stay next to each other and no half-written frame is ever taken.
#pragma once

#include <memory>
#include <string>

#include "objects/answers.h"
#include "transport/connexion_buffer.h"

namespace quorvane {

// Payloads of this size and more are announced by a "HeaderInfo" frame first.
inline constexpr std::int64_t kAnnouncementThreshold = 5000;

class TZelConnexionBufferOut : public TZelConnexionBuffer {
 public:
  explicit TZelConnexionBufferOut(TZelObject* owner);
  TZelConnexionBufferOut(TZelObject* owner, FrameFolders folders);
  ~TZelConnexionBufferOut() override;

  static const ClassInfo& StaticClass();

  // Callable from any thread; the object stays the caller's. Errors go to
  // HandleException: nothing of a failed object stays queued.
  void SendObject(TZelObject& object);

 private:
  // The queued announcement frame, or null when none was needed or it failed.
  TxTrame* SendHeaderInfo(const TZelObject& object, std::int64_t payload_size);
  bool WriteHeader(TxTrame* frame, std::int64_t payload_size);
  bool WriteTrailer(TxTrame* frame, bool compressed, char kind);
  // Writes header, payload and trailer and queues the frame; on failure removes it.
  bool WriteFrame(TxTrame* frame, const std::string& payload, bool compressed);
  void SendPrepared(const std::string& name);
  void CompressPayload(std::string& bytes, std::uint8_t level);

  std::unique_ptr<TZelSObjectAnswer> announcement_;  // reused for every announcement
};

}  // namespace quorvane
