// Writing the files of one installation durably: one WriteFileAtomically per file
// (a flush each) against one DurableFileBatch (one flush for all). Arg: the number
// of 16 KiB files, written into a fresh folder under $TMPDIR (or /tmp) each time;
// files_per_s is the counter to compare. Run where TMPDIR is a real disk.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "util/atomic_file.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;

fs::path FreshFolder() {
  static int round = 0;
  const fs::path folder =
      fs::temp_directory_path() /
      ("qv_durable_bench_" + std::to_string(::getpid()) + "_" + std::to_string(round++));
  fs::create_directories(folder);
  return folder;
}

std::string Content(int i) {
  std::string bytes(16 * 1024, 'x');
  bytes.replace(0, 8, std::to_string(10'000'000 + i));
  return bytes;
}

// Times `write_all(folder, count)` into a fresh folder per iteration.
template <typename WriteAll>
void WriteFilesInFreshFolders(benchmark::State& state, WriteAll write_all) {
  const int count = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    const fs::path folder = FreshFolder();
    state.ResumeTiming();
    write_all(folder, count);
    state.PauseTiming();
    fs::remove_all(folder);
    state.ResumeTiming();
  }
  state.counters["files_per_s"] =
      benchmark::Counter(static_cast<double>(count) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
}

void BM_FlushPerFile(benchmark::State& state) {
  WriteFilesInFreshFolders(state, [&](const fs::path& folder, int count) {
    for (int i = 0; i < count; ++i)
      if (!WriteFileAtomically((folder / ("f" + std::to_string(i))).string(), Content(i)))
        state.SkipWithError("a write failed");
  });
}
BENCHMARK(BM_FlushPerFile)->Arg(200)->Arg(2000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_OneFlushPerBatch(benchmark::State& state) {
  WriteFilesInFreshFolders(state, [&](const fs::path& folder, int count) {
    DurableFileBatch batch;
    for (int i = 0; i < count; ++i)
      batch.Add((folder / ("f" + std::to_string(i))).string(), Content(i));
    for (const auto& result : batch.Commit())
      if (!result.status.ok()) state.SkipWithError(result.status.ToString().c_str());
  });
}
BENCHMARK(BM_OneFlushPerBatch)->Arg(200)->Arg(2000)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace quorvane

BENCHMARK_MAIN();
