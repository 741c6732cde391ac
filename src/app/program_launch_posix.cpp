#include <spawn.h>

#include "app/command_line.h"
#include "app/program_launch.h"
#include "util/debug_output.h"

extern char** environ;

namespace quorvane {

bool StartProgram(const std::string& path, const std::vector<std::string>& arguments) {
  std::vector<std::string> storage;
  storage.reserve(arguments.size() + 1);
  storage.push_back(path);
  storage.insert(storage.end(), arguments.begin(), arguments.end());
  DebugOutput("Start " + path + BuildRestartParameters(storage));
  std::vector<char*> argv;
  for (std::string& argument : storage)
    argv.push_back(argument.data());
  argv.push_back(nullptr);

  pid_t pid = 0;
  return ::posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv.data(), environ) == 0;
}

}  // namespace quorvane
