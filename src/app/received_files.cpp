#include "app/received_files.h"

#include <filesystem>
#include <map>
#include <system_error>

#include "objects/files.h"
#include "util/atomic_file.h"
#include "util/diagnostic_log.h"
#include "util/program_folder.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kLogLayer = "exchange";

bool IsForbiddenCharacter(char c) {
  return static_cast<unsigned char>(c) < 0x20 || c == ':' || c == '*' || c == '?' || c == '"' ||
         c == '<' || c == '>' || c == '|';
}

// Why one folder or file name may not be used, or empty.
std::string CheckComponent(std::string_view part, std::string_view what) {
  if (part.empty()) return std::string(what) + " is empty";
  if (part == "." || part == "..") return std::string(what) + " is \"" + std::string(part) + "\"";
  for (char c : part) {
    if (c == ':') return std::string(what) + " names a drive or a stream";
    if (IsForbiddenCharacter(c)) return std::string(what) + " holds a forbidden character";
  }
  if (part.back() == ' ' || part.back() == '.')
    return std::string(what) + " ends in a blank or a dot";
  return {};
}

// The nearest folder that exists on disk, resolved through links, must lie in the
// program folder: an existing link must not carry a write elsewhere.
bool StaysInsideOnDisk(const fs::path& target) {
  std::error_code error;
  const fs::path root = fs::weakly_canonical(fs::path(ProgramFolder()), error);
  if (error) return false;
  fs::path folder = target.parent_path();
  while (!folder.empty() && !fs::exists(fs::symlink_status(folder, error))) {
    if (folder == folder.parent_path()) break;
    folder = folder.parent_path();
  }
  const fs::path resolved = fs::weakly_canonical(folder, error);
  if (error) return false;
  auto r = root.begin();
  auto f = resolved.begin();
  for (; r != root.end(); ++r, ++f) {
    if (r->empty()) continue;  // the trailing separator of the root
    if (f == resolved.end() || *r != *f) return false;
  }
  return true;
}

}  // namespace

std::string CheckReceivedLocation(std::string_view relative_path, std::string_view file_name,
                                  std::string* relative_name) {
  std::string folder(relative_path);
  for (char& c : folder)
    if (c == '/') c = '\\';
  if (!folder.empty() && folder.front() == '\\') return "the folder is an absolute path";
  if (folder.size() >= 2 && folder[1] == ':') return "the folder names a drive";
  if (!folder.empty() && folder.back() != '\\') folder += '\\';
  std::size_t start = 0;
  while (start < folder.size()) {
    const std::size_t end = folder.find('\\', start);
    const std::string problem =
        CheckComponent(std::string_view(folder).substr(start, end - start), "a folder name");
    if (!problem.empty()) return problem;
    start = end + 1;
  }
  if (file_name.find('\\') != std::string_view::npos ||
      file_name.find('/') != std::string_view::npos)
    return "the file name holds a separator";
  std::string problem = CheckComponent(file_name, "the file name");
  if (!problem.empty()) return problem;
  const std::string name = folder + std::string(file_name);
  if (!IsBelowProgramFolder(name)) return "the path leads outside the program folder";
  if (relative_name != nullptr) *relative_name = name;
  return {};
}

std::vector<ReceivedFileResult> WriteReceivedFiles(const std::vector<TSOFile*>& files) {
  std::vector<ReceivedFileResult> results(files.size());
  std::map<std::string, std::vector<std::size_t>> added;  // native path -> files given to Add
  DurableFileBatch batch;
  for (std::size_t i = 0; i < files.size(); ++i) {
    TSOFile& file = *files[i];
    ReceivedFileResult& result = results[i];
    result.name = file.xRelativePath + file.xFileName;
    std::string relative;
    result.reason = CheckReceivedLocation(file.xRelativePath, file.xFileName, &relative);
    if (result.reason.empty() &&
        (file.xFileSize < 0 || static_cast<std::size_t>(file.xFileSize) != file.xData.size()))
      result.reason = "its size " + std::to_string(file.xFileSize) + " does not match its " +
                      std::to_string(file.xData.size()) + " bytes of contents";
    std::string path;
    if (result.reason.empty()) {
      path = NativePath(relative);
      if (!StaysInsideOnDisk(fs::path(path)))
        result.reason = "an existing link leads outside the program folder";
    }
    if (!result.reason.empty()) {
      DiagnosticLog(kLogLayer, "file \"" + result.name + "\" refused: " + result.reason);
      continue;
    }
    try {
      batch.Add(path, file.xData);  // a failure comes back from Commit with its reason
      added[path].push_back(i);
      std::string().swap(file.xData);
    } catch (const std::exception& error) {
      result.reason = error.what();
    }
  }
  std::vector<DurableFileResult> committed;
  try {
    committed = batch.Commit();
  } catch (const std::exception& error) {
    for (auto& [path, indexes] : added)
      for (std::size_t i : indexes)
        results[i].reason = error.what();
  }
  for (const DurableFileResult& done : committed) {
    auto it = added.find(done.path);
    if (it == added.end()) continue;
    for (std::size_t i : it->second) {
      results[i].written = done.written;
      results[i].reason = done.written ? std::string() : done.reason;
    }
  }
  for (const auto& [path, indexes] : added) {
    for (std::size_t i : indexes) {
      ReceivedFileResult& result = results[i];
      if (!result.written && result.reason.empty()) result.reason = "not written";
      DiagnosticLog(kLogLayer, "file \"" + result.name + "\" " +
                                   (result.written ? "written" : "not written: " + result.reason));
    }
  }
  return results;
}

}  // namespace quorvane
