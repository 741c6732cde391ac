#include "util/file_version.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "pe_builder.h"
#include "support/temp_folder.h"
#include "util/codec.h"

namespace quorvane {
namespace {

using namespace quorvane::literals;
using testing::BuildPeImage;
using testing::BuildVersionInfo;
using testing::SampleImage;
using testing::StringTable;
using testing::TempFolder;
using testing::VersionSpec;

// Layout of the images BuildPeImage writes: the resource section at 0x600, its
// data entry at +80 and the version data at +96.
constexpr std::size_t kResourceSection = 0x600;
constexpr std::size_t kDataEntry = kResourceSection + 80;
constexpr std::size_t kVersionData = kResourceSection + 96;

void Put32(std::string& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i)
    bytes[at + i] = static_cast<char>(value >> (8 * i));
}

std::string WriteFile(const TempFolder& folder, const std::string& name, const std::string& bytes) {
  const std::string path = folder.folder() + name;
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

VersionSpec TwoLanguages() {
  VersionSpec spec;
  spec.major = 2;
  spec.minor = 13;
  spec.release = 65535;
  spec.build = 7;
  spec.tables = {
      {"040904b0", {{"CompanyName", "Quorvane Ltd"}, {"ProductName", "Setup"}}},
      {"040C04E4", {{"CompanyName", "Quorvane SARL"}, {"ProductName", "Installation"}}},
  };
  spec.translations = {{0x040C, 0x04E4}, {0x0409, 0x04B0}};
  return spec;
}

// Four decimal numbers of at most five digits (16-bit halves) joined by dots.
bool IsFourPartVersion(const std::string& text) {
  static const std::regex kFourParts(R"(\d{1,5}\.\d{1,5}\.\d{1,5}\.\d{1,5})");
  return std::regex_match(text, kFourParts);
}

TEST(FileVersion, ReadsVersionAndStringsOfAFile) {
  TempFolder temp;
  const std::string path = WriteFile(temp, "client.exe", SampleImage());
  TFileVersion version;
  ASSERT_TRUE(ReadVersion(version, path));
  EXPECT_TRUE(version.Valid);
  EXPECT_EQ(version.FullVersion, "1.0.0.12");
  EXPECT_EQ(version.ShortVersion, "1.0");
  EXPECT_EQ(version.CompanyName, "Quorvane");
  EXPECT_EQ(version.FileDescription, "Client d'installation");
  EXPECT_EQ(version.FileVersion, "1.0.0.12");
  EXPECT_EQ(version.ProductName, "Quorvane Setup");
  // UTF-16 text arrives in Windows-1252: the copyright sign, an en dash, é.
  EXPECT_EQ(version.LegalCopyright, "© Quorvane – tous droits réservés"_w);
  EXPECT_EQ(version.LegalCopyright, "\xA9 Quorvane \x96 tous droits r\xE9serv\xE9s");
  EXPECT_EQ(version.Comments, "");  // not in the resource
  EXPECT_EQ(version.SpecialBuild, "");
  EXPECT_EQ(FileVersionText(path), "1.0.0.12");
}

TEST(FileVersion, Pe32PlusImages) {
  VersionSpec spec = TwoLanguages();
  const std::string image =
      BuildPeImage({.pe32_plus = true, .version_resource = BuildVersionInfo(spec)});
  TFileVersion version;
  ASSERT_TRUE(ReadVersionFromBytes(version, image));
  EXPECT_EQ(version.FullVersion, "2.13.65535.7");
  EXPECT_EQ(version.ShortVersion, "2.13");
}

TEST(FileVersion, StringsComeFromTheFirstTranslation) {
  VersionSpec spec = TwoLanguages();
  TFileVersion version;
  ASSERT_TRUE(
      ReadVersionFromBytes(version, BuildPeImage({.version_resource = BuildVersionInfo(spec)})));
  // The table is named "040c04e4" in lower case; the resource says "040C04E4".
  EXPECT_EQ(version.CompanyName, "Quorvane SARL");
  EXPECT_EQ(version.ProductName, "Installation");

  spec.translations = {{0x0409, 0x04B0}};
  ASSERT_TRUE(
      ReadVersionFromBytes(version, BuildPeImage({.version_resource = BuildVersionInfo(spec)})));
  EXPECT_EQ(version.CompanyName, "Quorvane Ltd");
}

TEST(FileVersion, TranslationWithoutItsTableGivesEmptyStrings) {
  VersionSpec spec = TwoLanguages();
  spec.translations = {{0x0407, 0x04E4}};
  TFileVersion version;
  ASSERT_TRUE(
      ReadVersionFromBytes(version, BuildPeImage({.version_resource = BuildVersionInfo(spec)})));
  EXPECT_EQ(version.CompanyName, "");
  EXPECT_EQ(version.FullVersion, "2.13.65535.7");
}

TEST(FileVersion, NoTranslationStillGivesTheVersion) {
  VersionSpec spec = TwoLanguages();
  spec.translations.clear();
  TFileVersion version;
  ASSERT_TRUE(
      ReadVersionFromBytes(version, BuildPeImage({.version_resource = BuildVersionInfo(spec)})));
  EXPECT_TRUE(version.Valid);
  EXPECT_EQ(version.CompanyName, "");
  EXPECT_EQ(version.FullVersion, "2.13.65535.7");
}

TEST(FileVersion, ValueLengthsCountedInBytesReadTheSame) {
  VersionSpec spec = TwoLanguages();
  spec.value_length_in_bytes = true;
  TFileVersion version;
  ASSERT_TRUE(
      ReadVersionFromBytes(version, BuildPeImage({.version_resource = BuildVersionInfo(spec)})));
  EXPECT_EQ(version.CompanyName, "Quorvane SARL");
}

TEST(FileVersion, VersionEntryFoundWithoutOtherTypesBeforeIt) {
  TFileVersion version;
  ASSERT_TRUE(ReadVersionFromBytes(
      version, BuildPeImage({.version_resource = BuildVersionInfo(TwoLanguages()),
                             .icon_before_version = false})));
  EXPECT_EQ(version.FullVersion, "2.13.65535.7");
}

TEST(FileVersion, ResourceWithoutFixedPartIsValidButShowsNotFound) {
  VersionSpec spec = TwoLanguages();
  spec.fixed_info = false;
  TempFolder temp;
  const std::string path =
      WriteFile(temp, "nofixed.dll", BuildPeImage({.version_resource = BuildVersionInfo(spec)}));
  TFileVersion version;
  EXPECT_TRUE(ReadVersion(version, path));
  EXPECT_EQ(version.FullVersion, "");
  EXPECT_EQ(version.CompanyName, "Quorvane SARL");
  EXPECT_EQ(FileVersionText(path), "NF");
}

TEST(FileVersion, NoResourceSectionIsNotFound) {
  TempFolder temp;
  const std::string path = WriteFile(temp, "plain.exe", BuildPeImage({}));
  TFileVersion version;
  version.CompanyName = "stale";
  EXPECT_FALSE(ReadVersion(version, path));
  EXPECT_FALSE(version.Valid);
  EXPECT_EQ(version.CompanyName, "");  // cleared, not left from an earlier read
  EXPECT_EQ(FileVersionText(path), "NF");
}

TEST(FileVersion, MissingFilesAndFoldersAreNotThere) {
  TempFolder temp;
  EXPECT_EQ(FileVersionText(temp.folder() + "absent.exe"), "NE");
  EXPECT_EQ(FileVersionText(temp.folder()), "NE");
  EXPECT_EQ(FileVersionText(""), "NE");
  TFileVersion version;
  EXPECT_FALSE(ReadVersion(version, temp.folder() + "absent.exe"));
}

TEST(FileVersion, OtherFilesAreNotFound) {
  TempFolder temp;
  EXPECT_EQ(FileVersionText(WriteFile(temp, "empty", "")), "NF");
  EXPECT_EQ(FileVersionText(WriteFile(temp, "readme.txt", "MZ is how it starts\n")), "NF");
  EXPECT_EQ(FileVersionText(WriteFile(temp, "data.prp", std::string(100000, 'x'))), "NF");
}

TEST(FileVersion, EveryTruncationIsRefusedWithoutCrashing) {
  const std::string image = SampleImage();
  const std::size_t data_size = static_cast<unsigned char>(image[kDataEntry + 4]) |
                                static_cast<unsigned char>(image[kDataEntry + 5]) << 8;
  const std::size_t data_end = kVersionData + data_size;
  for (std::size_t size = 0; size < image.size(); ++size) {
    TFileVersion version;
    const bool valid = ReadVersionFromBytes(version, std::string_view(image).substr(0, size));
    if (size < data_end) {
      EXPECT_FALSE(valid) << "size " << size;
    }
    if (valid) {
      EXPECT_EQ(version.FullVersion, "1.0.0.12");
    }
  }
}

TEST(FileVersion, DamagedBytesNeverCrash) {
  const std::string image = SampleImage();
  // Every byte of the headers and of the resource section; the code section
  // between them is filler that the reader never looks at.
  constexpr std::size_t kHeadersEnd = 0x200;
  for (std::size_t at = 0; at < image.size();
       at = at + 1 == kHeadersEnd ? kResourceSection : at + 1) {
    for (const char value : {'\x00', '\xFF', '\x7F'}) {
      std::string damaged = image;
      damaged[at] = value;
      TFileVersion version;
      if (ReadVersionFromBytes(version, damaged) && !version.FullVersion.empty()) {
        EXPECT_TRUE(IsFourPartVersion(version.FullVersion)) << version.FullVersion;
      }
    }
  }
}

TEST(FileVersion, HostileOffsetsAreRefused) {
  const std::string image = SampleImage();
  TFileVersion version;

  std::string far_header = image;
  Put32(far_header, 0x3C, 0xFFFFFFF0);  // PE header beyond the file
  EXPECT_FALSE(ReadVersionFromBytes(version, far_header));

  std::string huge_data = image;
  Put32(huge_data, kDataEntry + 4, 0xFFFFFFFF);  // data size
  EXPECT_FALSE(ReadVersionFromBytes(version, huge_data));

  std::string outside = image;
  Put32(outside, kDataEntry, 0x7FFFFFF0);  // data address in no section
  EXPECT_FALSE(ReadVersionFromBytes(version, outside));

  std::string loop = image;
  Put32(loop, kResourceSection + 32 + 20, 0x80000000u);  // name level points at the type level
  EXPECT_FALSE(ReadVersionFromBytes(version, loop));
}

TEST(FileVersion, DamagedBlockLengthsStayInsideTheResource) {
  std::string image = SampleImage();
  // Root length 0: no block at all.
  std::string zero = image;
  zero[kVersionData] = zero[kVersionData + 1] = 0;
  TFileVersion version;
  EXPECT_FALSE(ReadVersionFromBytes(version, zero));

  // Root length above the resource: cut to the resource, still read.
  std::string long_root = image;
  long_root[kVersionData] = long_root[kVersionData + 1] = '\xFF';
  ASSERT_TRUE(ReadVersionFromBytes(version, long_root));
  EXPECT_EQ(version.FullVersion, "1.0.0.12");
}

TEST(FileVersion, ChildWithZeroLengthEndsTheWalk) {
  // The first child of the root (StringFileInfo) claims length 0: the walk must
  // stop rather than loop, and the strings are simply missing.
  const std::string info = BuildVersionInfo(TwoLanguages());
  const std::size_t first_child = info.find(std::string("S\0t\0r\0i\0n\0g\0F", 14)) - 6;
  std::string damaged = info;
  damaged[first_child] = damaged[first_child + 1] = 0;
  TFileVersion version;
  ASSERT_TRUE(ReadVersionFromBytes(version, BuildPeImage({.version_resource = damaged})));
  EXPECT_EQ(version.CompanyName, "");
  EXPECT_EQ(version.FullVersion, "2.13.65535.7");
}

}  // namespace
}  // namespace quorvane
