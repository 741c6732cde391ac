#include "session.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "model/object_stream.h"
#include "objects/files.h"
#include "objects/protocol.h"
#include "transport/bzip_block.h"

namespace quorvane::server {
namespace {

constexpr std::size_t kReadSize = 64 * 1024;
constexpr std::size_t kChunkSize = 256 * 1024;
constexpr int kMaxUnreadable = 8;  // unreadable, ignored or unused frames per connection
constexpr std::size_t kMaxFramesPerDelivery = 4096;
constexpr int kMaxObjects = 256;  // an installer sends four

std::string Seconds(std::chrono::steady_clock::duration d) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", std::chrono::duration<double>(d).count());
  return text;
}

}  // namespace

Session::Session(asio::ip::tcp::socket socket, SessionContext& context, std::uint64_t id,
                 std::string peer)
    : context_(context),
      id_(id),
      peer_(std::move(peer)),
      socket_(std::move(socket)),
      strand_(asio::make_strand(socket_.get_executor())),
      idle_timer_(strand_),
      read_buffer_(kReadSize),
      conversation_(context.script, context.catalogue->Root().filename().string(), *this) {}

Session::~Session() {
  ReleaseIncoming();
}

void Session::ReleaseIncoming() {
  Release(incoming_charged_);
}

void Session::Release(std::int64_t bytes) {
  bytes = std::min(bytes, incoming_charged_);
  if (bytes <= 0) return;
  context_.incoming_bytes -= bytes;
  incoming_charged_ -= bytes;
}

void Session::Log(const std::string& text) {
  context_.log->Line("#" + std::to_string(id_) + " " + peer_ + " " + text);
}

void Session::LogRepeated(const std::string& reason, const std::string& detail) {
  const std::string line = repeated_.Pass(reason, detail.empty() ? reason : reason + detail);
  if (!line.empty()) Log(line);
}

void Session::Start() {
  asio::post(strand_, [self = shared_from_this()] {
    self->Touch();
    self->WriteNext();  // the greeting
    self->ReadMore();
    self->ArmIdleTimer();
  });
}

void Session::Close(std::string why) {
  asio::post(strand_,
             [self = shared_from_this(), why = std::move(why)] { self->CloseOnStrand(why); });
}

void Session::CloseOnStrand(const std::string& why) {
  if (closed_) return;
  closed_ = true;
  idle_timer_.cancel();
  asio::error_code ignored;
  socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
  socket_.close(ignored);
  out_.reset();  // a write or read in flight keeps its own bytes
  received_.clear();
  ReleaseIncoming();
  for (const std::string& line : repeated_.Flush())
    Log(line);
  Log("closed: " + why + "; sent " + std::to_string(conversation_.FilesSent()) + " files, " +
      std::to_string(bytes_sent_) + " bytes");
  if (context_.on_closed) context_.on_closed(id_);
}

void Session::Touch() {
  last_activity_ = std::chrono::steady_clock::now();
}

void Session::ArmIdleTimer() {
  if (closed_) return;
  const auto limit = std::chrono::seconds(std::max(1, context_.options->idle_seconds));
  const auto request_limit = std::chrono::seconds(std::max(1, context_.options->request_seconds));
  // Wake for whichever comes first: silence, or the request's deadline.
  auto wake = last_activity_ + limit;
  if (!conversation_.Installing()) wake = std::min(wake, connected_ + request_limit);
  idle_timer_.expires_at(wake);
  idle_timer_.async_wait([self = shared_from_this(), limit,
                          request_limit](const asio::error_code& error) {
    if (error || self->closed_) return;
    const Conversation& conversation = self->conversation_;
    if (!conversation.Installing() &&
        std::chrono::steady_clock::now() >= self->connected_ + request_limit) {
      self->CloseOnStrand("no installation request within " +
                          std::to_string(request_limit.count()) + " s");
      return;
    }
    const bool waiting_on_us =
        self->pool_jobs_ > 0 ||
        (conversation.Installing() && !conversation.Finished() && !self->out_ && !self->writing_);
    if (waiting_on_us || std::chrono::steady_clock::now() < self->last_activity_ + limit) {
      if (waiting_on_us) self->Touch();
      self->ArmIdleTimer();
      return;
    }
    self->CloseOnStrand("idle for " + std::to_string(limit.count()) + " s");
  });
}

// --- reading -------------------------------------------------------------------------------

void Session::ReadMore() {
  if (closed_ || reading_) return;
  reading_ = true;
  socket_.async_read_some(
      asio::buffer(read_buffer_),
      asio::bind_executor(
          strand_, [self = shared_from_this()](const asio::error_code& error, std::size_t n) {
            self->reading_ = false;
            self->OnRead(error, n);
          }));
}

void Session::OnRead(const asio::error_code& error, std::size_t n) {
  if (closed_) return;
  if (error) {
    CloseOnStrand(error == asio::error::eof ? "closed by the installer"
                                            : "read failed: " + error.message());
    return;
  }
  reassembler_.Feed(read_buffer_.data(), n);
  if (failure_.empty() && unreadable_ > kMaxUnreadable)
    failure_ = "too many unreadable objects (" + std::to_string(unreadable_) + ")";
  if (!failure_.empty()) {
    CloseOnStrand(failure_);
    return;
  }
  // Bytes of a frame still arriving keep the connection alive; a complete frame
  // does only once it has proved to be a readable object.
  if (reassembler_.InFrame()) Touch();
  Pump();
}

// Decodes the received frames one at a time, each checked before the next, and
// reads on only when none is left.
void Session::Pump() {
  if (closed_) return;
  if (received_.empty()) {
    ReadMore();
  } else if (!decoding_ && !planning_) {
    DecodeNext();
  }
}

bool Session::BeginFrame(std::int64_t expected) {
  if (expected > static_cast<std::int64_t>(context_.options->max_frame)) {
    failure_ = "a frame of " + std::to_string(expected) + " bytes announced, over the limit of " +
               std::to_string(context_.options->max_frame);
    return false;
  }
  payload_.clear();
  return true;
}

bool Session::WritePayload(const std::uint8_t* bytes, std::size_t n) {
  // Charged as they arrive: an announcement alone holds nothing back from others.
  const auto size = static_cast<std::int64_t>(n);
  if (context_.incoming_bytes.fetch_add(size) + size > context_.incoming_limit) {
    context_.incoming_bytes -= size;
    if (failure_.empty())
      failure_ = "the server is receiving too much at once (" +
                 std::to_string(context_.incoming_limit) + " bytes)";
    return false;
  }
  incoming_charged_ += size;
  payload_.append(reinterpret_cast<const char*>(bytes), n);
  return true;
}

void Session::EndFrame(const FrameTrailerFields& trailer, bool failed) {
  const auto size = static_cast<std::int64_t>(payload_.size());
  if (failed || trailer.kind == kKindImage || trailer.kind == kKindSound ||
      trailer.kind == kKindText) {
    Release(size);
    payload_.clear();
    if (!failed) Unused("ignored a frame of kind ", std::string(1, trailer.kind));
    return;
  }
  if (received_.size() >= kMaxFramesPerDelivery) {
    failure_ = "too many frames at once";
    return;
  }
  received_.push_back({std::move(payload_), trailer});
  payload_.clear();
}

void Session::BadHeader(const std::uint8_t*, std::size_t n) {
  failure_ = "bad frame header (" + std::to_string(n) + " bytes of garbage)";
}

void Session::Unused(const std::string& reason, const std::string& detail) {
  ++unreadable_;
  LogRepeated(reason, detail);
}

void Session::DecodeNext() {
  auto frame = std::make_shared<Received>(std::move(received_.front()));
  received_.pop_front();
  const auto max_object = static_cast<std::int64_t>(context_.options->max_object);
  // A compressed block records its plain length in its last four bytes; the
  // decode is refused past it, so it is what the decode will hold.
  auto size = static_cast<std::int64_t>(frame->payload.size());
  const bool compressed = frame->trailer.compression == kCompressed && frame->payload.size() > 6 &&
                          frame->payload.compare(0, 2, "BZ") == 0;
  if (compressed) {
    const auto* tail =
        reinterpret_cast<const unsigned char*>(frame->payload.data() + frame->payload.size() - 4);
    size = std::int64_t{tail[0]} | std::int64_t{tail[1]} << 8 | std::int64_t{tail[2]} << 16 |
           std::int64_t{tail[3]} << 24;
  }
  if (size > max_object || 2 * size > context_.decode_limit) {
    CloseOnStrand("a compressed frame that does not decode within " + std::to_string(max_object) +
                  " bytes (" + std::to_string(size) + " announced)");
    return;
  }
  // The stream, the values copied out of it, and the reader's overhead: each
  // list line costs about 24 times its two smallest stream bytes.
  const std::int64_t overhead =
      std::min<std::int64_t>(context_.decode_limit - 2 * size,
                             24 * size + static_cast<std::int64_t>(kReaderOverheadFloor));
  decoding_ = true;
  ++pool_jobs_;
  const auto received = static_cast<std::int64_t>(frame->payload.size());
  context_.decode_budget->Acquire(2 * size + overhead, [self = shared_from_this(), frame, size,
                                                        overhead, compressed,
                                                        received](Ticket ticket) {
    asio::post(*self->context_.pool, [self, frame, size, overhead, compressed, received, ticket] {
      std::unique_ptr<TZelObject> object;
      std::string error;
      try {
        std::string bytes = std::move(frame->payload);
        if (compressed) bytes = DecompressBlock(bytes.data(), bytes.size(), size);
        if (std::string_view(bytes).starts_with(kStreamSignature))
          object = ObjectFromOwnedStream(std::move(bytes), static_cast<std::size_t>(overhead));
        else
          error = "not an object stream";
      } catch (const std::exception& e) {
        error = e.what();
      }
      asio::post(self->strand_,
                 [self, object = std::move(object), error, ticket, received]() mutable {
                   self->Release(received);  // decoded: no longer counted as being received
                   self->Decoded(std::move(object), error, ticket);
                 });
    });
  });
}
void Session::Decoded(std::unique_ptr<TZelObject> object, const std::string& error, Ticket ticket) {
  --pool_jobs_;
  decoding_ = false;
  if (closed_) return;
  if (!object) {
    // The installer waits for an answer to what it sent: never leave it to silence.
    CloseOnStrand("an object that could not be read: " + error);
    return;
  }
  ++objects_;
  Touch();
  decoded_ticket_ = std::move(ticket);
  const std::string unused = conversation_.Receive(std::move(object));
  decoded_ticket_.reset();
  if (closed_) return;
  if (!unused.empty()) Unused("ignored ", unused);
  if (objects_ > kMaxObjects) {
    CloseOnStrand("too many objects (" + std::to_string(objects_) + ")");
  } else if (unreadable_ > kMaxUnreadable) {
    CloseOnStrand("too many unreadable objects (" + std::to_string(unreadable_) + ")");
  } else {
    Pump();
  }
}

// --- what the conversation asks for ---------------------------------------------------------

void Session::Plan(std::unique_ptr<TSOFilesList> request) {
  install_started_ = std::chrono::steady_clock::now();
  planning_ = true;
  ++pool_jobs_;
  std::shared_ptr<TSOFilesList> shared(std::move(request));
  // The request keeps its share of the decoding budget until it is compared.
  asio::post(*context_.pool, [self = shared_from_this(), shared, ticket = decoded_ticket_] {
    std::string error;
    std::vector<PackageFile> package = self->context_.catalogue->Scan(&error);
    auto plan = std::make_shared<InstallPlan>();
    if (error.empty()) *plan = PlanInstallation(package, Inventory::FromFilesList(*shared));
    std::shared_ptr<const std::string> manifest;
    if (error.empty() && self->context_.signer)
      manifest = self->context_.signer->Frames(package, &error);
    asio::post(self->strand_, [self, plan, manifest, error] {
      --self->pool_jobs_;
      self->planning_ = false;
      if (self->closed_) return;
      if (!error.empty()) {
        self->CloseOnStrand("package unavailable: " + error);
        return;
      }
      self->conversation_.Planned(std::move(*plan), manifest);
      self->WriteNext();
      self->Pump();
    });
  });
}

void Session::Acquire(int index, const PackageFile& file) {
  context_.cache->Acquire(
      file, [self = shared_from_this(), index](std::shared_ptr<const PreparedFrames> frames,
                                               const std::string& error) {
        asio::post(self->strand_, [self, index, frames, error] {
          if (self->closed_) return;
          if (frames)
            self->conversation_.Prepared(index, frames);
          else
            self->conversation_.Failed(index, error);
          self->WriteNext();
        });
      });
}

bool Session::Refresh(PackageFile& file) {
  return RefreshPackageFile(file);
}

// --- writing --------------------------------------------------------------------------------

void Session::WriteNext() {
  if (writing_ || closed_) return;
  if (!out_) {
    std::optional<Piece> piece = conversation_.Next();
    if (closed_ || !piece) return;
    if (conversation_.Finished() && !reported_) {
      // Written as the last piece is handed to the socket, so the line is there
      // by the time the installer has it.
      reported_ = true;
      Log("sent " + std::to_string(conversation_.FilesSent()) + " files / " +
          std::to_string(conversation_.FileBytesSent()) + " bytes (" +
          std::to_string(bytes_sent_ + piece->size) + " on the wire) in " +
          Seconds(std::chrono::steady_clock::now() - install_started_) + " s");
    }
    out_.emplace();
    out_->piece = std::move(*piece);
  }
  const Piece& piece = out_->piece;
  const std::size_t n =
      static_cast<std::size_t>(std::min<std::int64_t>(piece.size - out_->offset, kChunkSize));
  writing_ = true;
  if (piece.memory) {
    Write(asio::buffer(piece.memory->data() + out_->offset, n), piece.memory);
    return;
  }
  if (!piece.stored) {
    writing_ = false;
    CloseOnStrand("could not send " + LogSafe(piece.name) +
                  ": stored frames missing; ended without \"" + std::string(protocol::kInstallEnd) +
                  "\"");
    return;
  }
  ReadStored(n);
}

// Stored frames are read on the worker pool, never on the strand, from the copy
// the cache checked.
void Session::ReadStored(std::size_t n) {
  if (!chunk_) chunk_ = std::make_shared<std::vector<char>>(kChunkSize);
  ++pool_jobs_;
  asio::post(*context_.pool, [self = shared_from_this(), file = out_->piece.stored,
                              offset = out_->offset, n, chunk = chunk_]() mutable {
    std::string error;
    std::size_t got = 0;
    while (got < n) {
      const ssize_t r = ::pread(file->fd(), chunk->data() + got, n - got, offset + got);
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) error = std::string("stored frames unreadable: ") + std::strerror(errno);
      if (r <= 0) break;
      got += static_cast<std::size_t>(r);
    }
    if (error.empty() && got < n) error = "stored frames could not be read";
    asio::post(self->strand_, [self, chunk, n, error] {
      --self->pool_jobs_;
      if (self->closed_) {
        self->writing_ = false;
        return;
      }
      if (!error.empty()) {
        self->writing_ = false;
        self->CloseOnStrand("could not send " + LogSafe(self->out_->piece.name) + ": " + error +
                            "; ended without \"" + std::string(protocol::kInstallEnd) + "\"");
        return;
      }
      self->Write(asio::buffer(chunk->data(), n), chunk);
    });
  });
}

void Session::Write(asio::const_buffer buffer, std::shared_ptr<const void> keep) {
  asio::async_write(
      socket_, buffer,
      asio::bind_executor(strand_, [self = shared_from_this(), keep = std::move(keep)](
                                       const asio::error_code& error, std::size_t n) {
        self->OnWritten(error, n);
      }));
}

void Session::OnWritten(const asio::error_code& error, std::size_t n) {
  writing_ = false;
  if (closed_) return;
  if (error) {
    CloseOnStrand("write failed: " + error.message());
    return;
  }
  Touch();
  bytes_sent_ += static_cast<std::int64_t>(n);
  out_->offset += static_cast<std::int64_t>(n);
  if (out_->offset >= out_->piece.size) out_.reset();
  WriteNext();
}

}  // namespace quorvane::server
