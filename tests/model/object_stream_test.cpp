#include <gtest/gtest.h>

#include <cstring>

#include "model/class_registry.h"
#include "model/object_stream.h"
#include "model/stream_errors.h"
#include "model/zel_object.h"
#include "model_test_support.h"

namespace quorvane {
namespace {

using test::Bytes;

class ObjectStreamTest : public ::testing::Test {
 protected:
  void SetUp() override { test::RegisterModelTestClasses(); }
};

TEST_F(ObjectStreamTest, DefaultObjectIsWrittenByteForByte) {
  TZelObject object;
  object.SetName("A");
  const std::string expected =
      Bytes("TPF0") + Bytes("\x0ATZelObject") +
      Bytes(
          "\x01"
          "A") +
      Bytes("\x08xSMERXID") + Bytes("\x06\x26{00000000-0000-0000-0000-000000000000}") +
      Bytes("\x09ZelNumber") + Bytes("\x02\x00", 2) + Bytes("\x0EZelConnexionID") +
      Bytes("\x02\xFF") + Bytes("\x00\x00", 2);
  EXPECT_EQ(ObjectToStream(object), expected);
}

TEST_F(ObjectStreamTest, IntegersUseTheSmallestWidth) {
  auto integer_bytes = [](std::int64_t value) {
    std::string out;
    ObjectWriter(out).WriteInteger(value);
    return out;
  };
  EXPECT_EQ(integer_bytes(127), Bytes("\x02\x7F"));
  EXPECT_EQ(integer_bytes(128), Bytes("\x03\x80\x00", 3));
  EXPECT_EQ(integer_bytes(-32769), Bytes("\x04\xFF\x7F\xFF\xFF"));
  EXPECT_EQ(integer_bytes(-128), Bytes("\x02\x80"));
  EXPECT_EQ(integer_bytes(32767), Bytes("\x03\xFF\x7F"));
}

TEST_F(ObjectStreamTest, StringsSwitchToLongTextAt256) {
  std::string out;
  ObjectWriter writer(out);
  writer.WriteString(std::string(255, 'a'));
  ASSERT_EQ(out.size(), 2u + 255u);
  EXPECT_EQ(static_cast<unsigned char>(out[0]), 6);
  EXPECT_EQ(static_cast<unsigned char>(out[1]), 255);
  out.clear();
  writer.WriteString(std::string(256, 'a'));
  ASSERT_EQ(out.size(), 5u + 256u);
  EXPECT_EQ(out.substr(0, 5), Bytes("\x0C\x00\x01\x00\x00", 5));
}

TEST_F(ObjectStreamTest, StringListIsWrittenAsStrings) {
  TZelObject object;
  object.SetName("A");
  object.ZelUsersToID().Add("x");
  const std::string stream = ObjectToStream(object);
  const std::string expected = Bytes("\x14ZelUsersToID.Strings") + Bytes("\x01\x06\x01x\x00", 5);
  EXPECT_NE(stream.find(expected), std::string::npos);
}

TEST_F(ObjectStreamTest, RoutingPropertiesStayOffFilesButTravelOnTheWire) {
  test::RoutingProbe probe;
  probe.object.SetZelNumber(5);
  probe.object.SetWhoTo("{10000000-0000-0000-1000-000000000005}");
  EXPECT_NE(ObjectToStream(probe.object).find("ZelNumber"), std::string::npos);
  const std::string file_form = probe.FileForm();
  EXPECT_EQ(file_form.find("ZelNumber"), std::string::npos);
  EXPECT_EQ(file_form.find("ZelTypeZelEventWhoTo"), std::string::npos);
  EXPECT_EQ(file_form.find("ZelConnexionID"), std::string::npos);
}

TEST_F(ObjectStreamTest, RoundTripKeepsIdentifierNameAndProperties) {
  TZelObject object;
  object.SetName("Source");
  object.EnsureId();
  object.SetTag(70000);
  object.Param().AddParam(" mode ", "Update");
  object.SetZelConnexionID(3);
  const std::string stream = ObjectToStream(object);
  auto copy = ObjectFromStream(stream);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->Name(), "Source");
  EXPECT_EQ(copy->GetId(), object.GetId());
  EXPECT_EQ(copy->Tag(), 70000);
  EXPECT_EQ(copy->Param().Lines(), std::vector<std::string>{"MODE=Update"});
  EXPECT_EQ(copy->ZelConnexionID(), 3);
  EXPECT_EQ(ObjectToStream(*copy), stream);
}

// A reader that owns its stream moves a large value out of it instead of
// copying it: the value keeps the stream's own storage, the values after it are
// still read, and what is read equals what a reader of a view reads.
TEST_F(ObjectStreamTest, OwnedStreamGivesLargeValuesItsStorage) {
  test::TTestCard card;
  card.SetName("Card");
  card.xsNickName = "nick";
  card.xsNotes.assign(200'000, 'n');  // followed by xsBig: a smaller rest, so moved
  card.xsNotes[12'345] = 'X';
  card.xsBig.assign(100'000, 'b');  // then moved out of that rest in turn
  card.xnSize = 77;
  card.xLines->Add("after the values");
  const std::string reference = ObjectToStream(card);

  std::string owned = reference;
  const char* storage = owned.data();
  auto read = ObjectFromOwnedStream(std::move(owned));
  auto& copy = dynamic_cast<test::TTestCard&>(*read);
  EXPECT_EQ(copy.xsNotes.data(), storage);
  EXPECT_EQ(copy.xsNotes, card.xsNotes);
  EXPECT_EQ(copy.xsBig, card.xsBig);
  EXPECT_EQ(copy.xsNickName, "nick");
  EXPECT_EQ(copy.xnSize, 77);
  EXPECT_EQ(copy.xLines->Lines(), std::vector<std::string>{"after the values"});
  EXPECT_EQ(ObjectToStream(copy), reference);
}

// A value followed by more bytes than its own is copied (moving it would keep
// the larger rest aside); values under the floor are always copied. Either way
// the object reads as from a view, and a cut owned stream is still a read error.
TEST_F(ObjectStreamTest, OwnedStreamCopiesWhenMovingWouldCostMore) {
  test::TTestCard card;
  card.xsNotes.assign(kMovedValueFloor, 'n');
  card.xsBig.assign(3 * kMovedValueFloor, 'b');
  card.xsWeb = std::string(300, 'w');
  const std::string reference = ObjectToStream(card);
  std::string owned = reference;
  const char* storage = owned.data();
  auto read = ObjectFromOwnedStream(std::move(owned));
  auto& copy = dynamic_cast<test::TTestCard&>(*read);
  EXPECT_NE(copy.xsNotes.data(), storage);
  EXPECT_EQ(copy.xsBig.data(), storage);
  EXPECT_EQ(copy.xsNotes, card.xsNotes);
  EXPECT_EQ(copy.xsBig, card.xsBig);
  EXPECT_EQ(ObjectToStream(copy), reference);

  for (std::size_t cut : {reference.size() - 1, reference.size() - 2, reference.size() / 2})
    EXPECT_THROW(ObjectFromOwnedStream(reference.substr(0, cut)), EReadError) << cut;
}

TEST_F(ObjectStreamTest, ReaderErrorsCarryTheirMessages) {
  auto message_of = [](const std::string& bytes) -> std::string {
    try {
      ObjectFromStream(bytes);
    } catch (const EReadError& e) {
      return e.what();
    }
    return "no error";
  };
  EXPECT_EQ(message_of("TPF1"), kStreamFormatError);
  EXPECT_EQ(message_of(Bytes("TPF0\x04TFoo")), ClassNotFoundMessage("TFoo"));
  EXPECT_EQ(message_of(Bytes("TPF0\x0ATZelObject\x01"
                             "A\x03Xyz\x02\x01\x00\x00",
                             24)),
            kPropertyNotFound);
  EXPECT_EQ(message_of(Bytes("TPF0\x0ATZelObject\x01"
                             "A\x03Tag\x06\x01x\x00\x00",
                             25)),
            kInvalidPropertyValue);
  EXPECT_EQ(message_of(Bytes("TPF0\x0ATZelObject\x01"
                             "A\x03Tag\x03\x01",
                             22)),
            kStreamReadError);
}

TEST_F(ObjectStreamTest, EveryTruncationIsAReadErrorNotACrash) {
  TZelObject object;
  object.SetName("Cut");
  object.ZelUsersToID().Add("line");
  object.Param().AddParam("a", "b");
  const std::string stream = ObjectToStream(object);
  for (std::size_t size = 0; size < stream.size(); ++size)
    EXPECT_THROW(ObjectFromStream(stream.substr(0, size)), EReadError) << "size " << size;
}

// A string list of `count` strings of `text` as the stream of a TZelObject.
std::string StringListStream(std::size_t count, const std::string& text) {
  std::string stream = Bytes(
      "TPF0\x0ATZelObject\x01"
      "A\x14ZelUsersToID.Strings\x01");
  std::string item = Bytes("\x06") + static_cast<char>(text.size()) + text;
  stream.reserve(stream.size() + count * item.size() + 3);
  for (std::size_t i = 0; i < count; ++i)
    stream += item;
  return stream + Bytes("\x00\x00\x00", 3);
}

std::string ReadErrorOf(const std::string& stream) {
  try {
    ObjectFromStream(stream);
  } catch (const EReadError& e) {
    return e.what();
  }
  return "no error";
}

// Two stream bytes make an empty string of some 40 bytes of memory: past the
// reader's budget the stream is refused instead of multiplying memory.
TEST_F(ObjectStreamTest, EmptyStringBombIsRefusedWithinTheBudget) {
  const std::size_t count = 4'000'000;  // 8 MB of stream, some 160 MB as strings
  const std::string bomb = StringListStream(count, "");
  EXPECT_EQ(ReadErrorOf(bomb), kStreamReadError);
  ObjectReader reader(bomb);
  EXPECT_THROW(reader.ReadRootObject(), EReadError);
  EXPECT_LE(reader.OverheadCharged(), reader.OverheadLimit());
  EXPECT_LT(reader.OverheadLimit(), count * kListItemOverhead);

  // A legitimate list of many short lines stays well within it.
  const std::string lines = StringListStream(200'000, "name=value");
  auto object = ObjectFromStream(lines);
  EXPECT_EQ(object->ZelUsersToID().Count(), 200'000);
}

// Child objects are read and dropped; each costs a made object, so a stream of
// tiny children is refused past the budget instead of spinning.
TEST_F(ObjectStreamTest, ChildObjectBombIsRefusedWithinTheBudget) {
  std::string stream = Bytes(
      "TPF0\x0ATZelObject\x01"
      "A\x00",
      18);
  const std::string child = Bytes("\x0ATZelObject\x00\x00\x00", 14);
  for (int i = 0; i < 100'000; ++i)
    stream += child;
  stream += Bytes("\x00", 1);
  EXPECT_EQ(ReadErrorOf(stream), kStreamReadError);

  // A few children are still read and dropped.
  std::string few = Bytes(
      "TPF0\x0ATZelObject\x01"
      "A\x00",
      18);
  for (int i = 0; i < 3; ++i)
    few += child;
  few += Bytes("\x00", 1);
  EXPECT_EQ(ReadErrorOf(few), "no error");
}

TEST_F(ObjectStreamTest, MalformedIdentifierBecomesAReadError) {
  const std::string bad_id = "{0000000G-0000-0000-0000-000000000000}";
  const std::string stream = Bytes(
                                 "TPF0\x0ATZelObject\x01"
                                 "A\x08xSMERXID\x06\x26",
                                 26) +
                             bad_id + Bytes("\x00\x00", 2);
  EXPECT_THROW(ObjectFromStream(stream), EReadError);
}

TEST_F(ObjectStreamTest, IntegerPropertiesTakeAnyWidthWithinTheirRange) {
  auto stream_with_tag = [](const std::string& value) {
    return Bytes(
               "TPF0\x0ATZelObject\x01"
               "A\x03Tag",
               21) +
           value + Bytes("\x00\x00", 2);
  };
  auto object = ObjectFromStream(stream_with_tag(Bytes("\x13\x05\x00\x00\x00\x00\x00\x00\x00", 9)));
  EXPECT_EQ(object->Tag(), 5);
  EXPECT_THROW(ObjectFromStream(stream_with_tag(Bytes("\x13\x00\x00\x00\x00\x01\x00\x00\x00", 9))),
               EReadError);
}

TEST_F(ObjectStreamTest, EnumerationWithoutANameIsNotWritten) {
  test::TTestCard card;
  card.xFlag = 7;  // no such member: an empty identifier would break the stream
  EXPECT_THROW(ObjectToStream(card), EWriteError);
}

TEST_F(ObjectStreamTest, ExtendedConversionKeepsDoubles) {
  for (double value : {1.0, -2.5, 0.1, 1e300, -1e-300, 4.9e-324, 123456789.125}) {
    unsigned char bytes[10];
    DoubleToExtended(value, bytes);
    EXPECT_EQ(ExtendedToDouble(bytes), value);
  }
  unsigned char one[10];
  DoubleToExtended(1.0, one);
  const unsigned char expected[10] = {0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x3F};
  EXPECT_EQ(std::memcmp(one, expected, 10), 0);
}

}  // namespace
}  // namespace quorvane
