#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "model/message_box.h"
#include "model/zel_cols.h"
#include "model/zel_props.h"
#include "model_test_support.h"
#include "support/temp_folder.h"
#include "util/codec.h"
#include "util/program_folder.h"

namespace quorvane {
namespace {

using namespace literals;
using test::TTestCard;

class RecordingMessages : public MessageBoxService {
 public:
  RecordingMessages() { InstallMessageBoxService(this); }
  ~RecordingMessages() override { InstallMessageBoxService(nullptr); }
  void ShowMessage(const std::string& caption, const std::string& text) override {
    captions.push_back(caption);
    texts.push_back(text);
  }
  bool AskQuestion(const std::string&, const std::string&) override { return false; }
  std::vector<std::string> captions;
  std::vector<std::string> texts;
};

TEST(ZelPropsTest, ItemsStartAsPlaceholdersOnePerPublishedProperty) {
  TTestCard card;
  const TZelProps& props = card.Props();
  ASSERT_EQ(props.PropCount(), 25);
  ASSERT_EQ(props.Count(), 25u);
  EXPECT_EQ(props[0].xName(), "_0");
  EXPECT_EQ(props[16].xDataSetFieldName, "_16");
  EXPECT_EQ(props[23].xName(), "_23");  // xAmount is never declared
  EXPECT_EQ(props[23].xTypeOfProps, 0);
  EXPECT_EQ(props[23].xDataType, ftString);
  EXPECT_EQ(props[2].xName(), "xSMERXID");
  EXPECT_EQ(props[2].xDataSetFieldName, "MERXID");
  EXPECT_EQ(props[2].xSize, 38);
  EXPECT_EQ(props[2].xTypeOfProps, topr_ToDBE | topr_FromDBE);
  EXPECT_EQ(props[2].xTitle, "Numéro"_w);
}

TEST(ZelPropsTest, DeclarationsFillTheItem) {
  TTestCard card;
  const TZelProp& web = card.Props()[card.Props().IndexOfProp("xsWeb")];
  EXPECT_EQ(web.xDataSetFieldName, "WEBPAGE");
  EXPECT_EQ(web.xSize, 20);
  EXPECT_EQ(web.xDataType, ftString);
  EXPECT_EQ(web.xTypeOfProps, kDefaultRoles);
  EXPECT_EQ(web.xTitle, "Site");
  const TZelProp& size = card.Props()[card.Props().IndexOfProp("xnSize")];
  EXPECT_EQ(size.xDataType, ftInteger);
  const TZelProp& sex = card.Props()[card.Props().IndexOfProp("xFlag")];
  EXPECT_EQ(sex.xDataType, ftSmallint);
  const TZelProp& lines = card.Props()[card.Props().IndexOfProp("xLines")];
  EXPECT_EQ(lines.xDataType, ftMemo);
}

TEST(ZelPropsTest, LookupsByNameAndColumn) {
  TTestCard card;
  const TZelProps& props = card.Props();
  EXPECT_EQ(props.IndexOfProp("xsnickname"), -1);
  EXPECT_EQ(props.IndexOfProp("xsNickName"), 17);
  EXPECT_EQ(props.IndexOfColumn("nick_name"), 17);
  EXPECT_EQ(props.PropNameAt(17), "xsNickName");
  EXPECT_EQ(props.PropNameAt(25), "");
  EXPECT_EQ(props.PropNameAt(-1), "");
  EXPECT_EQ(props.ColumnNameAt(99), "");
}

TEST(ZelPropsTest, DeclarationErrorsAreReported) {
  RecordingMessages messages;
  TTestCard card;
  card.Props().DeclareProp("xFoo", "Foo", 10, kDefaultRoles, "Foo");
  card.Props().DeclareProp("xsNotes", "Notes", 0, kDefaultRoles, "Notes");
  card.Props().DeclareProp("xaParam", "Param", 0, kDefaultRoles, "Param");
  ASSERT_EQ(messages.texts.size(), 3u);
  EXPECT_EQ(messages.texts[0], "Prop Not Found :xFoo");
  EXPECT_EQ(messages.texts[1], "Déclaration de chaîne de taille nulle"_w);
  EXPECT_EQ(messages.texts[2], "TZELMODULEPARAM not implemented");
  EXPECT_EQ(messages.captions[0], "Erreur logicielle");
  // the zero-size string is still declared, the unknown type is not
  EXPECT_EQ(card.Props()[card.Props().IndexOfProp("xsNotes")].xSize, 0);
  EXPECT_EQ(card.Props()[16].xName(), "_16");
}

TEST(ZelPropsTest, StringListTextWithAndWithoutListFlag) {
  TTestCard card;
  card.xLines->Add("a");
  card.xLines->Add("b");
  const int index = card.Props().IndexOfProp("xLines");
  EXPECT_EQ(card.Props().PropValueText(index, true), "a;b;");
  EXPECT_EQ(card.Props().PropValueText(index, false), "a\r\nb\r\n");
  // xaParam is a descendant of TStringList, not exactly one: no text
  card.Param().Add("X=1");
  EXPECT_EQ(card.Props().PropValueText(card.Props().IndexOfProp("xaParam"), true), "");
}

TEST(ZelPropsTest, TextFormPutsCaptionFirstAndSplitsMultiLineValues) {
  TTestCard card;
  card.xsNickName = "Bob";
  card.xsNotes = "";  // empty values are skipped
  card.xnSize = 500;
  card.xLines->Add("one");
  TStringList lines;
  card.Props().FillStrings(lines);
  const std::vector<std::string> expected = {"Surnom: Bob", "Taille: 1 Ko", "Sexe: Indéfini"_w,
                                             "Lignes:", "one\r\n"};
  EXPECT_EQ(lines.Lines(), expected);
  EXPECT_EQ(card.PropsText(),
            "Surnom: Bob\r\nTaille: 1 Ko\r\nSexe: Indéfini\r\nLignes:\r\none\r\n"_w);
}

TEST(ZelPropsTest, ColumnExportSkipsPropertiesWithoutRoles) {
  TTestCard card;
  TZelCols cols(nullptr);
  card.Props().FillStrings(cols);
  // xSMERXID, xsNickName, xsWeb, xsNotes, xsBig, xnSize, xFlag, xLines have roles
  ASSERT_EQ(cols.Count(), 8u);
  EXPECT_EQ(cols[0].xName(), "MERXID");
  EXPECT_EQ(cols[1].xName(), "NICK_NAME");
  EXPECT_EQ(cols[1].xTitle, "Surnom");
  EXPECT_EQ(cols[1].xSize, 30);
  EXPECT_EQ(cols[1].xAttributes, faFixed);
}

class FatFilesTest : public ::testing::Test {
 protected:
  testing::ProgramFolderScope scope_{"quorvane-fat"};
  const std::filesystem::path& folder_ = scope_.path();
};

TEST_F(FatFilesTest, SideFilesAreWrittenOnceAndLoadedBack) {
  TTestCard card;
  card.EnsureId();
  const int index = card.Props().IndexOfProp("xsBig");
  const std::string name = card.Props().FatFileName(index);
  EXPECT_EQ(name, ProgramFolder() + "DB\\PRP\\" + FileSafeId(card.GetId()) + "BIG.prp");
  const std::string native = NativePath(name);

  EXPECT_FALSE(card.Props().HasFat());
  card.xsBig = std::string(100000, 'x');
  card.SaveFatProps();
  EXPECT_TRUE(card.xsBig.empty());
  EXPECT_TRUE(card.Props().HasFat());
  EXPECT_EQ(std::filesystem::file_size(native), 100000u);

  card.xsBig = "second";
  card.SaveFatProps();  // an existing side file is never overwritten
  EXPECT_TRUE(card.xsBig.empty());
  EXPECT_EQ(std::filesystem::file_size(native), 100000u);

  card.LoadFatProps();
  EXPECT_EQ(card.xsBig, std::string(100000, 'x'));

  // a side file that cannot be written keeps the value where it was
  card.DeleteFatProps();
  std::filesystem::remove_all(folder_ / "db" / "prp");
  std::ofstream(folder_ / "db" / "prp") << "a file where the folder belongs";
  card.SaveFatProps();
  EXPECT_EQ(card.xsBig, std::string(100000, 'x'));
  std::filesystem::remove(folder_ / "db" / "prp");
  EXPECT_FALSE(std::filesystem::exists(native));
  EXPECT_FALSE(card.Props().HasFat());
}

}  // namespace
}  // namespace quorvane

namespace quorvane {
namespace {

TEST(ZelPropsRecordTest, LoadFromRecordAssignsByColumnWithConversions) {
  test::TTestCard card;
  const DataSetRecord record = {
      {"NICK_NAME", FieldKind::Plain, std::string("Bob")},
      {"size", FieldKind::Plain, std::string(" 42 ")},  // text into an integer column
      {"SEX", FieldKind::Plain, std::string("Femme")},  // display text of an enumeration
      {"LINES", FieldKind::Memo, std::string("a\r\nb")},
      {"UNKNOWN", FieldKind::Plain, std::string("ignored")},
      {"WEBPAGE", FieldKind::Plain, std::monostate{}},
  };
  card.xsWeb = "kept";
  card.Props().LoadFromRecord(record);
  EXPECT_EQ(card.xsNickName, "Bob");
  EXPECT_EQ(card.xnSize, 42);
  EXPECT_EQ(card.xFlag, 2);
  EXPECT_EQ(card.xLines->Lines(), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(card.xsWeb, "kept");

  card.Props().LoadFromRecord({{"SEX", FieldKind::Plain, std::string("tos_Male")},
                               {"SIZE", FieldKind::Plain, std::string("12x")}});
  EXPECT_EQ(card.xFlag, 1);
  EXPECT_EQ(card.xnSize, 42);  // not a number: unchanged
}

}  // namespace
}  // namespace quorvane
