#include "install_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <fstream>
#include <mutex>

#include "model/object_stream.h"
#include "net/socks4.h"
#include "objects/answers.h"
#include "objects/customer.h"
#include "objects/enums.h"
#include "objects/files.h"
#include "objects/protocol.h"
#include "objects/register_classes.h"
#include "transport/bzip_block.h"
#include "transport/frame_reassembler.h"
#include "util/file_version.h"
#include "util/text.h"
#include "wire.h"

namespace quorvane::server {
namespace fs = std::filesystem;
namespace {

constexpr std::int64_t kMaxObject = std::int64_t{1} << 30;

bool SendAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

class Receiver : public FrameSink {
 public:
  Receiver(const InstallClientOptions& options, InstallResult& result)
      : options_(options), result_(result) {}

  bool BeginFrame(std::int64_t expected) override {
    payload_.clear();
    payload_.reserve(static_cast<std::size_t>(std::min<std::int64_t>(expected, 64 << 20)));
    return true;
  }
  bool WritePayload(const std::uint8_t* bytes, std::size_t n) override {
    payload_.append(reinterpret_cast<const char*>(bytes), n);
    return true;
  }
  void PayloadProgress(std::int64_t, std::int64_t) override {}
  void BadHeader(const std::uint8_t*, std::size_t) override { Fail("bad frame header"); }
  void EndFrame(const FrameTrailerFields& trailer, bool failed) override {
    if (failed) return Fail("failed frame");
    std::string bytes = std::move(payload_);
    payload_.clear();
    const bool compressed = trailer.compression == kCompressed;
    try {
      if (compressed) bytes = DecompressBlock(bytes.data(), bytes.size(), kMaxObject);
      Handle(ObjectFromStream(bytes), compressed);
    } catch (const std::exception& e) {
      Fail(std::string("undecodable object: ") + e.what());
    }
  }

  bool greeted = false;
  bool done = false;

 private:
  void Fail(const std::string& why) {
    if (result_.error.empty()) result_.error = why;
    done = true;
  }

  void Handle(std::unique_ptr<TZelObject> object, bool compressed) {
    if (!object) return Fail("no object");
    if (auto* answer = dynamic_cast<TZelSObjectAnswer*>(object.get())) {
      const std::string& what = answer->ZelWhat;
      if (what == protocol::kHeaderInfo) return;
      result_.words.push_back(what);
      if (options_.on_answer) options_.on_answer(what);
      const auto& lines = answer->ZelItems->Lines();
      if (what == protocol::kAuthentication) {
        result_.server_id = answer->ZelItems->Value(protocol::kItemId);
        greeted = true;
      } else if (what == protocol::kInstallBegin) {
        if (lines.size() >= 3) {
          result_.expected_files = std::stoll(lines[1]);
          result_.expected_bytes = std::stoll(lines[2]);
        }
      } else if (what == protocol::kInstallEnd || what == protocol::kInstallEndMessage) {
        if (what == protocol::kInstallEndMessage && !lines.empty()) result_.fin_message = lines[0];
        result_.finished = true;
        done = true;
      }
      return;
    }
    if (auto* file = dynamic_cast<TSOFile*>(object.get())) {
      result_.paths.push_back(file->xRelativePath + file->xFileName);
      result_.compressed.push_back(compressed);
      ++result_.files;
      result_.bytes += file->xFileSize;
      if (options_.write_files) Write(*file);
    }
  }

  void Write(const TSOFile& file) {
    std::string relative = LowerCase(file.xRelativePath + file.xFileName);
    for (char& c : relative)
      if (c == '\\') c = '/';
    const fs::path path = (options_.folder / relative).lexically_normal();
    if (path.lexically_relative(options_.folder).string().starts_with(".."))
      return Fail("a path leaving the folder: " + relative);
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(file.xData.data(), static_cast<std::streamsize>(file.xData.size()));
    if (!out) Fail("cannot write " + path.string());
  }

  const InstallClientOptions& options_;
  InstallResult& result_;
  std::string payload_;
};

void AddFolder(TSOFilesList& list, const fs::path& folder, const std::string& sub) {
  std::error_code ec;
  std::vector<fs::directory_entry> entries;
  for (fs::directory_iterator it(sub.empty() ? folder : folder / LowerCase(sub), ec), end;
       !ec && it != end; it.increment(ec)) {
    std::error_code entry_error;
    if (!it->is_regular_file(entry_error)) continue;
    if (it->path().filename().string().front() == '.') continue;
    entries.push_back(*it);
  }
  for (const fs::directory_entry& entry : entries) {
    std::error_code size_error;
    list.AddFile(sub, entry.path().filename().string(), FileVersionText(entry.path().string()),
                 static_cast<std::int64_t>(entry.file_size(size_error)));
  }
}

}  // namespace

std::unique_ptr<TSOFilesList> BuildInstallRequest(const fs::path& folder, bool english) {
  auto list = std::make_unique<TSOFilesList>();
  list->xWhat = std::string(english ? protocol::kWantInstallEnglish : protocol::kWantInstall) +
                "\n\r\nWinDir =/\n\r\nCmptrName =test";
  AddFolder(*list, folder, "");
  AddFolder(*list, folder, "DB");
  return list;
}

int ConnectTo(const std::string& host, std::uint16_t port, int timeout_ms) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  if (::inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) {
    ::close(fd);
    return -1;
  }
  timeval tv{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

namespace {

// A connection to the server, directly or through the relay to the target of
// this attempt; -1 and `error` when there is none.
int OpenConnection(const InstallClientOptions& options, int attempt, std::string& error) {
  const bool relayed = options.relay_port != 0 && !options.targets.empty();
  const int fd =
      ConnectTo(options.host, relayed ? options.relay_port : options.port, options.timeout_ms);
  if (fd < 0) error = "cannot connect";
  if (fd < 0 || !relayed) return fd;
  const std::vector<std::uint8_t> request = BuildSocks4Connect(
      options.targets[static_cast<std::size_t>(attempt) % options.targets.size()], options.port,
      "");
  std::array<std::uint8_t, kSocks4ReplySize> reply{};
  std::size_t got = 0;
  bool ok = SendAll(fd, std::string(request.begin(), request.end()));
  while (ok && got < reply.size()) {
    pollfd p{fd, POLLIN, 0};
    const ssize_t n = ::poll(&p, 1, kSocks4ReplyTimeoutMs) > 0
                          ? ::recv(fd, reply.data() + got, reply.size() - got, 0)
                          : 0;
    ok = n > 0;
    got += ok ? static_cast<std::size_t>(n) : 0;
  }
  if (ok && ParseSocks4Reply(reply).Granted()) return fd;
  ::close(fd);
  error = "the relay did not connect";
  return -1;
}

void RunConnection(const InstallClientOptions& options, int attempt, InstallResult& result) {
  const int fd = OpenConnection(options, attempt, result.error);
  if (fd < 0) return;
  Receiver receiver(options, result);
  FrameReassembler reassembler(receiver);
  std::vector<std::uint8_t> buffer(256 * 1024);
  bool requested = false;
  while (!receiver.done) {
    if (receiver.greeted && !requested) {
      requested = true;
      TZelSObjectAnswer hello;
      hello.ZelWhat = protocol::kAuthentication;
      hello.AddItem(protocol::kItemId, "{0A0B0C0D-0000-0000-0000-000000000001}");
      TZelSObjectCustomerIdentification me;
      me.xsNickName = "test";
      TSOFilesList information;
      information.xWhat = protocol::kCustomerInformation;
      const auto request = BuildInstallRequest(options.folder, options.english);
      if (options.on_request) options.on_request(*request);
      const std::string bytes = ObjectFrames(hello, 9) + ObjectFrames(me, 9) +
                                ObjectFrames(information, 9) + ObjectFrames(*request, 9);
      if (!SendAll(fd, bytes)) {
        result.error = "cannot send the request";
        break;
      }
    }
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, options.timeout_ms);
    if (ready == 0) {
      result.error = "server silent";
      break;
    }
    const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      result.error = "connection closed by the server";
      break;
    }
    result.wire_bytes += n;
    reassembler.Feed(buffer.data(), static_cast<std::size_t>(n));
  }
  ::close(fd);
}

}  // namespace

InstallResult RunInstall(const InstallClientOptions& options) {
  static std::once_flag registered;
  std::call_once(registered, [] {
    CompleteFrameMarkers();
    RegisterClasses();
  });
  InstallResult result;
  for (int attempt = 0; attempt < std::max(1, options.attempts) && !result.finished; ++attempt) {
    if (attempt > 0) {
      ++result.reconnections;
      result.error.clear();
    }
    RunConnection(options, attempt, result);
  }
  return result;
}

}  // namespace quorvane::server
