// The installer's start-up check of a signed installation: a folder of 200 MB
// (400 files of 512 KiB in 8 folders) installed under a signed manifest. "Unchanged"
// is a start with nothing changed since the last check (sizes and times compared,
// nothing read; goal < 0.2 s); "AllChanged" is the first check, when every file is
// read and hashed, for comparison. Each iteration builds the verifier afresh, so
// the stored manifest is read and its signature checked too. Run where TMPDIR is
// a real disk.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <string>

#include "app/package_verifier.h"
#include "util/atomic_file.h"
#include "util/program_folder.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;

constexpr int kFiles = 400;
constexpr std::size_t kFileSize = 512 * 1024;

// The installed folder and the vendor's key, made once.
struct Installed {
  fs::path folder;
  std::string public_key;

  Installed() {
    folder = fs::temp_directory_path() / ("qv_check_bench_" + std::to_string(::getpid()));
    fs::remove_all(folder);
    SetProgramFolder(folder.string());
    const SigningKeys keys = GenerateSigningKeys();
    public_key = EncodeBase64(keys.public_key);
    PackageManifest manifest{"bench", 1, {}, {}};
    std::mt19937 random(5);
    std::string bytes(kFileSize, '\0');
    for (int i = 0; i < kFiles; ++i) {
      for (char& c : bytes)
        c = static_cast<char>(random());
      const std::string folder_name = "F" + std::to_string(i % 8) + "\\";
      const std::string name = "file" + std::to_string(i) + ".bin";
      WriteFileAtomically(NativePath(folder_name + name), bytes);
      manifest.files.push_back(
          {folder_name, name, static_cast<std::int64_t>(kFileSize), Sha256Of(bytes)});
    }
    PackageVerifier verifier(public_key);
    verifier.AcceptManifest(SignedManifestLines(manifest, keys.secret));
    verifier.CheckInstalledFiles();  // records every file's size and time
  }
  ~Installed() { fs::remove_all(folder); }
};

Installed& Folder() {
  static Installed installed;
  return installed;
}

void BM_StartCheckUnchanged(benchmark::State& state) {
  Installed& installed = Folder();
  for (auto _ : state) {
    PackageVerifier verifier(installed.public_key);
    verifier.CheckInstalledFiles();
    if (!verifier.LeftOut().empty()) state.SkipWithError("a file was found changed");
  }
  state.counters["MB"] = static_cast<double>(kFiles * kFileSize) / 1e6;
}
BENCHMARK(BM_StartCheckUnchanged)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_StartCheckAllChanged(benchmark::State& state) {
  Installed& installed = Folder();
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove(NativePath("DB\\package.checked"));
    state.ResumeTiming();
    PackageVerifier verifier(installed.public_key);
    verifier.CheckInstalledFiles();
  }
}
BENCHMARK(BM_StartCheckAllChanged)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

}  // namespace
}  // namespace quorvane

BENCHMARK_MAIN();
