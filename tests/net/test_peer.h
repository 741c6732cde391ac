// The far side of a connection in tests: it speaks the frame format over any
// ByteStream (a pipe end, an accepted loopback socket). A reader thread decodes
// what arrives into the peer's own incoming stack; Send encodes objects into frames
// exactly as a connection's outgoing buffer does. The "Atfctn" the client sends is
// consumed by the incoming buffer: In().IsAuthenticated() and In().PeerId() show it.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "net/byte_stream.h"
#include "objects/answers.h"
#include "objects/protocol.h"
#include "transport/connexion_buffer_in.h"
#include "transport/connexion_buffer_out.h"
#include "transport/objects_stack.h"
#include "util/tick.h"

namespace quorvane::testing {

class TestPeer {
 public:
  explicit TestPeer(std::unique_ptr<ByteStream> stream) : stream_(std::move(stream)) {
    stack_ = std::make_unique<TZelObjectsStackManagerIn>(nullptr);
    root_ = std::make_unique<TZelObject>(nullptr);
    root_->SetStackManager(stack_.get());
    in_ = std::make_unique<TZelConnexionBufferIn>(root_.get());
    out_ = std::make_unique<TZelConnexionBufferOut>(root_.get());
    reader_ = std::thread([this] { ReadLoop(); });
  }
  ~TestPeer() {
    closed_by_us_.store(true);
    paused_.store(false);
    stream_->Shutdown();
    if (reader_.joinable()) reader_.join();
  }
  TestPeer(const TestPeer&) = delete;
  TestPeer& operator=(const TestPeer&) = delete;

  // The frames of one object (with its "HeaderInfo" frame when large).
  std::string Encode(TZelObject& object) {
    out_->SendObject(object);
    std::string wire;
    for (;;) {
      Chunk chunk = out_->TakeChunkLocked(kMaxChunk);
      if (chunk.count <= 0) return wire;
      wire.append(chunk.block.get(), static_cast<std::size_t>(chunk.count));
    }
  }
  bool SendRaw(const std::string& bytes, int timeout_ms = 30'000) {
    return stream_->WriteAll(bytes.data(), bytes.size(), timeout_ms).status == IoStatus::kOk;
  }
  bool Send(TZelObject& object) { return SendRaw(Encode(object)); }
  // The server's own "Atfctn": its identifier in the MERXID item.
  bool Authenticate(std::string_view id_text) {
    TZelSObjectAnswer answer;
    answer.ZelWhat = std::string(protocol::kAuthentication);
    answer.AddItem(protocol::kItemId, id_text);
    return Send(answer);
  }

  // The next decoded object, or null after timeout_ms.
  std::unique_ptr<TZelObject> Pop(int timeout_ms = 10'000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
      if (auto object = stack_->Pop()) return object;
      if (std::chrono::steady_clock::now() >= deadline) return nullptr;
      SleepMs(2);
    }
  }
  // Whether the client side closed (the reader saw the end) within timeout_ms.
  bool WaitClosed(int timeout_ms = 10'000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!closed_.load()) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      SleepMs(2);
    }
    return true;
  }
  // The peer stops (or resumes) reading but keeps the connection open.
  void PauseReading(bool paused) { paused_.store(paused); }
  // The peer hangs up (both directions).
  void Close() {
    closed_by_us_.store(true);
    stream_->Shutdown();
  }

  TZelConnexionBufferIn& In() { return *in_; }
  TZelObjectsStackManagerIn& Stack() { return *stack_; }
  std::size_t BytesReceived() const { return received_.load(); }

 private:
  void ReadLoop() {
    std::string block(kMaxChunk, '\0');
    for (;;) {
      if (paused_.load()) {
        if (stream_->WaitReadable(0) && closed_by_us_.load()) break;
        SleepMs(2);
        continue;
      }
      const IoResult got = stream_->ReadSome(block.data(), block.size(), 200);
      if (got.status == IoStatus::kTimeout) continue;
      if (got.status != IoStatus::kOk) break;
      received_ += got.count;
      in_->Receive(reinterpret_cast<const std::uint8_t*>(block.data()),
                   static_cast<int>(got.count));
      in_->DeliverReady();
    }
    closed_.store(true);
  }

  std::unique_ptr<ByteStream> stream_;
  std::unique_ptr<TZelObjectsStackManagerIn> stack_;
  std::unique_ptr<TZelObject> root_;
  std::unique_ptr<TZelConnexionBufferIn> in_;
  std::unique_ptr<TZelConnexionBufferOut> out_;
  std::atomic<bool> closed_{false};
  std::atomic<bool> paused_{false};
  std::atomic<bool> closed_by_us_{false};
  std::atomic<std::size_t> received_{0};
  std::thread reader_;
};

}  // namespace quorvane::testing
