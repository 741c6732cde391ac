// Assembles small PE images with a version resource, byte by byte, so the
// version reader is tested on files we fully control. Also writes the seed
// inputs of the version reader's fuzz target.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quorvane::testing {

struct StringTable {
  std::string key;                                           // "040c04e4"
  std::vector<std::pair<std::string, std::string>> strings;  // Windows-1252 name, value
};

struct VersionSpec {
  std::uint16_t major = 1;
  std::uint16_t minor = 0;
  std::uint16_t release = 0;
  std::uint16_t build = 12;
  bool fixed_info = true;
  // Values written with wValueLength in bytes instead of characters, as some
  // resource compilers do.
  bool value_length_in_bytes = false;
  std::vector<StringTable> tables;
  std::vector<std::pair<std::uint16_t, std::uint16_t>> translations;  // language, code page
};

// The VS_VERSIONINFO block.
std::string BuildVersionInfo(const VersionSpec& spec);

struct PeSpec {
  bool pe32_plus = false;
  // The data of the RT_VERSION resource; without it the image has no resource
  // section at all.
  std::optional<std::string> version_resource;
  // An RT_ICON entry listed before RT_VERSION in the type directory.
  bool icon_before_version = true;
};

std::string BuildPeImage(const PeSpec& spec);

// A PE32 image with a French (040c, 1252) resource: version 1.0.0.12 and a few strings.
std::string SampleImage();

}  // namespace quorvane::testing
