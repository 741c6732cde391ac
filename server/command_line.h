// The command line of quorvane-server, parsed with CLI11 into ServerOptions.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "server.h"

namespace quorvane::server {

struct CommandLine {
  ServerOptions options;
  std::string log = "-";
  // "keygen --key FILE": write a new signing key pair there instead of serving.
  std::optional<std::filesystem::path> keygen;
  // Set when the program should exit at once (help, or a usage error) with
  // this code after printing `message`.
  int exit_code = -1;
  std::string message;
};

CommandLine ParseCommandLine(int argc, const char* const* argv);

}  // namespace quorvane::server
