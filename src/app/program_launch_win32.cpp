#include <windows.h>

#include <shellapi.h>

#include "app/command_line.h"
#include "app/program_launch.h"

namespace quorvane {

bool StartProgram(const std::string& path, const std::vector<std::string>& arguments) {
  std::vector<std::string> command_line{path};
  command_line.insert(command_line.end(), arguments.begin(), arguments.end());
  const std::string parameters = BuildRestartParameters(command_line);
  const auto result = reinterpret_cast<INT_PTR>(
      ::ShellExecuteA(nullptr, "OPEN", path.c_str(), parameters.c_str(), nullptr, SW_SHOW));
  return result > 32;
}

}  // namespace quorvane
