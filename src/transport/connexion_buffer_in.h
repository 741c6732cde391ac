// TZelConnexionBufferIn: the incoming side of a connection. Receive pours socket bytes
// in (payloads go straight into frame files), DeliverReady decodes complete frames and
// pushes the objects onto the incoming stack; the control answers "HeaderInfo" and
// "Atfctn" are consumed here. Receive and DeliverReady run on the receive thread and
// take the buffer lock; the authentication calls may come from any thread.
#pragma once

#include <cstdint>
#include <mutex>

#include "transport/connexion_buffer.h"
#include "transport/frame_reassembler.h"
#include "util/guid.h"

namespace quorvane {

inline constexpr std::uint32_t kAuthenticationWaitMs = 10'000;

class TZelConnexionBufferIn : public TZelConnexionBuffer, private FrameSink {
 public:
  // After a bad header almost every later delivery is bad too; only this many dumps
  // are written per buffer so a broken peer cannot fill the disk.
  static constexpr std::int32_t kMaxBadFrameDumps = 4;

  explicit TZelConnexionBufferIn(TZelObject* owner);
  ~TZelConnexionBufferIn() override;

  static const ClassInfo& StaticClass();

  // Adds one delivery to the reassembly. The bytes are only read: unlike the socket
  // block contract of old, kept bytes are joined in a buffer of the reassembler.
  void Receive(const std::uint8_t* block, int count);
  // Decodes every ready frame in order. A frame whose decoding fails is reported
  // and dropped, so the frames behind it are still delivered.
  void DeliverReady();
  void Dispatch(TxTrame* frame);

  bool WaitForAuthentication(std::uint32_t timeout_ms = kAuthenticationWaitMs);
  bool IsAuthenticatedAs(const Guid& id, std::uint32_t timeout_ms = kAuthenticationWaitMs);
  Guid PeerId() const;

 private:
  bool BeginFrame(std::int64_t expected) override;
  bool WritePayload(const std::uint8_t* bytes, std::size_t n) override;
  void PayloadProgress(std::int64_t have, std::int64_t expected) override;
  void EndFrame(const FrameTrailerFields& trailer, bool failed) override;
  void BadHeader(const std::uint8_t* bytes, std::size_t n) override;

  void DispatchObject(std::string& stream);

  FrameReassembler reassembler_;
  TxTrame* current_ = nullptr;
  mutable std::mutex peer_mutex_;
  Guid peer_id_;
  std::unique_ptr<TZelFlagEvent> authentication_;
};

}  // namespace quorvane
