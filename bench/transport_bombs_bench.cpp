// Hostile compressed frames through the receive path (Receive, then DeliverReady
// onto the stack) with the default 1 GiB connection budget: how long the refusal
// takes and the peak heap it costs, next to a legitimate 64 MiB object.
//   file_honest  a TSOFile of 1 GiB + 64 MiB of zeros that says its length
//   file_lying   the same object recording 1,000 bytes
//   strings      20,000,000 empty strings in a user list (40 MB of stream)
//   children     3,000,000 empty child objects (42 MB of stream)
// Counters: frame_bytes (the compressed frame), peak_heap_MiB, stacked (objects
// that reached the stack). Building a bomb takes seconds; it is built once.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include "alloc_counter.h"
#include "bombs.h"
#include "objects/register_classes.h"
#include "transport/bzip_block.h"
#include "transport/connexion_buffer_in.h"
#include "transport/objects_stack.h"
#include "util/program_folder.h"

namespace quorvane {
namespace {

struct Environment {
  Environment() {
    folder =
        std::filesystem::temp_directory_path() / ("qv_bombs_bench_" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    SetProgramFolder(folder.string() + "/");
    std::filesystem::create_directories(NativePath("DB\\TRM\\FST"));
    RegisterClasses();
  }
  ~Environment() { std::filesystem::remove_all(folder); }
  std::filesystem::path folder;
};

Environment& Env() {
  static Environment env;
  return env;
}

constexpr std::uint32_t kFileBombSize = (1u << 30) + (64u << 20);

const std::string& Frame(int kind) {
  static std::map<int, std::string> frames;
  auto it = frames.find(kind);
  if (it != frames.end()) return it->second;
  std::string block;
  switch (kind) {
    case 0:
      block = bombs::FileBomb(kFileBombSize);
      break;
    case 1:
      block = bombs::FileBomb(kFileBombSize, 1000);
      break;
    case 2:
      block = bombs::EmptyStringBomb(20'000'000);
      break;
    case 3:
      block = bombs::ChildBomb(3'000'000);
      break;
    default: {
      TSOFile file(nullptr);
      file.xFileName = "setup.dat";
      file.xData.resize(64u << 20);
      for (std::size_t i = 0; i < file.xData.size(); ++i)
        file.xData[i] = static_cast<char>("program data "[i % 13] + (i >> 20));
      const std::string stream = ObjectToStream(file);
      block = CompressBlock(stream.data(), stream.size(), 9);
    }
  }
  return frames.emplace(kind, bombs::CompressedFrame(block)).first->second;
}

void BM_ReceiveFrame(benchmark::State& state) {
  Env();
  const int kind = static_cast<int>(state.range(0));
  const std::string& frame = Frame(kind);
  TZelObjectsStackManagerIn stack(nullptr);
  std::size_t peak = 0;
  int stacked = 0;
  for (auto _ : state) {
    TZelConnexionBufferIn in(nullptr);
    in.SetStackManager(&stack);
    const std::size_t before = bench::BytesInUse();
    bench::ResetPeak();
    for (std::size_t at = 0; at < frame.size(); at += kMaxChunk) {
      const std::size_t n = std::min<std::size_t>(kMaxChunk, frame.size() - at);
      in.Receive(reinterpret_cast<const std::uint8_t*>(frame.data() + at), static_cast<int>(n));
    }
    in.DeliverReady();
    peak = std::max(peak, bench::PeakBytes() - before);
    state.PauseTiming();
    stacked = 0;
    while (stack.Pop())
      ++stacked;
    state.ResumeTiming();
  }
  state.counters["frame_bytes"] = static_cast<double>(frame.size());
  state.counters["peak_heap_MiB"] = static_cast<double>(peak) / (1 << 20);
  state.counters["stacked"] = stacked;
}
BENCHMARK(BM_ReceiveFrame)
    ->ArgName("kind")
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Arg(3)
    ->Arg(4)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quorvane

BENCHMARK_MAIN();
