// quorvane-setup: installs or updates Quorvane in the folder it runs from.
#include <string>
#include <vector>

#include "app/entry.h"

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv, argv + argc);
  return quorvane::RunEntry(arguments, quorvane::DefaultEntryServices());
}
