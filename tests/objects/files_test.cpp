#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "model/object_stream.h"
#include "objects/files.h"
#include "objects_test_support.h"
#include "util/atomic_file.h"
#include "util/codec.h"
#include "util/diagnostic_log.h"
#include "util/program_folder.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;
using namespace literals;

class FilesTest : public test::ObjectsTest {
 protected:
  void Write(const std::string& relative, const std::string& bytes) {
    const fs::path path = fs::path(Folder()) / relative;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
  }
  std::string Read(const std::string& relative) {
    return ReadWholeFile((fs::path(Folder()) / relative).string()).value_or("<missing>");
  }
  std::size_t EntriesIn(const std::string& relative) {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(fs::path(Folder()) / relative))
      ++count;
    return count;
  }
};

TEST_F(FilesTest, AddFileTrimsAndUpperCases) {
  TSOFilesList list;
  list.AddFile("db ", " a.txt", "1.0.0.0 ", 12);
  EXPECT_EQ(list.xFileDirs->Lines(), std::vector<std::string>{"DB"});
  EXPECT_EQ(list.xFileNames->Lines(), std::vector<std::string>{"A.TXT"});
  EXPECT_EQ(list.xFileSizes->Lines(), std::vector<std::string>{"12"});
  EXPECT_EQ(list.xFileVersions->Lines(), std::vector<std::string>{"1.0.0.0"});
}

TEST_F(FilesTest, AddFolderListsPlainFilesWithoutDescending) {
  Write("db/b.dat", "12345");
  Write("db/A.txt", "");
  Write("db/.hidden", "x");
  Write("db/sub/deep.txt", "deep");
  Write("top.exe", "MZ");

  TSOFilesList list;
  list.AddFolder(" DB ");
  EXPECT_EQ(list.xFileNames->Lines(), (std::vector<std::string>{"A.TXT", "B.DAT"}));
  EXPECT_EQ(list.xFileDirs->Lines(), (std::vector<std::string>{"DB", "DB"}));
  EXPECT_EQ(list.xFileSizes->Lines(), (std::vector<std::string>{"0", "5"}));
  EXPECT_EQ(list.xFileVersions->Lines(), (std::vector<std::string>{"NF", "NF"}));

  TSOFilesList top;
  top.AddFolder("");
  EXPECT_EQ(top.xFileNames->Lines(), std::vector<std::string>{"TOP.EXE"});
  EXPECT_EQ(top.xFileDirs->Lines(), std::vector<std::string>{""});

  TSOFilesList missing;
  missing.AddFolder("nowhere");
  EXPECT_EQ(missing.xFileNames->Count(), 0u);
}

TEST_F(FilesTest, AddFolderLeavesOutWhatIsNoInstalledFileAndReadsNamesBack) {
  Write("db/résumé.txt", "x");
  Write("db/data.prp.tmp123.4", "left by a killed run");
  Write("db/setup.log", "log");
  fs::create_symlink("/etc/hostname", fs::path(Folder()) / "db" / "link.txt");
  SetDiagnosticLogFile(NativePath("DB\\setup.log"));
  TSOFilesList list;
  list.AddFolder("DB");
  SetDiagnosticLogFile("");
  EXPECT_EQ(list.xFileNames->Lines(), std::vector<std::string>{"RéSUMé.TXT"_w});
}

TEST_F(FilesTest, SaveToDiskLowerCasesBelowTheProgramFolderAndCreatesFolders) {
  TSOFile file;
  file.xData = std::string("\0bin\xFF", 5);
  ASSERT_TRUE(file.SaveToDisk(Folder() + "Prog\\Sub\\New.DLL"));
  EXPECT_EQ(Read("prog/sub/new.dll"), file.xData);
}

TEST_F(FilesTest, SaveToDiskReplacesALongerFileCompletely) {
  Write("a.bin", std::string(1000, 'o'));
  TSOFile file;
  file.xData = "new";
  ASSERT_TRUE(file.SaveToDisk(Folder() + "A.BIN"));
  EXPECT_EQ(Read("a.bin"), "new");
  EXPECT_EQ(EntriesIn(""), 1u);
}

TEST_F(FilesTest, SaveToDiskFailureIsFalseWhenTheFolderCannotBeMade) {
  Write("blocker", "a file where a folder should be");
  TSOFile file;
  file.xData = "x";
  EXPECT_FALSE(file.SaveToDisk(Folder() + "blocker\\x.dll"));
  EXPECT_EQ(Read("blocker"), "a file where a folder should be");
}

TEST_F(FilesTest, LoadFromDiskIsBinarySafe) {
  const std::string bytes = std::string("MZ\0\0\x90\xFF\r\n", 8) + std::string(70000, '\0');
  Write("bin/tool.dll", bytes);  // names below the program folder are lower case on disk
  TSOFile file;
  ASSERT_TRUE(file.LoadFromDisk(Folder() + "BIN\\tool.DLL"));
  EXPECT_EQ(file.xData, bytes);
  EXPECT_EQ(file.xFileSize, static_cast<std::int32_t>(bytes.size()));
  EXPECT_EQ(file.xFileName, "tool.DLL");
  EXPECT_EQ(file.xFileType, ".dll");

  Write("empty.txt", "");
  ASSERT_TRUE(file.LoadFromDisk(Folder() + "empty.txt"));
  EXPECT_EQ(file.xData, "");
  EXPECT_EQ(file.xFileSize, 0);
}

TEST_F(FilesTest, LoadFromDiskOfAMissingFileKeepsDataButTakesTheName) {
  TSOFile file;
  file.xData = "old";
  file.xFileSize = 3;
  EXPECT_FALSE(file.LoadFromDisk(Folder() + "Gone.EXE"));
  EXPECT_EQ(file.xFileName, "Gone.EXE");
  EXPECT_EQ(file.xFileType, ".exe");
  EXPECT_EQ(file.xData, "old");
  EXPECT_EQ(file.xFileSize, 3);
  EXPECT_FALSE(file.LoadFromDisk(Folder()));  // a folder is no file
}

TEST_F(FilesTest, FileObjectIsHeavyAndDescribesItself) {
  TSOFile file;
  EXPECT_TRUE(file.IsHeavy());
  file.xFileName = "a.txt";
  file.xFileSize = 12;
  file.SetZelUserFromNickName("Bob");
  EXPECT_EQ(file.Caption(), "Fichier a.txt 12 octets reçu de Bob"_w);
}

TEST_F(FilesTest, LocalFileLowerCasesItsExtensionAlsoWhenRead) {
  TZelSObjectLocalFile local;
  local.SetFileExtension(".EXE");
  EXPECT_EQ(local.xFileExtension(), ".exe");
  std::string stream = ObjectToStream(local);
  const std::size_t at = stream.find(".exe");
  ASSERT_NE(at, std::string::npos);
  stream.replace(at, 4, ".TxT");
  auto copy = ObjectFromStream(stream);
  EXPECT_EQ(dynamic_cast<TZelSObjectLocalFile&>(*copy).xFileExtension(), ".txt");
}

TEST_F(FilesTest, LocalFileEnsureIdNamesTheOwnerOnlyForANewId) {
  TZelSObjectLocalFile local;
  local.EnsureId();
  EXPECT_FALSE(local.IdIsNull());
  EXPECT_EQ(local.xsMERXIDOwner, kNullIdText);
  local.xsMERXIDOwner = "kept";
  local.EnsureId();
  EXPECT_EQ(local.xsMERXIDOwner, "kept");
}

}  // namespace
}  // namespace quorvane
