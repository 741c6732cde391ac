#include "session.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "model/object_stream.h"
#include "objects/answers.h"
#include "objects/customer.h"
#include "objects/enums.h"
#include "objects/files.h"
#include "objects/protocol.h"
#include "transport/bzip_block.h"
#include "util/codec.h"
#include "wire.h"

namespace quorvane::server {
namespace {

constexpr std::size_t kReadSize = 64 * 1024;
constexpr std::size_t kChunkSize = 256 * 1024;
constexpr std::size_t kPrefetch = 2;  // files prepared ahead of the one being sent
constexpr int kMaxUnreadable = 8;     // unreadable, ignored or unused frames per connection
constexpr std::size_t kMaxFramesPerDelivery = 4096;
constexpr int kMaxObjects = 256;  // an installer sends four

std::string FirstLine(const std::string& text) {
  const std::size_t end = text.find_first_of("\r\n");
  return end == std::string::npos ? text : text.substr(0, end);
}

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
      read_buffer_(kReadSize) {}

Session::~Session() {
  for (Outgoing& out : queue_)
    if (out.fd >= 0) ::close(out.fd);
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
    self->queue_.push_back(
        {self->context_.greeting, -1, static_cast<std::int64_t>(self->context_.greeting->size())});
    self->WriteNext();
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
  for (Outgoing& out : queue_) {
    if (out.fd >= 0) ::close(out.fd);
    out.fd = -1;
  }
  // A write in flight still points into the first entry's bytes until its
  // handler runs: that one stays until the session goes.
  if (writing_ && !queue_.empty())
    queue_.erase(queue_.begin() + 1, queue_.end());
  else
    queue_.clear();
  prepared_.clear();
  received_.clear();
  ReleaseIncoming();
  for (const std::string& line : repeated_.Flush())
    Log(line);
  Log("closed: " + why + "; sent " + std::to_string(files_sent_) + " files, " +
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
  if (!installing_) wake = std::min(wake, connected_ + request_limit);
  idle_timer_.expires_at(wake);
  idle_timer_.async_wait([self = shared_from_this(), limit,
                          request_limit](const asio::error_code& error) {
    if (error || self->closed_) return;
    if (!self->installing_ &&
        std::chrono::steady_clock::now() >= self->connected_ + request_limit) {
      self->CloseOnStrand("no installation request within " +
                          std::to_string(request_limit.count()) + " s");
      return;
    }
    const bool waiting_on_us = self->pool_jobs_ > 0 || (self->installing_ && !self->finished_ &&
                                                        self->queue_.empty() && !self->writing_);
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
        if (bytes.size() >= 4 && bytes.compare(0, 4, "TPF0") == 0)
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
  const std::string unused = Handle(std::move(object), std::move(ticket));
  if (!unused.empty()) Unused("ignored ", unused);
  if (objects_ > kMaxObjects) {
    CloseOnStrand("too many objects (" + std::to_string(objects_) + ")");
  } else if (unreadable_ > kMaxUnreadable) {
    CloseOnStrand("too many unreadable objects (" + std::to_string(unreadable_) + ")");
  } else {
    Pump();
  }
}

std::string Session::Handle(std::unique_ptr<TZelObject> object, Ticket ticket) {
  switch (object->TypeCode()) {
    case tvo_Answer: {
      auto* answer = dynamic_cast<TZelSObjectAnswer*>(object.get());
      if (answer == nullptr) break;
      if (answer->ZelWhat == protocol::kAuthentication) {
        who_ = answer->ZelItems->Value(protocol::kItemId);
        Log("identified: installer " + LogSafe(who_, 40));
        return {};
      }
      if (answer->ZelWhat == protocol::kHeaderInfo) return {};
      return "answer \"" + LogSafe(answer->ZelWhat, 60) + "\"";
    }
    case tvo_CustomerIdentification:
      Log("identified: customer \"" + LogSafe(object->Caption(), 120) + "\" " + object->GetId());
      return {};
    case tvo_FilesList: {
      std::unique_ptr<TSOFilesList> list(dynamic_cast<TSOFilesList*>(object.get()));
      if (!list) break;
      object.release();
      const std::string word = FirstLine(list->xWhat);
      if (word == protocol::kWantInstall || word == protocol::kWantInstallEnglish) {
        StartInstall(std::move(list), word, std::move(ticket));
        return {};
      }
      if (word == protocol::kCustomerInformation) {
        Log("customer information received");
        return {};
      }
      return "request \"" + LogSafe(word, 60) + "\"";
    }
    default:
      break;
  }
  return "an object of class " + LogSafe(object->Class().name, 60);
}

// --- the installation -----------------------------------------------------------------------

void Session::StartInstall(std::unique_ptr<TSOFilesList> request, std::string word, Ticket ticket) {
  if (installing_) {
    Log("asked " + word + " again: ignored");
    return;
  }
  installing_ = true;
  planning_ = true;
  install_started_ = std::chrono::steady_clock::now();
  const std::size_t inventory_lines = request->xFileNames->Count();
  Log("asked " + word + " with an inventory of " + std::to_string(inventory_lines) + " files");
  std::shared_ptr<TSOFilesList> shared(std::move(request));
  ++pool_jobs_;
  // The request keeps its share of the decoding budget until it is compared.
  asio::post(*context_.pool, [self = shared_from_this(), shared, ticket] {
    std::string error;
    std::vector<PackageFile> package = self->context_.catalogue->Scan(&error);
    auto plan = std::make_shared<InstallPlan>();
    if (error.empty()) *plan = PlanInstallation(package, Inventory::FromFilesList(*shared));
    asio::post(self->strand_, [self, plan, error] {
      --self->pool_jobs_;
      self->planning_ = false;
      if (self->closed_) return;
      if (!error.empty()) {
        self->CloseOnStrand("package unavailable: " + error);
        return;
      }
      self->BeginSending(std::move(*plan));
      self->Pump();
    });
  });
}

void Session::BeginSending(InstallPlan plan) {
  plan_ = std::move(plan);
  Log("installing: " + std::to_string(plan_.files.size()) + " of " +
      std::to_string(plan_.package_files) + " files to send, " + std::to_string(plan_.bytes) +
      " bytes");
  const std::string package_name = context_.catalogue->Root().filename().string();
  steps_.push_back(
      {std::make_shared<const std::string>(AnswerFrames(
           protocol::kInstallBegin, {Utf8ToCp1252(package_name), std::to_string(plan_.files.size()),
                                     std::to_string(plan_.bytes)})),
       -1});
  InstallPhase phase = InstallPhase::kDatabase;
  for (std::size_t i = 0; i <= plan_.files.size(); ++i) {
    const InstallPhase next =
        i < plan_.files.size() ? plan_.files[i].phase : InstallPhase::kTopLevel;
    while (phase < next || (i == plan_.files.size() && phase < InstallPhase::kTopLevel)) {
      phase = static_cast<InstallPhase>(static_cast<int>(phase) + 1);
      steps_.push_back(
          {phase == InstallPhase::kSubFolders ? context_.phase2 : context_.phase3, -1});
    }
    if (i < plan_.files.size()) steps_.push_back({nullptr, static_cast<int>(i)});
  }
  steps_.push_back({context_.end, -1});
  Prefetch();
  WriteNext();
}

void Session::Prefetch() {
  while (!closed_ && next_fetch_ < plan_.files.size() &&
         next_fetch_ < static_cast<std::size_t>(files_passed_) + kPrefetch) {
    const int index = static_cast<int>(next_fetch_++);
    Acquire(index);
  }
}

void Session::Acquire(int index) {
  context_.cache->Acquire(plan_.files[index], [self = shared_from_this(), index](
                                                  std::shared_ptr<const PreparedFrames> frames,
                                                  const std::string& error) {
    asio::post(self->strand_, [self, index, frames, error] {
      if (self->closed_) return;
      if (frames) {
        self->prepared_[index] = frames;
      } else if (self->retried_.insert(index).second &&
                 RefreshPackageFile(self->plan_.files[index])) {
        // Changed since the scan: once more with its present size and time.
        self->Acquire(index);
        return;
      } else {
        self->failed_[index] = error;
      }
      self->WriteNext();
    });
  });
}

void Session::Fill() {
  while (queue_.empty() && next_step_ < steps_.size() && !closed_) {
    const Step& step = steps_[next_step_];
    if (step.frames) {
      queue_.push_back({step.frames, -1, static_cast<std::int64_t>(step.frames->size())});
      ++next_step_;
      break;
    }
    const PackageFile& file = plan_.files[step.file];
    if (auto failed = failed_.find(step.file); failed != failed_.end()) {
      // Ending without "Fin" lets the installer see the installation is not
      // complete; it asks again and the comparison sends what is missing.
      CloseOnStrand("could not send " + LogSafe(file.folder + file.name) + ": " + failed->second +
                    "; ended without \"Fin\"");
      return;
    }
    auto ready = prepared_.find(step.file);
    if (ready == prepared_.end()) break;  // still being prepared
    std::shared_ptr<const PreparedFrames> frames = std::move(ready->second);
    prepared_.erase(ready);
    ++next_step_;
    ++files_passed_;
    Outgoing out;
    out.size = frames->size;
    if (frames->memory) {
      out.memory = frames->memory;
    } else {
      out.fd = ::open(frames->disk.c_str(), O_RDONLY | O_CLOEXEC);
      if (out.fd < 0) {
        CloseOnStrand("could not send " + LogSafe(file.folder + file.name) +
                      ": stored frames unreadable: " + std::strerror(errno) +
                      "; ended without \"Fin\"");
        return;
      }
    }
    queue_.push_back(std::move(out));
    ++files_sent_;
    file_bytes_sent_ += frames->file_size;
  }
  Prefetch();
}

void Session::WriteNext() {
  if (writing_ || closed_) return;
  if (queue_.empty()) Fill();
  if (queue_.empty()) {
    if (installing_ && !finished_ && next_step_ == steps_.size() && !steps_.empty()) {
      finished_ = true;
      Log("sent " + std::to_string(files_sent_) + " files / " + std::to_string(file_bytes_sent_) +
          " bytes (" + std::to_string(bytes_sent_) + " on the wire) in " +
          Seconds(std::chrono::steady_clock::now() - install_started_) + " s");
    }
    return;
  }
  Outgoing& out = queue_.front();
  const std::size_t n =
      static_cast<std::size_t>(std::min<std::int64_t>(out.size - out.offset, kChunkSize));
  asio::const_buffer buffer;
  if (out.memory) {
    buffer = asio::buffer(out.memory->data() + out.offset, n);
  } else {
    if (chunk_.size() < kChunkSize) chunk_.resize(kChunkSize);
    std::size_t got = 0;
    while (got < n) {
      const ssize_t r = ::pread(out.fd, chunk_.data() + got, n - got, out.offset + got);
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) break;
      got += static_cast<std::size_t>(r);
    }
    if (got < n) {
      CloseOnStrand("stored frames could not be read");
      return;
    }
    buffer = asio::buffer(chunk_.data(), n);
  }
  writing_ = true;
  asio::async_write(socket_, buffer,
                    asio::bind_executor(strand_, [self = shared_from_this()](
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
  Outgoing& out = queue_.front();
  out.offset += static_cast<std::int64_t>(n);
  if (out.offset >= out.size) {
    if (out.fd >= 0) ::close(out.fd);
    queue_.pop_front();
  }
  WriteNext();
}

}  // namespace quorvane::server
