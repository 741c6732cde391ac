// quorvane-server: serves a package folder to installers (see --help).
#include <sys/resource.h>

#include <cstdio>

#include "command_line.h"
#include "server.h"
#include "server_log.h"
#include "signing_key.h"

int main(int argc, char** argv) {
  using namespace quorvane::server;
  CommandLine command = ParseCommandLine(argc, argv);
  if (command.exit_code >= 0) {
    std::fputs(command.message.c_str(), command.exit_code == 0 ? stdout : stderr);
    return command.exit_code == 0 ? 0 : 2;
  }
  if (command.keygen) {
    std::string error;
    if (!WriteKeyPair(*command.keygen, &error)) {
      std::fprintf(stderr, "quorvane-server: %s\n", error.c_str());
      return 1;
    }
    std::printf("secret key: %s\npublic key: %s.pub\n", command.keygen->c_str(),
                command.keygen->c_str());
    return 0;
  }
  ServerLog log;
  std::string error;
  if (!log.Open(command.log, &error)) {
    std::fprintf(stderr, "quorvane-server: %s\n", error.c_str());
    return 1;
  }
  // Every connection holds a descriptor: allow as many as the system lets us.
  rlimit files{};
  if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);
  }
  Server server(command.options, log);
  server.StopOnSignals();
  if (!server.Start(&error)) {
    log.Line("cannot start: " + error);
    if (command.log != "-" && !command.log.empty())
      std::fprintf(stderr, "quorvane-server: %s\n", error.c_str());
    return 1;
  }
  server.Wait();
  return 0;
}
