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

TEST(ProgramFolder, ExecutableFolderHoldsTheRunningProgram) {
  const std::string folder = platform::ExecutableFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), '/');
  EXPECT_TRUE(std::filesystem::exists(folder + "util_tests")) << folder;
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
  EXPECT_EQ(first, "/tmp/first-folder/");  // no dangling reference (checked by ASan)
  EXPECT_EQ(ProgramFolder(), "/tmp/second-folder/");
}

class NativePathTest : public ::testing::Test {
 protected:
  void SetUp() override { SetProgramFolder(temp_.folder() + "Mixed Case/"); }
  std::string Folder() const { return temp_.folder() + "Mixed Case/"; }
  TempFolder temp_;
};

TEST_F(NativePathTest, RelativeNamesAreLowerCasedBelowTheFolder) {
  EXPECT_EQ(NativePath("DB\\TRM\\FST"), Folder() + "db/trm/fst");
  EXPECT_EQ(NativePath("DB\\ByMe.Identification.zub"), Folder() + "db/byme.identification.zub");
  EXPECT_EQ(NativePath("merx"), Folder() + "merx");
  EXPECT_EQ(NativePath(""), Folder());
}

TEST_F(NativePathTest, FullPathsBelowTheFolderKeepTheFolderAsItIs) {
  EXPECT_EQ(NativePath(Folder() + "DB\\TRM\\A.TRM"), Folder() + "db/trm/a.trm");
  EXPECT_EQ(NativePath(Folder() + "QuorvaneCustomer.exe"), Folder() + "quorvanecustomer.exe");
}

TEST_F(NativePathTest, MappingIsIdempotent) {
  const std::string once = NativePath("DB\\PRP\\X.prp");
  EXPECT_EQ(NativePath(once), once);
}

TEST_F(NativePathTest, AbsolutePathsElsewhereOnlyGetSeparators) {
  EXPECT_EQ(NativePath("/Other/Place\\File.TXT"), "/Other/Place/File.TXT");
  // The folder without its separator is not "below" it.
  const std::string bare = Folder().substr(0, Folder().size() - 1);
  EXPECT_EQ(NativePath(bare), bare);
}

TEST_F(NativePathTest, LeadingSeparatorOfARelativeNameIsNotDoubled) {
  EXPECT_EQ(NativePath("\\DB\\Data.PRP"), Folder() + "db/data.prp");
}

TEST_F(NativePathTest, AccentedLettersBecomeUtf8AndKeepTheirCase) {
  // Case mapping is ASCII only; the Windows-1252 name becomes a UTF-8 file name.
  EXPECT_EQ(NativePath("Données\\ÉTÉ.TXT"_w), Folder() + "données/ÉtÉ.txt");
  EXPECT_EQ(NameFromNative("Résumé.txt"), "Résumé.txt"_w);
  EXPECT_EQ(NameFromNative("Résumé.txt"_w), "Résumé.txt"_w);  // no UTF-8: bytes kept
}

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
  EXPECT_FALSE(IsBelowProgramFolder("/etc/passwd"));
}

TEST(ProgramFolder, ConcurrentReadersSeeAWholeFolder) {
  SetProgramFolder("/tmp/a-folder/");
  std::vector<std::thread> readers;
  std::atomic<int> bad{0};
  for (int t = 0; t < 4; ++t)
    readers.emplace_back([&bad] {
      for (int i = 0; i < 2000; ++i) {
        const std::string path = NativePath("DB\\X");
        if (path != "/tmp/a-folder/db/x" && path != "/tmp/b-folder/db/x") ++bad;
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
