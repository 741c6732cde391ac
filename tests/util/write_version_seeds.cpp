// Writes the seed inputs of the version reader's fuzz target into the folder
// given as argument: whole PE images and bare VS_VERSIONINFO blocks.
#include <fstream>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "pe_builder.h"

using namespace quorvane::testing;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: write_version_seeds <folder>\n";
    return 2;
  }
  VersionSpec two;
  two.major = 3;
  two.minor = 1;
  two.tables = {{"040904b0", {{"CompanyName", "Quorvane Ltd"}, {"FileVersion", "3.1"}}},
                {"040c04e4", {{"CompanyName", "Quorvane SARL"}, {"Comments", "\xE9t\xE9"}}}};
  two.translations = {{0x040C, 0x04E4}, {0x0409, 0x04B0}};
  VersionSpec bytes_lengths = two;
  bytes_lengths.value_length_in_bytes = true;
  VersionSpec no_fixed = two;
  no_fixed.fixed_info = false;

  const std::vector<std::pair<std::string, std::string>> seeds = {
      {"sample_pe32", SampleImage()},
      {"two_tables_pe32plus",
       BuildPeImage({.pe32_plus = true, .version_resource = BuildVersionInfo(two)})},
      {"byte_lengths", BuildPeImage({.version_resource = BuildVersionInfo(bytes_lengths)})},
      {"no_fixed_info", BuildPeImage({.version_resource = BuildVersionInfo(no_fixed),
                                      .icon_before_version = false})},
      {"no_resources", BuildPeImage({})},
      {"info_block", BuildVersionInfo(two)},
      {"info_block_empty", BuildVersionInfo(VersionSpec{})},
  };
  for (const auto& [name, bytes] : seeds) {
    std::ofstream out(std::string(argv[1]) + "/" + name, std::ios::binary);
    out << bytes;
    if (!out) {
      std::cerr << "cannot write " << name << "\n";
      return 1;
    }
  }
  return 0;
}
