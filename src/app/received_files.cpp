#include "app/received_files.h"

#include <cstdio>
#include <filesystem>
#include <map>
#include <system_error>

#include "app/entry.h"
#include "objects/files.h"
#include "objects/protocol.h"
#include "util/atomic_file.h"
#include "util/diagnostic_log.h"
#include "util/program_folder.h"
#include "util/text.h"

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

// The programs the installer starts: the client program and the updater, at the top.
bool IsStartedProgram(const std::string& relative_name) {
  return SameText(relative_name, kClientProgram) ||
         SameText(relative_name, protocol::kDeliveredUpdater);
}

}  // namespace

Status CheckReceivedLocation(std::string_view relative_path, std::string_view file_name,
                             std::string* relative_name) {
  const auto refused = [&](std::string why) {
    return Status::Error(std::string(relative_path) + std::string(file_name), std::move(why));
  };
  std::string folder(relative_path);
  for (char& c : folder)
    if (c == '/') c = '\\';
  if (!folder.empty() && folder.front() == '\\') return refused("the folder is an absolute path");
  if (folder.size() >= 2 && folder[1] == ':') return refused("the folder names a drive");
  if (!folder.empty() && folder.back() != '\\') folder += '\\';
  std::size_t start = 0;
  while (start < folder.size()) {
    const std::size_t end = folder.find('\\', start);
    const std::string problem =
        CheckComponent(std::string_view(folder).substr(start, end - start), "a folder name");
    if (!problem.empty()) return refused(problem);
    start = end + 1;
  }
  if (file_name.find('\\') != std::string_view::npos ||
      file_name.find('/') != std::string_view::npos)
    return refused("the file name holds a separator");
  std::string problem = CheckComponent(file_name, "the file name");
  if (!problem.empty()) return refused(problem);
  const std::string name = folder + std::string(file_name);
  if (!IsBelowProgramFolder(name)) return refused("the path leads outside the program folder");
  if (relative_name != nullptr) *relative_name = name;
  return Status::Ok();
}

std::vector<ReceivedFileResult> WriteReceivedFiles(const std::vector<TSOFile*>& files,
                                                   const ReceivedFileHooks& hooks) {
  std::vector<ReceivedFileResult> results(files.size());
  const auto release = [&](std::size_t i) {
    std::string().swap(files[i]->xData);
    if (hooks.released) hooks.released(i);
  };
  std::map<std::string, std::vector<std::size_t>> added;  // native path -> files given to Add
  DurableFileBatch batch;
  for (std::size_t i = 0; i < files.size(); ++i) {
    TSOFile& file = *files[i];
    ReceivedFileResult& result = results[i];
    result.name = file.xRelativePath + file.xFileName;
    std::string relative;
    result.status = CheckReceivedLocation(file.xRelativePath, file.xFileName, &relative);
    if (result.status.ok() &&
        (file.xFileSize < 0 || static_cast<std::size_t>(file.xFileSize) != file.xData.size()))
      result.status = Status::Error(
          result.name, "its size " + std::to_string(file.xFileSize) + " does not match its " +
                           std::to_string(file.xData.size()) + " bytes of contents");
    std::string path;
    if (result.status.ok()) {
      path = NativePath(relative);
      const Status folder = CheckInsideProgramFolder(fs::path(path).parent_path().string());
      if (!folder.ok())
        result.status = Status::Error(result.name, "its folder " + folder.ToString());
    }
    if (!result.status.ok()) {
      DiagnosticLog(kLogLayer, "file \"" + result.name + "\" refused: " + result.status.why());
      release(i);
      continue;
    }
    if (hooks.before_write) hooks.before_write(i);
    std::string refusal;
    bool judged = false;
    // A failure comes back from Commit with its reason; a refusal drops the
    // temporary, so the file never takes its name.
    batch.AddWith(
        path,
        [&](std::FILE* out) {
          const bool written =
              file.xData.empty() ||
              std::fwrite(file.xData.data(), 1, file.xData.size(), out) == file.xData.size();
          if (hooks.verdict) refusal = hooks.verdict(i);
          judged = true;
          return written && refusal.empty();
        },
        IsStartedProgram(relative));
    // Also when no temporary could be made: the work on the bytes ends before
    // they are released.
    if (!judged && hooks.verdict) refusal = hooks.verdict(i);
    if (!refusal.empty()) {
      result.status = Status::Error(result.name, refusal);  // the verdict's owner logged it
    } else {
      added[path].push_back(i);
    }
    release(i);
  }
  std::vector<DurableFileResult> committed;
  try {
    committed = batch.Commit();
  } catch (const std::exception& error) {
    for (auto& [path, indexes] : added)
      for (std::size_t i : indexes)
        results[i].status = Status::Error(results[i].name, error.what());
  }
  for (const auto& [path, indexes] : added)
    for (std::size_t i : indexes)
      if (results[i].status.ok()) results[i].status = Status::Error(results[i].name, "not written");
  for (const DurableFileResult& done : committed) {
    auto it = added.find(done.path);
    if (it == added.end()) continue;
    for (std::size_t i : it->second)
      results[i].status =
          done.status.ok() ? Status::Ok() : Status::Error(results[i].name, done.status.ToString());
  }
  for (const auto& [path, indexes] : added) {
    for (std::size_t i : indexes) {
      const ReceivedFileResult& result = results[i];
      DiagnosticLog(kLogLayer,
                    "file \"" + result.name + "\" " +
                        (result.status.ok() ? "written" : "not written: " + result.status.why()));
    }
  }
  return results;
}

}  // namespace quorvane
