#include "util/atomic_file.h"

#include <atomic>
#include <filesystem>
#include <random>

namespace quorvane {
namespace fs = std::filesystem;

namespace {

std::string TemporaryNameFor(const fs::path& target) {
  static std::atomic<unsigned> counter{0};
  thread_local std::mt19937 engine{std::random_device{}()};
  return target.filename().string() + ".tmp" + std::to_string(engine()) + "." +
         std::to_string(counter++);
}

}  // namespace

bool WriteFileAtomically(const std::string& path, std::string_view bytes, bool create_folders) {
  std::error_code error;
  const fs::path target(path);
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  if (create_folders) fs::create_directories(folder, error);
  const fs::path temporary = folder / TemporaryNameFor(target);
  std::FILE* file = std::fopen(temporary.string().c_str(), "wb");
  if (file == nullptr) return false;
  bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  ok = ok && std::fflush(file) == 0 && SyncFileToDisk(file);
  ok = (std::fclose(file) == 0) && ok;
  if (ok) {
    fs::rename(temporary, target, error);
    ok = !error;
  }
  if (!ok) fs::remove(temporary, error);
  return ok;
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return std::nullopt;
  std::string content;
  char buffer[65536];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
    content.append(buffer, got);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) return std::nullopt;
  return content;
}

}  // namespace quorvane
