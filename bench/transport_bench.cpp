// The wire transport with a 16 MiB file object of typical program data (the object
// files of this build): SendObject at send levels 9 and 0, the receive path
// (Receive in 100,000-byte deliveries, then DeliverReady onto the stack) next to
// libbz2's bare decompression of the same stream, and the receive path's peak heap.
#include <benchmark/benchmark.h>
#include <bzlib.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "alloc_counter.h"
#include "model/object_stream.h"
#include "objects/answers.h"
#include "objects/files.h"
#include "objects/register_classes.h"
#include "transport/connexion_buffer_in.h"
#include "transport/connexion_buffer_out.h"
#include "transport/data_transfer.h"
#include "transport/frame_format.h"
#include "transport/objects_stack.h"
#include "util/program_folder.h"

namespace quorvane {
namespace {

constexpr std::size_t kSampleSize = 16u << 20;

struct Environment {
  Environment() {
    folder = std::filesystem::temp_directory_path() /
             ("qv_transport_bench_" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    SetProgramFolder(folder.string() + "/");
    std::filesystem::create_directories(NativePath("DB\\TRM\\FST"));
    RegisterClasses();
    data = SampleData();
  }
  ~Environment() { std::filesystem::remove_all(folder); }

  static std::string SampleData() {
    std::string data;
    for (const auto& e : std::filesystem::recursive_directory_iterator(QUORVANE_SAMPLE_DIR)) {
      const auto ext = e.path().extension();
      if (!e.is_regular_file() || (ext != ".o" && ext != ".a")) continue;
      std::ifstream in(e.path(), std::ios::binary);
      data.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      if (data.size() >= kSampleSize) break;
    }
    if (data.empty()) data = "no object files found ";
    while (data.size() < kSampleSize)
      data += data.substr(0, kSampleSize - data.size());
    data.resize(kSampleSize);
    return data;
  }

  std::filesystem::path folder;
  std::string data;
  TZelDataTransfer transfer;
};

Environment& Env() {
  static Environment env;
  return env;
}

std::unique_ptr<TSOFile> SampleFile(int level) {
  auto file = std::make_unique<TSOFile>(nullptr);
  file->xFileName = "QuorvaneCustomer.exe";
  file->xData = Env().data;
  file->xFileSize = static_cast<std::int32_t>(file->xData.size());
  file->SetSendCompressionLevel(static_cast<std::uint8_t>(level));
  return file;
}

std::string Drain(TZelConnexionBuffer& buffer) {
  std::string wire;
  for (Chunk c = buffer.TakeChunkLocked(kMaxChunk); c.count > 0;
       c = buffer.TakeChunkLocked(kMaxChunk))
    wire.append(c.block.get(), static_cast<std::size_t>(c.count));
  return wire;
}

// The wire bytes of the sample sent at level 9: announcement frame, then object frame.
const std::string& Wire() {
  static const std::string wire = [] {
    TZelConnexionBufferOut out(nullptr);
    out.SetDataTransfer(&Env().transfer);
    out.SendObject(*SampleFile(9));
    return Drain(out);
  }();
  return wire;
}

// The bzip2 stream inside the object frame (its payload minus the 4-byte length).
std::string ObjectStream() {
  const std::string& wire = Wire();
  const std::size_t first = std::stoull(wire.substr(10, 10));
  const std::string object = wire.substr(first);
  const std::size_t length = std::stoull(object.substr(10, 10));
  return object.substr(20, length - 30 - 4);
}

void BM_SendObject(benchmark::State& state) {
  const int level = static_cast<int>(state.range(0));
  auto file = SampleFile(level);
  TZelConnexionBufferOut out(nullptr);
  out.SetDataTransfer(&Env().transfer);
  for (auto _ : state) {
    out.SendObject(*file);
    state.PauseTiming();
    benchmark::DoNotOptimize(Drain(out));
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kSampleSize));
}
BENCHMARK(BM_SendObject)->Arg(9)->Arg(0)->Unit(benchmark::kMillisecond);

void BM_BareDecompression(benchmark::State& state) {
  const std::string stream = ObjectStream();
  std::string out(ObjectToStream(*SampleFile(9)).size(), '\0');
  for (auto _ : state) {
    auto out_size = static_cast<unsigned>(out.size());
    const int rc =
        BZ2_bzBuffToBuffDecompress(out.data(), &out_size, const_cast<char*>(stream.data()),
                                   static_cast<unsigned>(stream.size()), 0, 0);
    if (rc != BZ_OK) state.SkipWithError("bzip2 refused the stream");
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kSampleSize));
}
BENCHMARK(BM_BareDecompression)->Unit(benchmark::kMillisecond);

// One delivery of the wire in 100,000-byte reads; false when the object is not whole.
bool ReceiveOnce(TZelObjectsStackManagerIn& stack) {
  const std::string& wire = Wire();
  TZelConnexionBufferIn in(nullptr);
  in.SetStackManager(&stack);
  in.SetDataTransfer(&Env().transfer);
  for (std::size_t at = 0; at < wire.size(); at += kMaxChunk) {
    const std::size_t n = std::min<std::size_t>(kMaxChunk, wire.size() - at);
    in.Receive(reinterpret_cast<const std::uint8_t*>(wire.data() + at), static_cast<int>(n));
    in.DeliverReady();
  }
  auto object = stack.Pop();
  return object && dynamic_cast<TSOFile&>(*object).xData.size() == kSampleSize;
}

void BM_ReceivePath(benchmark::State& state) {
  const std::string& wire = Wire();
  TZelObjectsStackManagerIn stack(nullptr);
  std::size_t peak = 0;
  for (auto _ : state) {
    bench::ResetPeak();
    const std::size_t before = bench::BytesInUse();
    if (!ReceiveOnce(stack)) state.SkipWithError("the object did not arrive whole");
    peak = std::max(peak, bench::PeakBytes() - before);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kSampleSize));
  state.counters["peak_heap_MiB"] = static_cast<double>(peak) / (1 << 20);
  state.counters["peak_per_payload"] =
      static_cast<double>(peak) / static_cast<double>(ObjectToStream(*SampleFile(9)).size());
  state.counters["wire_MiB"] = static_cast<double>(wire.size()) / (1 << 20);
}
BENCHMARK(BM_ReceivePath)->Unit(benchmark::kMillisecond);

double ThreadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Both in every iteration, on this thread's CPU clock, so a busy machine weighs on
// them alike: receive_over_bare is the receive path's time over the bare decode's.
void BM_ReceiveOverBare(benchmark::State& state) {
  const std::string stream = ObjectStream();
  std::string out(ObjectToStream(*SampleFile(9)).size(), '\0');
  TZelObjectsStackManagerIn stack(nullptr);
  double bare = 0;
  double receive = 0;
  auto time_bare = [&] {
    const double start = ThreadSeconds();
    auto out_size = static_cast<unsigned>(out.size());
    BZ2_bzBuffToBuffDecompress(out.data(), &out_size, const_cast<char*>(stream.data()),
                               static_cast<unsigned>(stream.size()), 0, 0);
    bare += ThreadSeconds() - start;
  };
  auto time_receive = [&] {
    const double start = ThreadSeconds();
    if (!ReceiveOnce(stack)) state.SkipWithError("the object did not arrive whole");
    receive += ThreadSeconds() - start;
  };
  bool bare_first = true;  // alternated, so neither gains from running second
  for (auto _ : state) {
    if (bare_first) {
      time_bare();
      time_receive();
    } else {
      time_receive();
      time_bare();
    }
    bare_first = !bare_first;
  }
  state.counters["receive_over_bare"] = receive / bare;
}
BENCHMARK(BM_ReceiveOverBare)->Unit(benchmark::kMillisecond);

// 10,000 tiny objects of one class (0: an answer, 1: a file object of one byte)
// received in 100,000-byte reads onto the stack: objects per second, and the heap
// each holds on the stack beyond its stream, which kObjectMemoryCost must cover.
void BM_TinyObjects(benchmark::State& state) {
  constexpr int kObjects = 10'000;
  Env();  // the message classes registered
  std::unique_ptr<TZelObject> sample;
  if (state.range(0) == 0) {
    auto answer = std::make_unique<TZelSObjectAnswer>(nullptr);
    answer->ZelWhat = "Phase2";
    answer->AddItem("x", "1");
    sample = std::move(answer);
  } else {
    auto file = SampleFile(0);
    file->xData = "x";
    file->xFileSize = 1;
    sample = std::move(file);
  }
  const std::string stream = ObjectToStream(*sample);
  std::string wire;
  for (int i = 0; i < kObjects; ++i)
    wire +=
        FrameHeader(static_cast<std::int64_t>(stream.size())) + stream + FrameTrailer('N', false);
  TZelObjectsStackManagerIn stack(nullptr);
  double held = 0;
  for (auto _ : state) {
    TZelConnexionBufferIn in(nullptr);
    in.SetDeliveryTarget(&stack);
    const std::size_t before = bench::BytesInUse();
    for (std::size_t at = 0; at < wire.size(); at += kMaxChunk) {
      const std::size_t n = std::min<std::size_t>(kMaxChunk, wire.size() - at);
      in.Receive(reinterpret_cast<const std::uint8_t*>(wire.data() + at), static_cast<int>(n));
      in.DeliverReady();
    }
    state.PauseTiming();
    held = static_cast<double>(bench::BytesInUse() - before) / kObjects;
    while (stack.Pop()) {
    }
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kObjects);
  state.counters["stream_bytes"] = static_cast<double>(stream.size());
  state.counters["heap_per_object"] = held;
  state.counters["beyond_stream"] = held - static_cast<double>(stream.size());
}
BENCHMARK(BM_TinyObjects)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quorvane

BENCHMARK_MAIN();
