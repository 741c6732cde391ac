// Version information of Windows program files (.exe, .dll): our own reader of
// the VS_VERSIONINFO resource of PE images (PE32 and PE32+), so the file
// inventory reports versions on every platform. Pure functions over their inputs;
// safe from any thread. Hostile or damaged files give "no version", never a crash.
#pragma once

#include <string>
#include <string_view>

namespace quorvane {

struct TFileVersion {
  bool Valid = false;  // the file has a version resource
  std::string CompanyName;
  std::string FileDescription;
  std::string FileVersion;
  std::string InternalName;
  std::string OriginalFilename;
  std::string ProductName;
  std::string ProductVersion;
  std::string LegalCopyright;
  std::string LegalTrademarks;
  std::string Comments;
  std::string PrivateBuild;
  std::string SpecialBuild;
  std::string ShortVersion;  // "1.0" from the fixed part's file version
  std::string FullVersion;   // "1.0.0.12"
};

// Fills `version` from the file at the native `path`; true when the file has a
// version resource. The string values are those of the first translation the
// resource lists, converted to Windows-1252; a missing value is empty.
bool ReadVersion(TFileVersion& version, std::string_view path);

// The same from the bytes of a whole PE image.
bool ReadVersionFromBytes(TFileVersion& version, std::string_view bytes);

// What the file inventory records: "NE" when there is no such file, "NF" when it
// has no version resource, else the full version ("1.0.0.12").
std::string FileVersionText(std::string_view path);

}  // namespace quorvane
