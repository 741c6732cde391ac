#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "inspect/block_peek.h"
#include "inspect/inspect.h"
#include "model/object_stream.h"
#include "model/object_text.h"
#include "model/zel_object.h"
#include "objects/answers.h"
#include "objects/files.h"
#include "objects/register_classes.h"
#include "support/temp_folder.h"
#include "transport/bzip_block.h"
#include "transport/frame_format.h"
#include "util/atomic_file.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

class InspectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterClasses();
    answer_.SetName("Answer1");
    answer_.EnsureId();
    answer_.ZelWhat = "DebutInstall";
    answer_.AddItem("Caf\xE9", "1");
  }
  std::string Path(const std::string& name) const { return (temp_.path() / name).string(); }
  void Write(const std::string& name, const std::string& bytes) const {
    ASSERT_TRUE(WriteFileAtomically(Path(name), bytes));
  }
  std::string Read(const std::string& name) const { return ReadWholeFile(Path(name)).value_or(""); }
  // Runs the tool in the temporary folder, so relative names are taken from there.
  RunResult Run(const std::string& arguments) const {
    const std::string command = "cd '" + temp_.path().string() + "' && " +
                                std::string(QUORVANE_INSPECT_PATH) + " " + arguments +
                                " >.stdout 2>.stderr";
    const int status = std::system(command.c_str());
    RunResult result{WEXITSTATUS(status), Read(".stdout"), Read(".stderr")};
    fs::remove(Path(".stdout"));
    fs::remove(Path(".stderr"));
    return result;
  }
  std::string Message(std::string_view input, const std::string& file) const {
    try {
      inspect::ReadObject(input, file);
    } catch (const inspect::InspectError& error) {
      return error.what();
    }
    return "";
  }

  testing::TempFolder temp_{"quorvane-inspect"};
  TZelSObjectAnswer answer_;
};

TEST_F(InspectTest, RecognisesEveryInputFormFromItsFirstBytes) {
  const std::string stream = ObjectToStream(answer_);
  EXPECT_EQ(inspect::DetectForm(stream), inspect::InputForm::BareStream);
  EXPECT_EQ(inspect::DetectForm("  object A: TZelObject\nend\n"),
            inspect::InputForm::TextRendering);
  EXPECT_EQ(inspect::DetectForm("B" + stream), inspect::InputForm::ObjectFile);
  EXPECT_EQ(inspect::DetectForm("T" + ObjectBinaryToText(stream)), inspect::InputForm::ObjectFile);
  const std::string frame = FrameHeader(static_cast<std::int64_t>(stream.size())) + stream +
                            FrameTrailer(kKindObject, false);
  EXPECT_EQ(inspect::DetectForm(frame), inspect::InputForm::FrameFile);
  // A file of blanks is not scanned to its end in search of a text rendering.
  EXPECT_EQ(inspect::DetectForm(std::string(100'000, ' ') + "object A: TZelObject\nend\n"),
            inspect::InputForm::ObjectFile);
  const std::string compressed = "C" + CompressBlock(stream.data(), stream.size(), 9);
  for (const std::string& input : {stream, "B" + stream, "T" + ObjectBinaryToText(stream),
                                   ObjectBinaryToText(stream), compressed})
    EXPECT_EQ(inspect::ObjectStreamOf(input, "f").Bytes(), stream);
}

TEST_F(InspectTest, FrameFileShowsHeaderFieldsAndTheObject) {
  const std::string stream = ObjectToStream(answer_);
  const std::string block = CompressBlock(stream.data(), stream.size(), 9);
  const std::string frame = FrameHeader(static_cast<std::int64_t>(block.size())) + block +
                            FrameTrailer(kKindObject, true);
  const std::string text = inspect::TextOf(frame, "f");
  EXPECT_NE(text.find("payload " + std::to_string(block.size()) + " bytes"), std::string::npos);
  EXPECT_NE(text.find("Kind: N (object)"), std::string::npos);
  EXPECT_NE(text.find("Compression: C (compressed block)"), std::string::npos);
  EXPECT_NE(text.find("object Answer1: TZelSObjectAnswer"), std::string::npos);
  EXPECT_NE(text.find("ZelWhat = 'DebutInstall'"), std::string::npos);
  // a frame whose length field disagrees with the file is described as far as it goes
  EXPECT_NE(inspect::TextOf(frame.substr(0, frame.size() - 1), "f").find("The file holds"),
            std::string::npos);
}

TEST_F(InspectTest, ConvertGoesThroughTheObjectModel) {
  // a text that leaves out a default and spells the routing properties
  const std::string in =
      "object A: TZelSObjectWait\n  ZelNumber = 5\n  xWhat = 'setup'\n"
      "  xTypeProcessing = towp_Queued\nend\n";
  for (const char mode : {'T', 'B', 'C'}) {
    const std::string out = Path(std::string("out.") + mode);
    inspect::Convert(in, "in.txt", out, mode);
    const std::string file = *ReadWholeFile(out);
    ASSERT_FALSE(file.empty());
    EXPECT_EQ(file[0], mode);
    const std::string text = inspect::TextOf(file, out);
    EXPECT_NE(text.find("xWhat = 'setup'"), std::string::npos) << mode;
    EXPECT_EQ(text.find("xTypeProcessing"), std::string::npos) << mode;  // the default
    EXPECT_EQ(text.find("ZelNumber"), std::string::npos) << mode;        // files carry no routing
  }
  inspect::Convert(in, "in.txt", Path("out.raw"), std::nullopt);
  const std::string raw = Read("out.raw");
  EXPECT_EQ(raw.substr(0, 4), "TPF0");
  EXPECT_NE(raw.find("ZelNumber"), std::string::npos);  // the wire form keeps them
  // no temporary file is left beside the outputs
  EXPECT_EQ(std::distance(fs::directory_iterator(temp_.path()), fs::directory_iterator()), 4);
}

TEST_F(InspectTest, PathsAreTakenFromTheCurrentFolder) {
  fs::create_directories(Path("work/sub"));
  Write("work/in.bin", ObjectToStream(answer_));
  const std::string unique = "inspect-relative-" + std::to_string(::getpid());
  for (const std::string how : {"--mode T", "--mode B", "--mode C", "--raw", ""}) {
    const RunResult result = Run("convert " + how + " work/in.bin work/sub/" + unique +
                                 " && mv work/sub/" + unique + " work/sub/done");
    EXPECT_EQ(result.status, 0) << how << ": " << result.err;
    EXPECT_TRUE(fs::exists(Path("work/sub/done"))) << how;
    fs::remove(Path("work/sub/done"));
    // nothing written beside the executable
    EXPECT_FALSE(fs::exists(fs::path(QUORVANE_INSPECT_PATH).parent_path() / "work/sub" / unique));
    EXPECT_FALSE(fs::exists(fs::path(QUORVANE_INSPECT_PATH).parent_path() / unique));
  }
  // file names keep their case and blanks
  const RunResult result = Run("convert --mode B work/in.bin 'work/Out File '");
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(Read("work/Out File ").substr(0, 5), "BTPF0");
}

TEST_F(InspectTest, AMissingOutputFolderIsAnError) {
  Write("in.bin", ObjectToStream(answer_));
  for (const std::string how : {"--mode C", "--raw"}) {
    const RunResult result = Run("convert " + how + " in.bin missing/deeper/out.zub");
    EXPECT_EQ(result.status, 1) << how;
    EXPECT_EQ(result.err,
              "Cannot write missing/deeper/out.zub: the folder missing/deeper does not exist\n");
    EXPECT_FALSE(fs::exists(Path("missing")));
  }
  fs::create_directories(Path("folder"));
  RunResult result = Run("convert --raw in.bin folder");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "Cannot write folder: it is a folder\n");
  // a file cannot hold a folder
  result = Run("convert --raw in.bin in.bin/out");
  EXPECT_EQ(result.err, "Cannot write in.bin/out: in.bin is not a folder\n");
}

TEST_F(InspectTest, AReplacedOutputIsWholeAndKeepsItsMode) {
  Write("in.bin", ObjectToStream(answer_));
  Write("out.zub", "old");
  ASSERT_EQ(::chmod(Path("out.zub").c_str(), 0640), 0);
  ASSERT_EQ(Run("convert --mode B in.bin out.zub").status, 0);
  const std::string written = Read("out.zub");
  EXPECT_EQ(written.substr(0, 5), "BTPF0");
  EXPECT_NE(written.find("DebutInstall"), std::string::npos);
  struct stat info {};
  ASSERT_EQ(::stat(Path("out.zub").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
  // a failed conversion leaves the old file as it was
  Write("bad.bin",
        "TPF0\x04TFoo\x01"
        "A");
  EXPECT_EQ(Run("convert --mode B bad.bin out.zub").status, 1);
  EXPECT_EQ(Read("out.zub"), written);
}

TEST_F(InspectTest, AnOutputLinkIsWrittenThroughNotReplaced) {
  Write("in.bin", ObjectToStream(answer_));
  fs::create_directories(Path("real"));
  fs::create_symlink("real/target.zub", Path("out.zub"));  // dangling until written
  ASSERT_EQ(Run("convert --mode B in.bin out.zub").status, 0);
  EXPECT_TRUE(fs::is_symlink(Path("out.zub")));
  EXPECT_EQ(Read("real/target.zub").substr(0, 5), "BTPF0");
  // a link into a missing folder is refused like the folder itself
  fs::create_symlink("nowhere/x.zub", Path("lost.zub"));
  EXPECT_EQ(Run("convert --raw in.bin lost.zub").err,
            "Cannot write nowhere/x.zub: the folder nowhere does not exist\n");
}

TEST_F(InspectTest, EveryFailureSaysWhatFailedOnWhichFileAndWhy) {
  RunResult result = Run("text missing.zub");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "Cannot read missing.zub: No such file or directory\n");

  fs::create_directories(Path("dir"));
  EXPECT_EQ(Run("text dir").err, "Cannot read dir: it is a folder\n");

  // a compressed file cut short
  const std::string stream = ObjectToStream(answer_);
  const std::string block = CompressBlock(stream.data(), stream.size(), 9);
  Write("short.zub", "C" + block.substr(0, block.size() / 2));
  result = Run("text short.zub");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "Cannot decompress short.zub: the bzip2 stream is cut short\n");
  Write("tiny.zub", "CBZ");
  EXPECT_EQ(Run("text tiny.zub").err,
            "Cannot decompress tiny.zub: the compressed block is shorter than its 4-byte "
            "length\n");

  // a binary stream cut short: the reader's text, the file and the offset in it
  Write("cut.zub", "B" + stream.substr(0, 20));
  EXPECT_EQ(Run("text cut.zub").err, "Erreur de lecture du flux: cut.zub, offset 6\n");
  Write("cut.bin", stream.substr(0, 20));
  EXPECT_EQ(Run("convert --raw cut.bin x").err, "Erreur de lecture du flux: cut.bin, offset 5\n");

  // a block that is no bzip2 stream holds the stream itself
  Write("stored.zub", "C" + std::string(1 << 20, 'x'));
  EXPECT_EQ(Run("text stored.zub").err,
            "Format de flux incorrect: stored.zub, offset 0 of the stream decoded from its "
            "compressed block\n");

  Write("empty.zub", "");
  EXPECT_EQ(Run("text empty.zub").err, "Erreur de lecture du flux: empty.zub is empty\n");

  Write("other.dat", "X whatever");
  EXPECT_EQ(Run("text other.dat").err,
            "Format de flux incorrect: other.dat is no object file (mode byte T, B or C), "
            "object stream, text rendering or frame file\n");

  // a text file that does not parse names the file after the parser's line
  Write("bad.txt", "Tobject A: TZelSObjectWait\n  xWhat = \nend\n");
  result = Run("text bad.txt");
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find(": bad.txt\n"), std::string::npos) << result.err;

  EXPECT_EQ(Run("convert --mode X a b").status, 1);
  result = Run("--help");
  EXPECT_EQ(result.status, 0);
  EXPECT_NE(result.out.find("usage: quorvane-inspect"), std::string::npos);
}

TEST_F(InspectTest, TextAndConvertRefuseAnUnknownClassAlike) {
  // a whole, well-formed stream whose class is not registered
  std::string stream = ObjectToStream(answer_);
  const std::size_t at = stream.find("TZelSObjectAnswer");
  ASSERT_NE(at, std::string::npos);
  stream.replace(at, 17, "TZelSObjectAnswex");
  Write("unknown.bin", stream);
  const std::string expected =
      "Classe TZelSObjectAnswex non trouv\xC3\xA9"
      "e: unknown.bin, offset " +
      std::to_string(at + 17) + "\n";
  RunResult text = Run("text unknown.bin");
  EXPECT_EQ(text.status, 1);
  EXPECT_EQ(text.out, "");  // not echoed as if it were an object
  EXPECT_EQ(text.err, expected);
  RunResult convert = Run("convert --raw unknown.bin out.bin");
  EXPECT_EQ(convert.status, 1);
  EXPECT_EQ(convert.err, expected);
  EXPECT_FALSE(fs::exists(Path("out.bin")));
  // the same refusal when the stream is inside a compressed object file
  Write("unknown.zub", "C" + CompressBlock(stream.data(), stream.size(), 9));
  EXPECT_EQ(Run("text unknown.zub").err,
            "Classe TZelSObjectAnswex non trouv\xC3\xA9"
            "e: unknown.zub, offset " +
                std::to_string(at + 17) + " of the stream decoded from its compressed block\n");
}

TEST_F(InspectTest, TextRefusesAStreamBeyondItsLimitUnlessMaxSizeRaisesIt) {
  TSOFile big;
  big.xData.assign(inspect::kDefaultTextLimit, 'x');
  const std::string stream = ObjectToStream(big);
  Write("big.zub", "C" + CompressBlock(stream.data(), stream.size(), 9));
  const RunResult refused = Run("text big.zub");
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("--max-size"), std::string::npos) << refused.err;
  const RunResult shown = Run("text --max-size " + std::to_string(2 * stream.size()) + " big.zub");
  EXPECT_EQ(shown.status, 0) << shown.err;
  EXPECT_GT(shown.out.size(), stream.size());
}

// Many megabytes of zeros whose bzip2 check value is damaged at the very end:
// decoding it whole would end in a data error, judging its first bytes refuses
// it as no object stream before the output is allocated.
TEST_F(InspectTest, ACompressedBombIsJudgedByItsFirstBytes) {
  const std::string zeros(32u << 20, '\0');
  std::string block = CompressBlock(zeros.data(), zeros.size(), 9);
  block[block.size() - 6] = static_cast<char>(block[block.size() - 6] ^ 0xFF);
  const std::string message = Message("C" + block, "bomb.zub");
  EXPECT_EQ(message,
            "Format de flux incorrect: bomb.zub, offset 0 of the stream decoded from its "
            "compressed block");

  const inspect::BlockPeek peek = inspect::PeekCompressedBlock(block, 4096);
  EXPECT_EQ(peek.bytes, std::string(4096, '\0'));
  EXPECT_FALSE(peek.whole);
  EXPECT_EQ(peek.error, "");
  // the class is judged from the first bytes too, and a stream that fits is whole
  const std::string stream = ObjectToStream(answer_);
  const std::string small = CompressBlock(stream.data(), stream.size(), 9);
  const inspect::BlockPeek all = inspect::PeekCompressedBlock(small, 4096);
  EXPECT_TRUE(all.whole);
  EXPECT_EQ(all.bytes, stream);
  EXPECT_NE(inspect::PeekCompressedBlock("BZh9 not really bzip2", 64).error, "");
}

TEST_F(InspectTest, ALargeFileRoundTripsThroughTheTool) {
  TSOFile file;
  file.SetName("Big");
  file.xFileName = "payload.bin";
  file.xData.resize(3u << 20);
  for (std::size_t i = 0; i < file.xData.size(); ++i)
    file.xData[i] = static_cast<char>(i * 7 + i / 4096);
  file.xFileSize = static_cast<std::int32_t>(file.xData.size());
  const std::string stream = ObjectToStream(file);
  Write("big.bin", stream);
  ASSERT_EQ(Run("convert --raw big.bin copy.bin").status, 0);
  EXPECT_EQ(Read("copy.bin"), stream);
  ASSERT_EQ(Run("convert --mode C big.bin big.zub").status, 0);
  ASSERT_EQ(Run("convert --raw big.zub again.bin").status, 0);
  std::unique_ptr<TZelObject> again = ObjectFromStream(Read("again.bin"));
  ASSERT_NE(dynamic_cast<TSOFile*>(again.get()), nullptr);
  EXPECT_EQ(static_cast<TSOFile&>(*again).xData, file.xData);
  const RunResult text = Run("text big.zub");
  EXPECT_EQ(text.status, 0);
  EXPECT_NE(text.out.find("xFileName = 'payload.bin'"), std::string::npos);
}

}  // namespace
}  // namespace quorvane
