// Stands in for the installed client program: writes the arguments it was
// started with, one per line, to client-args.txt beside itself. Built for both
// systems: the Windows end-to-end test installs it as QuorvaneCustomer.exe.
#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  std::string folder = argv[0];
  folder = folder.substr(0, folder.find_last_of("/\\") + 1);
  const std::string partial = folder + "client-args.partial";
  std::FILE* file = std::fopen(partial.c_str(), "w");
  if (file == nullptr) return 1;
  for (int i = 1; i < argc; ++i)
    std::fprintf(file, "%s\n", argv[i]);
  std::fclose(file);
  // Renamed only when complete, so a waiting test never reads half a file.
  return std::rename(partial.c_str(), (folder + "client-args.txt").c_str()) == 0 ? 0 : 1;
}
