#include "transport/data_transfer.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

#include "model/class_registry.h"
#include "objects/answers.h"
#include "objects/files.h"
#include "transport/bzip_block.h"
#include "transport_fixture.h"
#include "util/atomic_file.h"
#include "util/codec.h"

namespace quorvane {
namespace {

class DataTransferTest : public testing::TransportTest {
 protected:
  static std::unique_ptr<TSOFile> Sample() {
    using namespace literals;
    auto file = std::make_unique<TSOFile>(nullptr);
    file->xFileName = "Numéro.txt"_w;
    file->xRelativePath = "DB\\";
    file->xData = std::string("binary\0data\xFF", 12);
    file->xFileSize = 12;
    return file;
  }
  std::string Path(const std::string& name) const { return ProgramFolder() + "DB\\" + name; }

  TZelDataTransfer transfer_;
};

TEST_F(DataTransferTest, EveryModeLoadsBackToAnEqualObject) {
  const auto original = Sample();
  const std::pair<FileSaveMode, char> modes[] = {
      {FileSaveMode::Text, 'T'}, {FileSaveMode::Binary, 'B'}, {FileSaveMode::Compressed, 'C'}};
  for (const auto& [mode, byte] : modes) {
    const std::string path = Path(std::string("obj") + byte + ".zub");
    ASSERT_TRUE(transfer_.SaveObject(*original, path, mode, 9)) << byte;
    EXPECT_EQ(ReadFile(ObjectFilePath(path))[0], byte);
    TSOFile loaded(nullptr);
    ASSERT_TRUE(transfer_.LoadObject(loaded, path)) << byte;
    EXPECT_EQ(ObjectToStream(loaded), ObjectToStream(*original)) << byte;
  }
  EXPECT_TRUE(ReadFile(ObjectFilePath(Path("objC.zub"))).substr(1).starts_with("BZh9"));
}

TEST_F(DataTransferTest, AnObjectFileBeyondTheLimitIsRefusedBeforeItIsDecoded) {
  auto big = Sample();
  big->xData.assign(kMaxObjectFileBytes, 'x');
  const std::string path = Path("big.zub");
  ASSERT_TRUE(transfer_.SaveObject(*big, path, FileSaveMode::Compressed, 9));
  std::string bytes = ReadFile(ObjectFilePath(path));
  for (const std::string& recorded : {std::string(), std::string("\x10\0\0\0", 4)}) {
    bytes.replace(bytes.size() - recorded.size(), recorded.size(), recorded);
    ASSERT_TRUE(WriteFileAtomically(ObjectFilePath(path), bytes));
    TSOFile loaded(nullptr);
    EXPECT_FALSE(transfer_.LoadObject(loaded, path));
    EXPECT_EQ(loaded.xData, "");
  }
}

TEST_F(DataTransferTest, ObjectBaseSavesAndLoadsThroughTheStore) {
  auto original = Sample();
  original->SetDataTransfer(&transfer_);
  ASSERT_TRUE(original->SaveToPath(Path("Base.zub")));
  TSOFile loaded(nullptr);
  loaded.SetDataTransfer(&transfer_);
  ASSERT_TRUE(loaded.LoadFromPath(Path("Base.zub")));
  EXPECT_EQ(loaded.xData, original->xData);
}

TEST_F(DataTransferTest, MixedCaseNamesAreWrittenInLowerCase) {
  ASSERT_TRUE(transfer_.SaveObject(*Sample(), Path("Sub\\MiXeD.Zub "), FileSaveMode::Binary, 9));
  EXPECT_TRUE(std::filesystem::exists(folder_ / "db" / "sub" / "mixed.zub"));
  TSOFile loaded(nullptr);
  EXPECT_TRUE(transfer_.LoadObject(loaded, Path("SUB\\mixed.ZUB")));
  EXPECT_FALSE(transfer_.SaveObject(*Sample(), "   ", FileSaveMode::Binary, 9));
}

TEST_F(DataTransferTest, BadFilesGiveFalseAndLeaveTheObjectAlone) {
  const auto original = Sample();
  const std::string stream = ObjectToStream(*original);
  const std::string compressed = CompressBlock(stream.data(), stream.size(), 9);
  const std::pair<std::string, std::string> cases[] = {
      {"one-byte", "B"},
      {"unknown-mode", "X" + stream},
      {"cut-binary", "B" + stream.substr(0, stream.size() - 7)},
      {"cut-compressed", "C" + compressed.substr(0, compressed.size() / 2)},
      {"header-only", "CBZh9"},
      {"bad-text", "Tobject X: TSOFile\n  xFileName = 'unterminated\n"},
  };
  for (const auto& [name, bytes] : cases) {
    WriteFile(ObjectFilePath(Path(name)), bytes);
    TSOFile target(nullptr);
    target.xFileName = "untouched";
    const std::string before = ObjectToStream(target);
    EXPECT_FALSE(transfer_.LoadObject(target, Path(name))) << name;
    EXPECT_EQ(ObjectToStream(target), before) << name;
  }
  TSOFile target(nullptr);
  EXPECT_FALSE(transfer_.LoadObject(target, Path("absent.zub")));
  EXPECT_FALSE(transfer_.LoadObject(target, ""));
}

TEST_F(DataTransferTest, FailedSaveKeepsTheOldFileAndLeavesNoTemporary) {
  const std::string path = Path("ByMe.Identification.zub");
  ASSERT_TRUE(transfer_.SaveObject(*Sample(), path, FileSaveMode::Binary, 9));
  const std::string old_bytes = ReadFile(ObjectFilePath(path));
  auto big = Sample();
  big->xData.assign(500'000, 'x');
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit old_limit{};
  getrlimit(RLIMIT_FSIZE, &old_limit);
  rlimit limit = old_limit;
  limit.rlim_cur = 100'000;  // the disk is "full" beyond this size
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  const bool saved = transfer_.SaveObject(*big, path, FileSaveMode::Binary, 9);
  setrlimit(RLIMIT_FSIZE, &old_limit);
  EXPECT_FALSE(saved);
  EXPECT_EQ(ReadFile(ObjectFilePath(path)), old_bytes);
  EXPECT_EQ(FilesIn("DB").size(), 1u);
}

TEST_F(DataTransferTest, CompressAndReadObject) {
  const std::string stream = ObjectToStream(*Sample());
  std::string bytes = stream;
  transfer_.Compress(bytes, 9);
  EXPECT_TRUE(bytes.starts_with("BZh9"));
  transfer_.Decompress(bytes);
  EXPECT_EQ(bytes, stream);
  auto object = transfer_.ReadObject(bytes);
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(dynamic_cast<TSOFile&>(*object).xFileName, Sample()->xFileName);
  EXPECT_EQ(transfer_.ReadObject("TPF0\x07garbage"), nullptr);
  std::string short_block = "BZ";
  EXPECT_THROW(transfer_.Decompress(short_block), EBZDecompressionError);
}

// An object of a class that is not registered cannot be read into a fresh
// instance first, so its load is refused: a file failing on its last property
// must not leave the name and the earlier properties replaced.
class TUnlistedObject : public TZelObject {
 public:
  TUnlistedObject() : TZelObject(nullptr, StaticClass()) {}
  static const ClassInfo& StaticClass() {
    static const ClassInfo info = MakeClassInfo("TUnlistedObject", &TZelObject::StaticClass(), {});
    return info;
  }
};

TEST_F(DataTransferTest, LoadOfAnUnregisteredClassNeverChangesTheObject) {
  ASSERT_EQ(FindClass("TUnlistedObject"), nullptr);
  TUnlistedObject source;
  source.SetName("After");
  source.SetZelNumber(7);
  std::string stream = ObjectToStream(source);
  ASSERT_TRUE(stream.ends_with(std::string(2, '\0')));
  stream.resize(stream.size() - 2);  // reopen the property list
  ObjectWriter writer(stream);
  writer.WritePropertyName("", "NoSuchProperty");
  writer.WriteInteger(1);
  writer.WriteListEnd();
  writer.WriteListEnd();
  WriteFile(ObjectFilePath(Path("half.zub")), "B" + stream);

  TUnlistedObject target;
  target.SetName("Before");
  const std::string before = ObjectToStream(target);
  EXPECT_FALSE(transfer_.LoadObject(target, Path("half.zub")));
  EXPECT_EQ(target.Name(), "Before");
  EXPECT_EQ(target.ZelNumber(), 0);
  EXPECT_EQ(ObjectToStream(target), before);
}

// Saving goes through the one durable replacement, which keeps the file's mode.
TEST_F(DataTransferTest, SaveReplacesThroughTheDurableWriteAndKeepsTheMode) {
  const std::string path = Path("Kept.zub");
  ASSERT_TRUE(transfer_.SaveObject(*Sample(), path, FileSaveMode::Binary, 9));
  ASSERT_EQ(::chmod(ObjectFilePath(path).c_str(), 0600), 0);
  auto changed = Sample();
  changed->xData = "changed";
  ASSERT_TRUE(transfer_.SaveObject(*changed, path, FileSaveMode::Compressed, 9));
  struct stat info {};
  ASSERT_EQ(::stat(ObjectFilePath(path).c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  TSOFile loaded(nullptr);
  ASSERT_TRUE(transfer_.LoadObject(loaded, path));
  EXPECT_EQ(loaded.xData, "changed");
  EXPECT_EQ(FilesIn("DB").size(), 1u);  // no temporary left beside it
}

}  // namespace
}  // namespace quorvane
