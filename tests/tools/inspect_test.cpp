#include <gtest/gtest.h>

#include <sys/wait.h>
#include <cstdio>
#include <fstream>

#include "inspect/inspect.h"
#include "model/object_stream.h"
#include "model/object_text.h"
#include "model/stream_errors.h"
#include "objects/answers.h"
#include "objects/register_classes.h"
#include "support/temp_folder.h"
#include "transport/bzip_block.h"
#include "transport/frame_format.h"
#include "util/atomic_file.h"

namespace quorvane {
namespace {

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
  // Runs the tool; returns its exit status and what it printed on stderr.
  std::pair<int, std::string> Run(const std::string& arguments) const {
    const std::string err = Path("stderr.txt");
    const std::string command =
        std::string(QUORVANE_INSPECT_PATH) + " " + arguments + " >/dev/null 2>" + err;
    const int status = std::system(command.c_str());
    return {WEXITSTATUS(status), ReadWholeFile(err).value_or("")};
  }

  testing::TempFolder temp_{"quorvane-inspect"};
  TZelSObjectAnswer answer_;
};

TEST_F(InspectTest, RecognisesEveryInputForm) {
  const std::string stream = ObjectToStream(answer_);
  EXPECT_EQ(inspect::DetectForm(stream), inspect::InputForm::BareStream);
  EXPECT_EQ(inspect::DetectForm("  object A: TZelObject\nend\n"),
            inspect::InputForm::TextRendering);
  EXPECT_EQ(inspect::DetectForm("B" + stream), inspect::InputForm::ObjectFile);
  EXPECT_EQ(inspect::DetectForm("T" + ObjectBinaryToText(stream)), inspect::InputForm::ObjectFile);
  const std::string frame = FrameHeader(static_cast<std::int64_t>(stream.size())) + stream +
                            FrameTrailer(kKindObject, false);
  EXPECT_EQ(inspect::DetectForm(frame), inspect::InputForm::FrameFile);
  for (const std::string& input :
       {stream, "B" + stream, "T" + ObjectBinaryToText(stream), ObjectBinaryToText(stream)})
    EXPECT_EQ(inspect::ObjectStreamOf(input), stream);
}

TEST_F(InspectTest, FrameFileShowsHeaderFieldsAndTheObject) {
  const std::string stream = ObjectToStream(answer_);
  const std::string block = CompressBlock(stream.data(), stream.size(), 9);
  const std::string frame = FrameHeader(static_cast<std::int64_t>(block.size())) + block +
                            FrameTrailer(kKindObject, true);
  const std::string text = inspect::TextOf(frame);
  EXPECT_NE(text.find("payload " + std::to_string(block.size()) + " bytes"), std::string::npos);
  EXPECT_NE(text.find("Kind: N (object)"), std::string::npos);
  EXPECT_NE(text.find("Compression: C (compressed block)"), std::string::npos);
  EXPECT_NE(text.find("object Answer1: TZelSObjectAnswer"), std::string::npos);
  EXPECT_NE(text.find("ZelWhat = 'DebutInstall'"), std::string::npos);
  // a frame whose length field disagrees with the file is described as far as it goes
  EXPECT_NE(inspect::TextOf(frame.substr(0, frame.size() - 1)).find("The file holds"),
            std::string::npos);
}

TEST_F(InspectTest, ConvertGoesThroughTheObjectModel) {
  // a text that leaves out a default and spells the routing properties
  Write("in.txt",
        "object A: TZelSObjectWait\n  ZelNumber = 5\n  xWhat = 'setup'\n"
        "  xTypeProcessing = towp_Queued\nend\n");
  for (const char mode : {'T', 'B', 'C'}) {
    const std::string out = Path(std::string("out.") + mode);
    inspect::Convert(*ReadWholeFile(Path("in.txt")), out, mode);
    const std::string file = *ReadWholeFile(out);
    ASSERT_FALSE(file.empty());
    EXPECT_EQ(file[0], mode);
    const std::string text = inspect::TextOf(file);
    EXPECT_NE(text.find("xWhat = 'setup'"), std::string::npos) << mode;
    EXPECT_EQ(text.find("xTypeProcessing"), std::string::npos) << mode;  // the default
    EXPECT_EQ(text.find("ZelNumber"), std::string::npos) << mode;        // files carry no routing
  }
  inspect::Convert(*ReadWholeFile(Path("in.txt")), Path("out.raw"), std::nullopt);
  const std::string raw = *ReadWholeFile(Path("out.raw"));
  EXPECT_EQ(raw.substr(0, 4), "TPF0");
  EXPECT_NE(raw.find("ZelNumber"), std::string::npos);  // the wire form keeps them
}

TEST_F(InspectTest, CommandLineReportsFailuresOnOneLine) {
  Write("unknown.bin",
        "TPF0\x04TFoo\x01"
        "A");
  auto [status, message] = Run("convert --raw " + Path("unknown.bin") + " " + Path("x"));
  EXPECT_EQ(status, 1);
  EXPECT_EQ(message,
            "Classe TFoo non trouv\xC3\xA9"
            "e\n");  // UTF-8 on the terminal

  Write("short.zub", "C");
  std::tie(status, message) = Run("text " + Path("short.zub"));
  EXPECT_EQ(status, 1);
  EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1);

  std::tie(status, message) = Run("text " + Path("missing"));
  EXPECT_EQ(status, 1);
  std::tie(status, message) = Run("convert --mode X a b");
  EXPECT_EQ(status, 1);

  Write("good.bin", ObjectToStream(answer_));
  std::tie(status, message) = Run("text " + Path("good.bin"));
  EXPECT_EQ(status, 0);
  EXPECT_EQ(message, "");
}

}  // namespace
}  // namespace quorvane
