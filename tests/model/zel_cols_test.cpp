#include <gtest/gtest.h>

#include "model/object_stream.h"
#include "model/zel_cols.h"
#include "model/zel_props.h"
#include "model_test_support.h"

namespace quorvane {
namespace {

// An object carrying a table, as a data-set answer does.
class TTestTable : public TZelObject {
 public:
  explicit TTestTable(TZelObject* parent = nullptr) : TZelObject(parent, StaticClass()) {}
  static const ClassInfo& StaticClass() {
    static const ClassInfo info =
        MakeClassInfo("TTestTable", &TZelObject::StaticClass(),
                      {Prop::Object<&TTestTable::cols>("xCols", "TZelCols"),
                       Prop::Object<&TTestTable::records>("xRecords", "TZelRecords")});
    return info;
  }
  std::unique_ptr<TZelCols> cols = std::make_unique<TZelCols>(this);
  std::unique_ptr<TZelRecords> records = std::make_unique<TZelRecords>(this);
};

std::unique_ptr<TZelObject> CreateTestTable() {
  return std::make_unique<TTestTable>();
}

class ZelColsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::RegisterModelTestClasses();
    RegisterClass("TTestTable", &CreateTestTable, 98);
  }
};

TEST_F(ZelColsTest, ExportedColumnRoundTrips) {
  test::TTestCard card;
  TTestTable table;
  table.SetName("T");
  card.Props().FillStrings(*table.cols);
  const std::string stream = ObjectToStream(table);
  // the column attributes travel as a set naming faFixed; a zero precision is omitted
  EXPECT_NE(stream.find(test::Bytes("\x0BxAttributes\x0B\x07"
                                    "faFixed\x00",
                                    22)),
            std::string::npos);
  EXPECT_EQ(stream.find("xPrecision"), std::string::npos);
  EXPECT_NE(stream.find(test::Bytes("\x09xDataType\x07\x08"
                                    "ftString")),
            std::string::npos);

  auto copy = ObjectFromStream(stream);
  auto& cols = *static_cast<TTestTable&>(*copy).cols;
  ASSERT_EQ(cols.Count(), table.cols->Count());
  const TZelCol& nick = cols[1];
  EXPECT_EQ(nick.xName(), "NICK_NAME");
  EXPECT_EQ(nick.xSize, 30);
  EXPECT_EQ(nick.xPrecision, 0);
  EXPECT_EQ(nick.xAttributes, faFixed);
  EXPECT_EQ(nick.xDataType, ftString);
  EXPECT_EQ(nick.DisplayName(), "NICK_NAME");
}

TEST_F(ZelColsTest, EmptyCollectionIsAMarkerAndKeepsExistingElements) {
  TTestTable empty;
  empty.SetName("E");
  const std::string stream = ObjectToStream(empty);
  EXPECT_NE(stream.find(test::Bytes("\x05xCols\x0E\x00", 7)), std::string::npos);

  TTestTable target;
  AddColumn(*target.cols, "KEEP", "Keep", 0, 1, ftString);
  ObjectReader(stream).ReadRootInto(target);
  ASSERT_EQ(target.cols->Count(), 1u);
  EXPECT_EQ(target.cols->operator[](0).xName(), "KEEP");

  TTestTable source;
  AddColumn(*source.cols, "NEW", "", 0, 2, ftInteger);
  AddColumn(*source.cols, "NEW2", "", 0, 3, ftInteger);
  ObjectReader(ObjectToStream(source)).ReadRootInto(target);
  ASSERT_EQ(target.cols->Count(), 2u);  // cleared first when items arrive
  EXPECT_EQ(target.cols->operator[](0).xName(), "NEW");
}

TEST_F(ZelColsTest, SetBitsWithoutANameAreLeftOut) {
  TTestTable table;
  AddColumn(*table.cols, "A", "", 0, 1, ftString).xAttributes = 0x40 | faFixed;
  auto copy = ObjectFromStream(ObjectToStream(table));
  EXPECT_EQ(static_cast<TTestTable&>(*copy).cols->operator[](0).xAttributes, faFixed);
}

TEST_F(ZelColsTest, RecordsCarryTheirTexts) {
  TTestTable table;
  TZelRecord& row = table.records->Add();
  row.SetH("first");
  row.SetH("");
  row.SetD(std::string(300, 'd'));
  auto copy = ObjectFromStream(ObjectToStream(table));
  const auto& records = *static_cast<TTestTable&>(*copy).records;
  ASSERT_EQ(records.Count(), 1u);
  EXPECT_EQ(records[0].xH(), "");
  EXPECT_EQ(records[0].xD(), std::string(300, 'd'));
}

TEST_F(ZelColsTest, CollectionItemIndexIsReadAndIgnored) {
  // one item preceded by its index 7
  const std::string stream = test::Bytes(
      "TPF0\x0ATTestTable\x01T\x05xCols\x0E\x02\x07\x01\x05xName\x06\x01"
      "A\x00\x00\x00\x00",
      40);
  auto object = ObjectFromStream(stream);
  const auto& cols = *static_cast<TTestTable&>(*object).cols;
  ASSERT_EQ(cols.Count(), 1u);
  EXPECT_EQ(cols[0].xName(), "A");
}

}  // namespace
}  // namespace quorvane
