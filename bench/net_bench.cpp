// One connection over loopback moving a 200 MB stream of 1 MB objects at send
// level 0, direct and through danted, against a plain socat copy of the same
// bytes over the same path, in one run. Both directions:
//   download: socat serves the frame bytes, a connection item receives, reassembles
//             and decodes them into objects that the main thread pops and frees;
//   upload:   a connection item queues the objects (frame files) and its send thread
//             writes them, socat receives into /dev/null.
// The reference moves the same file of frame bytes with socat on both ends.
// Also reports the peak heap above the start of each run (bench/alloc_counter).
//   build/net/bench/net_bench [object count, default 200]
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "alloc_counter.h"
#include "net/connexion_item.h"
#include "objects/files.h"
#include "objects/register_classes.h"
#include "support/danted_relay.h"
#include "support/temp_folder.h"
#include "transport/objects_stack.h"
#include "util/program_folder.h"
#include "util/tick.h"

extern char** environ;

namespace quorvane {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kObjectSize = 1 << 20;

pid_t Spawn(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  std::vector<std::string> copy = args;
  for (auto& arg : copy)
    argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
    std::perror("posix_spawnp");
    std::exit(1);
  }
  return pid;
}

void Wait(pid_t pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
}

// A free port on 127.0.0.2 (bound, read, released).
std::uint16_t FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in where{};
  where.sin_family = AF_INET;
  ::inet_pton(AF_INET, "127.0.0.2", &where.sin_addr);
  ::bind(fd, reinterpret_cast<sockaddr*>(&where), sizeof where);
  socklen_t length = sizeof where;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&where), &length);
  ::close(fd);
  return ntohs(where.sin_port);
}

std::unique_ptr<TSOFile> MakeObject(int index) {
  auto file = std::make_unique<TSOFile>();
  file->xFileName = "object" + std::to_string(index) + ".bin";
  file->xData.resize(kObjectSize);
  std::mt19937 random(static_cast<unsigned>(index));
  for (char& c : file->xData)
    c = static_cast<char>(random());
  file->SetSendCompressionLevel(0);
  return file;
}

struct Path {
  const char* name;
  testing::DantedRelay* relay;  // null: direct
};

void SetSocks(const Path& path, TxSocksInfo& socks) {
  if (path.relay != nullptr) {
    socks.Version = toprx_Sockets4;
    socks.Address = "127.0.0.1";
    socks.Port = path.relay->port();
  }
}

// The socat address that reaches 127.0.0.2:port on this path.
std::string SocatClient(const Path& path, std::uint16_t port) {
  if (path.relay == nullptr) return "TCP:127.0.0.2:" + std::to_string(port);
  return "SOCKS4:127.0.0.1:127.0.0.2:" + std::to_string(port) +
         ",socksport=" + std::to_string(path.relay->port());
}

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// socat serves the file on 127.0.0.2; a plain socat client copies it to /dev/null.
double ReferenceCopy(const Path& path, const std::string& file) {
  const std::uint16_t port = FreePort();
  const pid_t server = Spawn({"socat", "-b", "131072", "-u", "FILE:" + file,
                              "TCP-LISTEN:" + std::to_string(port) + ",bind=127.0.0.2,reuseaddr"});
  SleepMs(150);
  const auto start = Clock::now();
  const pid_t client =
      Spawn({"socat", "-b", "131072", "-u", SocatClient(path, port), "OPEN:/dev/null"});
  Wait(client);
  const double seconds = Seconds(Clock::now() - start);
  Wait(server);
  return seconds;
}

struct Run {
  double seconds = 0;
  std::size_t objects = 0;
  std::size_t peak = 0;
};

// One connection through `path` to a socat peer on 127.0.0.2, made by
// `socat_ends(listen_address)` (socat's two address arguments); `exchange` moves
// the objects over the started item, fills the run's time and count and stops
// the item. Peak heap is counted from just before the connection.
Run OverOneConnection(const Path& path, const char* what,
                      const std::function<std::vector<std::string>(const std::string&)>& socat_ends,
                      TZelObject& root,
                      const std::function<void(TZelConnexionByMeItem&, Run&)>& exchange) {
  const std::uint16_t port = FreePort();
  std::vector<std::string> socat = {"socat", "-b", "131072", "-u"};
  for (std::string& end :
       socat_ends("TCP-LISTEN:" + std::to_string(port) + ",bind=127.0.0.2,reuseaddr"))
    socat.push_back(std::move(end));
  const pid_t peer = Spawn(socat);
  SleepMs(150);
  bench::ResetPeak();
  const std::size_t base = bench::BytesInUse();
  Run run;
  {
    TZelConnexionByMeItem item(&root);
    TxSocksInfo socks;
    SetSocks(path, socks);
    item.Configure(kTransportTcp, 'N', "Server", Guid{}, socks, "127.0.0.2", port, false);
    item.Open();
    if (!item.Start()) {
      std::fprintf(stderr, "%s: %s\n", what, item.LastError().why().c_str());
      std::exit(1);
    }
    item.Run();
    exchange(item, run);
    item.Close();
  }
  run.peak = bench::PeakBytes() - base;
  ::kill(peer, SIGTERM);  // the download's peer would serve on; the upload's has ended
  Wait(peer);
  return run;
}

Run Download(const Path& path, const std::string& file, int count, TZelObject& root,
             TZelObjectsStackManagerIn& stack) {
  return OverOneConnection(
      path, "download",
      [&](const std::string& listen) {
        return std::vector<std::string>{"FILE:" + file, listen};
      },
      root,
      [&](TZelConnexionByMeItem& item, Run& run) {
        const auto start = Clock::now();
        // Pops as the exchange does, but waking on the stack's event instead of a
        // 100 ms poll: the flag is reset before the pops, so no push is missed.
        while (run.objects < static_cast<std::size_t>(count)) {
          stack.Flag().Reset();
          while (auto object = stack.Pop())
            ++run.objects;
          if (run.objects >= static_cast<std::size_t>(count)) break;
          if (!item.IsActive() && !stack.HasObjects()) break;
          stack.Flag().Wait(100);
        }
        run.seconds = Seconds(Clock::now() - start);
        item.Stop();
      });
}

Run Upload(const Path& path, const std::vector<std::unique_ptr<TSOFile>>& objects, int count,
           TZelObject& root) {
  return OverOneConnection(
      path, "upload",
      [](const std::string& listen) {
        return std::vector<std::string>{listen, "OPEN:/dev/null"};
      },
      root,
      [&](TZelConnexionByMeItem& item, Run& run) {
        const auto start = Clock::now();
        for (int i = 0; i < count; ++i)
          item.Send(*objects[static_cast<std::size_t>(i) % objects.size()]);
        TZelConnexionBufferOut& out = *item.SendThread()->Out();
        while (out.ReadyCount() > 0 && item.IsActive())
          SleepMs(1);
        item.Stop();  // the last chunk has been written when the thread ends
        run.seconds = Seconds(Clock::now() - start);
        run.objects = static_cast<std::size_t>(count);
      });
}

}  // namespace
}  // namespace quorvane

int main(int argc, char** argv) {
  using namespace quorvane;
  const int count = argc > 1 ? std::atoi(argv[1]) : 200;
  quorvane::testing::ProgramFolderScope scope("qv_net_bench");
  std::filesystem::create_directories(NativePath("DB\\TRM\\FST"));
  RegisterClasses();
  TZelObjectsStackManagerIn stack(nullptr);
  TZelObject root(nullptr);
  root.SetStackManager(&stack);

  // Eight distinct 1 MB objects, and the file of their frames repeated to count objects.
  std::vector<std::unique_ptr<TSOFile>> objects;
  for (int i = 0; i < 8; ++i)
    objects.push_back(MakeObject(i));
  std::vector<std::string> frames;
  {
    TZelObject owner(nullptr);
    TZelConnexionBufferOut encoder(&owner);
    for (auto& object : objects) {
      encoder.SendObject(*object);
      std::string wire;
      for (;;) {
        Chunk chunk = encoder.TakeChunkLocked(kMaxChunk);
        if (chunk.count <= 0) break;
        wire.append(chunk.block.get(), static_cast<std::size_t>(chunk.count));
      }
      frames.push_back(std::move(wire));
    }
  }
  const std::string file = scope.folder() + "frames.bin";
  std::size_t total = 0;
  {
    std::ofstream out(file, std::ios::binary);
    for (int i = 0; i < count; ++i) {
      const std::string& wire = frames[static_cast<std::size_t>(i) % frames.size()];
      out.write(wire.data(), static_cast<std::streamsize>(wire.size()));
      total += wire.size();
    }
  }
  const double mb = static_cast<double>(total) / 1e6;
  std::printf("stream: %d objects of %zu bytes, %.1f MB of frames at send level 0\n", count,
              kObjectSize, mb);

  quorvane::testing::DantedRelay relay;
  const Path paths[] = {{"direct", nullptr}, {"danted", &relay}};
  // The machine is shared: each figure is the best of three runs, the peak the highest.
  constexpr int kRounds = 3;
  for (const Path& path : paths) {
    double copy = 1e9;
    Run down{1e9, 0, 0};
    Run up{1e9, 0, 0};
    for (int round = 0; round < kRounds; ++round) {
      copy = std::min(copy, ReferenceCopy(path, file));
      const Run d = Download(path, file, count, root, stack);
      const Run u = Upload(path, objects, count, root);
      if (d.objects != static_cast<std::size_t>(count)) {
        std::fprintf(stderr, "download: %zu of %d objects\n", d.objects, count);
        return 1;
      }
      down.seconds = std::min(down.seconds, d.seconds);
      down.objects = d.objects;
      down.peak = std::max(down.peak, d.peak);
      up.seconds = std::min(up.seconds, u.seconds);
      up.peak = std::max(up.peak, u.peak);
    }
    std::printf(
        "%-7s socat copy %7.1f MB/s | download %7.1f MB/s (%.2fx, peak heap +%.1f MB) | "
        "upload %7.1f MB/s (%.2fx, peak heap +%.1f MB)\n",
        path.name, mb / copy, mb / down.seconds, copy / down.seconds,
        static_cast<double>(down.peak) / 1e6, mb / up.seconds, copy / up.seconds,
        static_cast<double>(up.peak) / 1e6);
  }
  return 0;
}
