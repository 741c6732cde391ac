#include "util/program_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>
#include <vector>

#include "support/temp_folder.h"
#include "util/codec.h"
#include "util/program_folder_backend.h"

namespace quorvane {
namespace {

using testing::TempFolder;
using literals::operator""_w;
constexpr char kSeparator = TempFolder::kSeparator;

// What a name below the program folder becomes: lower case with "/" on POSIX;
// on Windows, which ignores case, the name as given with "\".
struct NameCase {
  const char* name;
  const char* posix;
  const char* windows;
  std::string Expected() const {
#ifdef _WIN32
    return windows;
#else
    return posix;
#endif
  }
};

TEST(ProgramFolder, ExecutableFolderHoldsTheRunningProgram) {
  const std::string folder = platform::ExecutableFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), kSeparator);
#ifdef _WIN32
  EXPECT_TRUE(std::filesystem::exists(folder + "util_tests.exe")) << folder;
#else
  EXPECT_TRUE(std::filesystem::exists(folder + "util_tests")) << folder;
#endif
}

TEST(ProgramFolder, ALinkLeadingOutsideIsOutsideWhetherItsTargetExistsOrNot) {
  namespace fs = std::filesystem;
  TempFolder program;
  SetProgramFolder(program.folder());
  fs::create_directory(program.path() / "real");
  fs::create_directory_symlink("real", program.path() / "inside");
  fs::create_directory_symlink("/", program.path() / "out");
  fs::create_symlink("/nonexistent-quorvane/dir", program.path() / "dangling");
  fs::create_symlink("dangling/deeper", program.path() / "chain");
  for (const char* name : {"real/a", "inside/a", "new/a"})
    EXPECT_TRUE(CheckInsideProgramFolder(program.folder() + name).ok()) << name;
  for (const char* name : {"out/a", "out/../real", "dangling", "dangling/a", "chain"})
    EXPECT_FALSE(CheckInsideProgramFolder(program.folder() + name).ok()) << name;
  SetProgramFolder("");
}

TEST(ProgramFolder, SetAddsTheTrailingSeparator) {
  TempFolder temp;
  SetProgramFolder(temp.path().string());
  EXPECT_EQ(ProgramFolder(), temp.folder());
  SetProgramFolder(temp.folder());
  EXPECT_EQ(ProgramFolder(), temp.folder());
}

TEST(ProgramFolder, EmptyOverrideRestoresTheExecutableFolder) {
  SetProgramFolder("/tmp/some-folder");
  SetProgramFolder("");
  EXPECT_EQ(ProgramFolder(), platform::ExecutableFolder());
}

TEST(ProgramFolder, EarlierReferencesStayValidAfterAnOverride) {
  SetProgramFolder("/tmp/first-folder");
  const std::string& first = ProgramFolder();
  SetProgramFolder("/tmp/second-folder");
  EXPECT_EQ(first, "/tmp/first-folder" + std::string(1, kSeparator));  // checked by ASan
  EXPECT_EQ(ProgramFolder(), "/tmp/second-folder" + std::string(1, kSeparator));
}

class NativePathTest : public ::testing::Test {
 protected:
  void SetUp() override { SetProgramFolder(Folder()); }
  std::string Folder() const { return temp_.folder() + "Mixed Case" + kSeparator; }
  TempFolder temp_;
};

TEST_F(NativePathTest, NamesBelowTheFolderGetTheSystemsSeparatorAndCase) {
  const NameCase cases[] = {
      {"DB\\TRM\\FST", "db/trm/fst", "DB\\TRM\\FST"},
      {"DB/ByMe.Identification.zub", "db/byme.identification.zub", "DB\\ByMe.Identification.zub"},
      {"merx", "merx", "merx"},
      {"", "", ""},
      {"\\DB\\Data.PRP", "db/data.prp", "DB\\Data.PRP"},  // the separator is not doubled
      // ASCII case only; on POSIX the Windows-1252 name becomes UTF-8
      {"DB\\\xC9T\xC9", "db/\xC3\x89t\xC3\x89", "DB\\\xC9T\xC9"},
  };
  for (const NameCase& c : cases) {
    EXPECT_EQ(NativePath(c.name), Folder() + c.Expected()) << c.name;
    // A full path below the folder keeps the folder as it is.
    if (c.name[0] != '\\') {
      EXPECT_EQ(NativePath(Folder() + c.name), Folder() + c.Expected()) << c.name;
    }
  }
}

TEST_F(NativePathTest, MappingIsIdempotent) {
  const std::string once = NativePath("DB\\PRP\\X.prp");
  EXPECT_EQ(NativePath(once), once);
}

TEST_F(NativePathTest, AbsolutePathsElsewhereOnlyGetSeparators) {
#ifdef _WIN32
  EXPECT_EQ(NativePath("C:/Other/Place\\File.TXT"), "C:\\Other\\Place\\File.TXT");
#else
  EXPECT_EQ(NativePath("/Other/Place\\File.TXT"), "/Other/Place/File.TXT");
#endif
  // The folder without its separator is not "below" it.
  const std::string bare = Folder().substr(0, Folder().size() - 1);
  EXPECT_EQ(NativePath(bare), bare);
}

#ifndef _WIN32  // POSIX names: lower case, "/" and UTF-8 on disk
TEST_F(NativePathTest, AccentedLettersBecomeUtf8AndKeepTheirCase) {
  // Case mapping is ASCII only; the Windows-1252 name becomes a UTF-8 file name.
  EXPECT_EQ(NativePath("Données\\ÉTÉ.TXT"_w), Folder() + "données/ÉtÉ.txt");
  EXPECT_EQ(NameFromNative("Résumé.txt"), "Résumé.txt"_w);
  EXPECT_EQ(NameFromNative("Résumé.txt"_w), "Résumé.txt"_w);  // no UTF-8: bytes kept
}
#endif

TEST_F(NativePathTest, NamesThatClimbOutOfTheFolderAreRecognised) {
  EXPECT_TRUE(IsBelowProgramFolder("DB\\TRM\\FST"));
  EXPECT_TRUE(IsBelowProgramFolder(""));
  EXPECT_TRUE(IsBelowProgramFolder("DB\\..\\upd.exe"));
  EXPECT_TRUE(IsBelowProgramFolder(".\\DB\\.\\x"));
  EXPECT_TRUE(IsBelowProgramFolder("DB\\..x\\y"));  // "..x" is a plain name
  EXPECT_TRUE(IsBelowProgramFolder(Folder() + "DB\\x"));
  EXPECT_FALSE(IsBelowProgramFolder("..\\x"));
  EXPECT_FALSE(IsBelowProgramFolder("DB\\..\\..\\x"));
  EXPECT_FALSE(IsBelowProgramFolder("DB/../../x"));
  EXPECT_FALSE(IsBelowProgramFolder(".."));
  EXPECT_FALSE(IsBelowProgramFolder(Folder() + "..\\x"));
#ifndef _WIN32
  // On Windows a leading separator starts a name below the folder, like "\\DB".
  EXPECT_FALSE(IsBelowProgramFolder("/etc/passwd"));
#endif
}

TEST(ProgramFolder, ConcurrentReadersSeeAWholeFolder) {
  SetProgramFolder("/tmp/a-folder");
  std::vector<std::thread> readers;
  std::atomic<int> bad{0};
  for (int t = 0; t < 4; ++t)
    readers.emplace_back([&bad] {
      for (int i = 0; i < 2000; ++i) {
        const std::string path = NativePath("DB\\X");
        const std::string name = NameCase{"", "db/x", "DB\\X"}.Expected();
        const std::string sep(1, kSeparator);
        if (path != "/tmp/a-folder" + sep + name && path != "/tmp/b-folder" + sep + name) ++bad;
      }
    });
  for (int i = 0; i < 100; ++i)
    SetProgramFolder(i % 2 ? "/tmp/a-folder" : "/tmp/b-folder");
  for (auto& reader : readers)
    reader.join();
  EXPECT_EQ(bad.load(), 0);
}

}  // namespace
}  // namespace quorvane
