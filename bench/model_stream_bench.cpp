// Writing and reading a file object whose data is 16 MiB: the object stream is a
// copy of the data, so the goal is copy speed (1 GB/s or more each way) with at
// most one extra copy, and a peak of no more than twice the payload.
#include <benchmark/benchmark.h>

#include <random>

#include "alloc_counter.h"
#include "model/object_stream.h"
#include "objects/files.h"
#include "objects/register_classes.h"

namespace quorvane {
namespace {

constexpr std::size_t kPayload = 16 << 20;

std::unique_ptr<TSOFile> MakeFile() {
  auto file = std::make_unique<TSOFile>();
  file->xData.resize(kPayload);
  std::mt19937 random(7);
  for (char& c : file->xData)
    c = static_cast<char>(random());
  file->xFileName = "Program.exe";
  file->xFileType = ".exe";
  file->xFileSize = static_cast<std::int32_t>(kPayload);
  return file;
}

void ReportPeak(benchmark::State& state, std::size_t baseline) {
  state.counters["peak_over_payload"] =
      static_cast<double>(bench::PeakBytes() - baseline) / static_cast<double>(kPayload);
}

void BM_WriteSOFile(benchmark::State& state) {
  RegisterClasses();
  const auto file = MakeFile();
  const std::size_t baseline = bench::BytesInUse();
  bench::ResetPeak();
  for (auto _ : state) {
    std::string stream = ObjectToStream(*file);
    benchmark::DoNotOptimize(stream.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kPayload));
  ReportPeak(state, baseline);  // the payload itself is in the baseline
}
BENCHMARK(BM_WriteSOFile)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReadSOFile(benchmark::State& state) {
  RegisterClasses();
  const std::string stream = ObjectToStream(*MakeFile());
  const std::size_t baseline = bench::BytesInUse();
  bench::ResetPeak();
  for (auto _ : state) {
    auto object = ObjectFromStream(stream);
    benchmark::DoNotOptimize(object.get());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kPayload));
  ReportPeak(state, baseline);  // the stream itself is in the baseline
}
BENCHMARK(BM_ReadSOFile)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace quorvane

BENCHMARK_MAIN();
