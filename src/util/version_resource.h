// Parser of a VS_VERSIONINFO block (the data of a version resource): the fixed
// file information and the String/Var children, with UTF-16LE keys and values
// aligned to 4 bytes. Every length is checked against the block that holds it.
// Private to util; no shared state.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvane {

class VersionResource {
 public:
  // Nothing when `data` does not start with a well-formed "VS_VERSION_INFO" block.
  static std::optional<VersionResource> Parse(std::string_view data);

  // The file version of the fixed part (VS_FIXEDFILEINFO), when it is there.
  bool HasFixedInfo() const { return has_fixed_info_; }
  std::uint32_t FileVersionMs() const { return file_version_ms_; }
  std::uint32_t FileVersionLs() const { return file_version_ls_; }

  // "\VarFileInfo\Translation": the first entry, language in the high half and
  // code page in the low half (0x040904B0), or nothing.
  std::optional<std::uint32_t> FirstTranslation() const;

  // "\StringFileInfo\<table>\<name>" in Windows-1252; nothing when missing.
  // Table and name are compared without regard to ASCII case.
  std::optional<std::string> StringValue(std::string_view table, std::string_view name) const;

 private:
  explicit VersionResource(std::string_view data) : data_(data) {}

  std::string_view data_;
  bool has_fixed_info_ = false;
  std::uint32_t file_version_ms_ = 0;
  std::uint32_t file_version_ls_ = 0;
};

}  // namespace quorvane
