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
constexpr int kMaxUnreadable = 8;     // unreadable objects tolerated per connection
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
  Release(incoming_reserved_);
}

void Session::Release(std::int64_t bytes) {
  bytes = std::min(bytes, incoming_reserved_);
  if (bytes <= 0) return;
  context_.incoming_bytes -= bytes;
  incoming_reserved_ -= bytes;
}

void Session::Log(const std::string& text) {
  context_.log->Line("#" + std::to_string(id_) + " " + peer_ + " " + text);
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
  ReleaseIncoming();
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
  if (closed_) return;
  socket_.async_read_some(
      asio::buffer(read_buffer_),
      asio::bind_executor(
          strand_, [self = shared_from_this()](const asio::error_code& error, std::size_t n) {
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
  Touch();
  reassembler_.Feed(read_buffer_.data(), n);
  if (!failure_.empty()) {
    CloseOnStrand(failure_);
    return;
  }
  if (!received_.empty()) {
    std::vector<Received> frames = std::move(received_);
    received_.clear();
    Decode(std::move(frames));
    return;
  }
  ReadMore();
}

bool Session::BeginFrame(std::int64_t expected) {
  if (expected > static_cast<std::int64_t>(context_.options->max_frame)) {
    failure_ = "a frame of " + std::to_string(expected) + " bytes announced, over the limit of " +
               std::to_string(context_.options->max_frame);
    return false;
  }
  if (context_.incoming_bytes.fetch_add(expected) + expected > context_.incoming_limit) {
    context_.incoming_bytes -= expected;
    failure_ = "the server is receiving too much at once (" + std::to_string(expected) +
               " more bytes announced)";
    return false;
  }
  incoming_reserved_ += expected;
  frame_expected_ = expected;
  payload_.clear();
  payload_.reserve(static_cast<std::size_t>(std::min<std::int64_t>(expected, 1 << 20)));
  return true;
}

bool Session::WritePayload(const std::uint8_t* bytes, std::size_t n) {
  payload_.append(reinterpret_cast<const char*>(bytes), n);
  return true;
}

void Session::EndFrame(const FrameTrailerFields& trailer, bool failed) {
  if (failed) {
    Release(frame_expected_);
    return;
  }
  if (received_.size() >= kMaxFramesPerDelivery) {
    failure_ = "too many frames at once";
    return;
  }
  received_.push_back({std::move(payload_), trailer, frame_expected_});
  payload_.clear();
}

void Session::BadHeader(const std::uint8_t*, std::size_t n) {
  failure_ = "bad frame header (" + std::to_string(n) + " bytes of garbage)";
}

void Session::Decode(std::vector<Received> frames) {
  struct Result {
    std::vector<std::unique_ptr<TZelObject>> objects;
    std::vector<std::string> notes;
    int unreadable = 0;
    std::string fatal;
  };
  const std::size_t max_object = context_.options->max_object;
  std::int64_t reserved = 0;
  for (const Received& frame : frames)
    reserved += frame.reserved;
  ++pool_jobs_;
  asio::post(*context_.pool, [self = shared_from_this(), frames = std::move(frames), max_object,
                              reserved]() mutable {
    auto result = std::make_shared<Result>();
    for (Received& frame : frames) {
      const char kind = frame.trailer.kind;
      if (kind == kKindImage || kind == kKindSound || kind == kKindText) {
        result->notes.push_back(std::string("ignored a frame of kind ") + kind);
        continue;
      }
      std::string bytes = std::move(frame.payload);
      if (frame.trailer.compression == kCompressed) {
        try {
          bytes =
              DecompressBlock(bytes.data(), bytes.size(), static_cast<std::int64_t>(max_object));
        } catch (const std::exception& e) {
          result->fatal = std::string("a compressed frame that does not decode within ") +
                          std::to_string(max_object) + " bytes (" + e.what() + ")";
          break;
        }
      }
      std::unique_ptr<TZelObject> object;
      try {
        if (bytes.size() >= 4 && bytes.compare(0, 4, "TPF0") == 0) object = ObjectFromStream(bytes);
      } catch (...) {
        object.reset();
      }
      if (!object) {
        ++result->unreadable;
        result->notes.push_back("dropped an unreadable object of " + std::to_string(bytes.size()) +
                                " bytes");
        continue;
      }
      result->objects.push_back(std::move(object));
    }
    asio::post(self->strand_, [self, result, reserved] {
      --self->pool_jobs_;
      if (self->closed_) return;
      self->Release(reserved);  // decoded: no longer counted as being received
      for (const std::string& note : result->notes)
        self->Log(note);
      for (auto& object : result->objects)
        self->Handle(std::move(object));
      self->unreadable_ += result->unreadable;
      self->objects_ += static_cast<int>(result->objects.size());
      if (!result->fatal.empty()) {
        self->CloseOnStrand(result->fatal);
      } else if (self->objects_ > kMaxObjects) {
        self->CloseOnStrand("too many objects (" + std::to_string(self->objects_) + ")");
      } else if (self->unreadable_ > kMaxUnreadable) {
        self->CloseOnStrand("too many unreadable objects");
      } else {
        self->Touch();
        self->ReadMore();
      }
    });
  });
}

void Session::Handle(std::unique_ptr<TZelObject> object) {
  if (closed_) return;
  switch (object->TypeCode()) {
    case tvo_Answer: {
      auto* answer = dynamic_cast<TZelSObjectAnswer*>(object.get());
      if (answer == nullptr) return;
      if (answer->ZelWhat == protocol::kAuthentication) {
        who_ = answer->ZelItems->Value(protocol::kItemId);
        Log("identified: installer " + LogSafe(who_, 40));
      } else if (answer->ZelWhat != protocol::kHeaderInfo) {
        Log("answer \"" + LogSafe(answer->ZelWhat, 60) + "\" ignored");
      }
      return;
    }
    case tvo_CustomerIdentification:
      Log("identified: customer \"" + LogSafe(object->Caption(), 120) + "\" " + object->GetId());
      return;
    case tvo_FilesList: {
      std::unique_ptr<TSOFilesList> list(dynamic_cast<TSOFilesList*>(object.get()));
      if (!list) return;
      object.release();
      const std::string word = FirstLine(list->xWhat);
      if (word == protocol::kWantInstall || word == protocol::kWantInstallEnglish) {
        StartInstall(std::move(list), word);
      } else if (word == protocol::kCustomerInformation) {
        Log("customer information received");
      } else {
        Log("request \"" + LogSafe(word, 60) + "\" ignored");
      }
      return;
    }
    default:
      Log("ignored an object of class " + LogSafe(object->Class().name, 60));
  }
}

// --- the installation -----------------------------------------------------------------------

void Session::StartInstall(std::unique_ptr<TSOFilesList> request, std::string word) {
  if (installing_) {
    Log("asked " + word + " again: ignored");
    return;
  }
  installing_ = true;
  install_started_ = std::chrono::steady_clock::now();
  const std::size_t inventory_lines = request->xFileNames->Count();
  Log("asked " + word + " with an inventory of " + std::to_string(inventory_lines) + " files");
  std::shared_ptr<TSOFilesList> shared(std::move(request));
  ++pool_jobs_;
  asio::post(*context_.pool, [self = shared_from_this(), shared] {
    std::string error;
    std::vector<PackageFile> package = self->context_.catalogue->Scan(&error);
    auto plan = std::make_shared<InstallPlan>();
    if (error.empty()) *plan = PlanInstallation(package, Inventory::FromFilesList(*shared));
    std::shared_ptr<const std::string> manifest;
    if (error.empty() && self->context_.signer)
      manifest = self->context_.signer->Frames(package, &error);
    asio::post(self->strand_, [self, plan, manifest, error] {
      --self->pool_jobs_;
      if (self->closed_) return;
      if (!error.empty()) {
        self->CloseOnStrand("package unavailable: " + error);
        return;
      }
      self->BeginSending(std::move(*plan), manifest);
    });
  });
}

void Session::BeginSending(InstallPlan plan, std::shared_ptr<const std::string> manifest) {
  plan_ = std::move(plan);
  Log("installing: " + std::to_string(plan_.files.size()) + " of " +
      std::to_string(plan_.package_files) + " files to send, " + std::to_string(plan_.bytes) +
      " bytes");
  if (manifest) steps_.push_back({std::move(manifest), -1});
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
      out.fd = frames->stored ? ::fcntl(frames->stored->fd(), F_DUPFD_CLOEXEC, 0) : -1;
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
