#include "model/object_text.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cstdint>
#include <random>
#include <string>

#include "model/stream_errors.h"
#include "model/stream_format.h"
#include "util/codec.h"

namespace quorvane {
namespace {

using namespace quorvane::literals;

// Builds an object stream byte by byte, starting with the signature.
class StreamBuilder {
 public:
  StreamBuilder() : bytes_(kStreamSignature) {}

  StreamBuilder& Byte(int value) {
    bytes_ += static_cast<char>(value);
    return *this;
  }
  StreamBuilder& Type(ValueType type) { return Byte(static_cast<int>(type)); }
  StreamBuilder& Little(std::uint64_t value, int size) {
    for (int i = 0; i < size; ++i)
      Byte(static_cast<int>((value >> (8 * i)) & 0xFF));
    return *this;
  }
  StreamBuilder& Raw(std::string_view text) {
    bytes_ += text;
    return *this;
  }
  StreamBuilder& Short(std::string_view text) {
    return Byte(static_cast<int>(text.size())).Raw(text);
  }
  StreamBuilder& Object(std::string_view class_name, std::string_view name) {
    return Short(class_name).Short(name);
  }
  StreamBuilder& Prop(std::string_view name) { return Short(name); }
  StreamBuilder& Int8(int value) { return Type(ValueType::Int8).Little(value, 1); }
  StreamBuilder& Int16(int value) { return Type(ValueType::Int16).Little(value, 2); }
  StreamBuilder& Int32(std::int64_t value) { return Type(ValueType::Int32).Little(value, 4); }
  StreamBuilder& Int64(std::int64_t value) { return Type(ValueType::Int64).Little(value, 8); }
  StreamBuilder& Text(std::string_view text) { return Type(ValueType::ShortText).Short(text); }
  StreamBuilder& Ident(std::string_view text) { return Type(ValueType::Ident).Short(text); }
  StreamBuilder& Wide(std::initializer_list<std::uint16_t> units) {
    Type(ValueType::WideText).Little(units.size(), 4);
    for (const std::uint16_t unit : units)
      Little(unit, 2);
    return *this;
  }
  StreamBuilder& End() { return Byte(0); }
  // Closes the properties and the children of a one-object stream.
  std::string Done() { return End().End().Build(); }

  std::string Build() const { return bytes_; }

 private:
  std::string bytes_;
};

// A stream holding every value type, and its text.
std::string SampleStream() {
  StreamBuilder b;
  b.Object("TSample", "Sample");
  b.Prop("Small").Int8(-5).Prop("Medium").Int16(300).Prop("Large").Int32(-100000);
  b.Prop("Huge").Int64(5000000000LL);
  b.Prop("Ratio").Type(ValueType::Extended).Little(0xC000000000000000ULL, 8).Little(0x3FFF, 2);
  b.Prop("Caption").Text("It's\r\nok");
  b.Prop("Kind").Ident("tvo_Partner").Prop("Visible").Type(ValueType::TrueValue);
  b.Prop("Hidden").Type(ValueType::FalseValue).Prop("Link").Type(ValueType::NilValue);
  b.Prop("Nothing").Type(ValueType::EndOrNull);
  b.Prop("Data").Type(ValueType::BinaryData).Little(2, 4).Byte(0x0A).Byte(0x0B);
  b.Prop("Options").Type(ValueType::SetValue).Short("faFixed").Short("faLink").End();
  b.Prop("Empty").Type(ValueType::SetValue).End();
  b.Prop("ZelUsersToID.Strings").Type(ValueType::ListStart).Text("x").Text("y").End();
  b.Prop("Scale").Type(ValueType::Single).Little(std::bit_cast<std::uint32_t>(0.25f), 4);
  b.Prop("Price").Type(ValueType::CurrencyValue).Little(125000, 8);
  b.Prop("When").Type(ValueType::DateValue).Little(std::bit_cast<std::uint64_t>(45000.5), 8);
  b.Prop("Wide").Type(ValueType::WideText).Little(2, 4).Little('a', 2).Little(0x4E2D, 2);
  b.Prop("Columns").Type(ValueType::CollectionValue);
  b.Type(ValueType::ListStart).Prop("Width").Int8(5).End();
  b.Int8(3).Type(ValueType::ListStart).End();
  b.End();
  b.Prop("NoItems").Type(ValueType::CollectionValue).End();
  b.End();
  b.Byte(0xF0 | kPrefixInherited | kPrefixChildPos).Int8(2).Object("TChild", "Child");
  b.Prop("Tag").Int8(1).End().End();
  b.Byte(0xF0 | kPrefixInline).Object("TOther", "").End().End();
  b.End();
  return b.Build();
}

constexpr std::string_view kSampleText =
    "object Sample: TSample\n"
    "  Small = -5\n"
    "  Medium = 300\n"
    "  Large = -100000\n"
    "  Huge = 5000000000\n"
    "  Ratio = 1.5\n"
    "  Caption = 'It''s'#13#10'ok'\n"
    "  Kind = tvo_Partner\n"
    "  Visible = True\n"
    "  Hidden = False\n"
    "  Link = nil\n"
    "  Nothing = Null\n"
    "  Data = {\n"
    "    0A0B}\n"
    "  Options = [faFixed, faLink]\n"
    "  Empty = []\n"
    "  ZelUsersToID.Strings = (\n"
    "    'x'\n"
    "    'y')\n"
    "  Scale = 0.25S\n"
    "  Price = 12.5C\n"
    "  When = 45000.5D\n"
    "  Wide = 'a'#20013\n"
    "  Columns = <\n"
    "    item\n"
    "      Width = 5\n"
    "    end\n"
    "    item [3]\n"
    "    end>\n"
    "  NoItems = <>\n"
    "  inherited Child: TChild [2]\n"
    "    Tag = 1\n"
    "  end\n"
    "  inline TOther\n"
    "  end\n"
    "end\n";

std::string Hex(std::string_view bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
    out += ' ';
  }
  return out;
}

// The binary form of one property value, from the text "object A: T\n  P = <value>\nend".
std::string ValueBytes(std::string_view value) {
  const std::string binary =
      ObjectTextToBinary("object A: T\n  P = " + std::string(value) + "\nend\n");
  const std::string head = StreamBuilder().Object("T", "A").Prop("P").Build();
  EXPECT_EQ(binary.substr(0, head.size()), head);
  EXPECT_EQ(binary.substr(binary.size() - 2), std::string(2, '\0'));
  return binary.substr(head.size(), binary.size() - head.size() - 2);
}

// Binary -> text -> binary for a stream holding one property value.
void ExpectValueRoundTrip(const std::string& binary) {
  const std::string text = ObjectBinaryToText(binary);
  EXPECT_EQ(Hex(ObjectTextToBinary(text)), Hex(binary)) << text;
}

StreamBuilder OneValue() {
  StreamBuilder b;
  b.Object("T", "A").Prop("P");
  return b;
}

std::string ReadErrorOf(std::string_view binary) {
  try {
    ObjectBinaryToText(binary);
  } catch (const EReadError& error) {
    return error.what();
  }
  return "no error";
}

std::string ParserErrorOf(std::string_view text) {
  try {
    ObjectTextToBinary(text);
  } catch (const EParserError& error) {
    return error.what();
  }
  return "no error";
}

TEST(ObjectText, RendersEveryValueTypeAndReadsItBack) {
  const std::string binary = SampleStream();
  EXPECT_EQ(ObjectBinaryToText(binary), kSampleText);
  EXPECT_EQ(Hex(ObjectTextToBinary(kSampleText)), Hex(binary));
}

TEST(ObjectText, IntegersTakeTheSmallestWidth) {
  EXPECT_EQ(Hex(ValueBytes("127")), "02 7F ");
  EXPECT_EQ(Hex(ValueBytes("128")), "03 80 00 ");
  EXPECT_EQ(Hex(ValueBytes("-32769")), "04 FF 7F FF FF ");
  EXPECT_EQ(Hex(ValueBytes("2147483647")), "04 FF FF FF 7F ");
  EXPECT_EQ(Hex(ValueBytes("2147483648")), "13 00 00 00 80 00 00 00 00 ");
  EXPECT_EQ(Hex(ValueBytes("-9223372036854775808")), "13 00 00 00 00 00 00 00 80 ");
  EXPECT_EQ(ParserErrorOf("object A: T\n  P = 9223372036854775808\nend"),
            "Nombre incorrect à la ligne 2"_w);
  // Wider encodings than needed give the same text as the writer's own.
  EXPECT_EQ(ObjectBinaryToText(OneValue().Int32(5).Done()), "object A: T\n  P = 5\nend\n");
  EXPECT_EQ(ObjectBinaryToText(OneValue().Int64(-2).Done()), "object A: T\n  P = -2\nend\n");
}

TEST(ObjectText, StringsQuoteControlsAndKeepWindows1252Bytes) {
  EXPECT_EQ(ValueBytes("'It''s'#13#10'ok'"), StreamBuilder().Text("It's\r\nok").Build().substr(4));
  EXPECT_EQ(ValueBytes("''"), std::string("\x06\x00", 2));
  EXPECT_EQ(ValueBytes("#0"), std::string("\x06\x01\x00", 3));
  const std::string french = "Numéro d'écran"_w;
  const std::string text = ObjectBinaryToText(OneValue().Text(french).Done());
  EXPECT_EQ(text, "object A: T\n  P = 'Numéro d''écran'\nend\n"_w);
  EXPECT_EQ(ValueBytes("'Num' + 'éro'"_w), StreamBuilder().Text("Numéro"_w).Build().substr(4));
}

TEST(ObjectText, LongStringsSplitOverLinesAndSwitchToLongText) {
  const std::string short_text(255, 'a');
  EXPECT_EQ(ValueBytes("'" + short_text + "'").substr(0, 2), "\x06\xFF");
  std::string long_text(200, 'b');
  long_text += "\r\n" + std::string(54, 'c');  // 256 characters
  const std::string binary =
      OneValue().Type(ValueType::LongText).Little(long_text.size(), 4).Raw(long_text).Done();
  const std::string text = ObjectBinaryToText(binary);
  EXPECT_NE(text.find("'" + std::string(64, 'b') + "' +\n    '" + std::string(64, 'b') + "' +\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(Hex(ObjectTextToBinary(text)), Hex(binary));
}

TEST(ObjectText, WideTextCarriesCodesAbove255) {
  // U+20AC has a Windows-1252 byte and is written as that byte; U+0080 has none.
  const std::string binary = OneValue().Wide({0x20AC, 0x0080, '\'', 0x4E2D}).Done();
  const std::string text = ObjectBinaryToText(binary);
  EXPECT_EQ(text, "object A: T\n  P = '\x80'#128''''#20013\nend\n");
  EXPECT_EQ(Hex(ObjectTextToBinary(text)), Hex(binary));
  // A WideText needing no code above 255 is rendered as the bytes it reads back as.
  const std::string narrow_text = ObjectBinaryToText(OneValue().Wide({0x20AC, 0x0080, 0}).Done());
  EXPECT_EQ(narrow_text, "object A: T\n  P = '\x80\x80'#0\nend\n");
  EXPECT_EQ(ObjectBinaryToText(ObjectTextToBinary(narrow_text)), narrow_text);
  // Without a code above 255 the string is a Windows-1252 ShortText.
  EXPECT_EQ(ValueBytes("#128'\x80'"), std::string("\x06\x02\x80\x80"));
  EXPECT_EQ(ValueBytes("#8364#353'a'"), std::string("\x06\x03\x80\x9A"
                                                    "a"));
  EXPECT_EQ(Hex(ValueBytes("#353#20013")), "12 02 00 00 00 61 01 2D 4E ");
  EXPECT_EQ(ParserErrorOf("object A: T\n  P = #65536\nend"), "Chaîne incorrecte à la ligne 2"_w);
}

TEST(ObjectText, ExtendedValuesRoundTripExactly) {
  auto extended = [](std::uint64_t mantissa, int sign_exponent) {
    return OneValue().Type(ValueType::Extended).Little(mantissa, 8).Little(sign_exponent, 2);
  };
  auto text_of = [](StreamBuilder b) {
    const std::string text = ObjectBinaryToText(b.Done());
    return text.substr(std::string_view("object A: T\n  P = ").size(),
                       text.size() - std::string_view("object A: T\n  P = \nend\n").size());
  };
  EXPECT_EQ(text_of(extended(0, 0)), "0.0");
  EXPECT_EQ(text_of(extended(0, 0x8000)), "-0.0");
  EXPECT_EQ(text_of(extended(0x8000000000000000ULL, 0x3FFF + 66)), "73786976294838206464.0");
  EXPECT_EQ(ObjectBinaryToText(ObjectTextToBinary("object A: T\n  P = 1e300\nend")),
            "object A: T\n  P = 1E+300\nend\n");
  EXPECT_EQ(text_of(extended(0x8000000000000000ULL, 0x7FFF)), "$7FFF8000000000000000:X");
  EXPECT_EQ(text_of(extended(0x8000000000000001ULL, 0x3FFF)), "$3FFF8000000000000001:X");
  // Values at the edges of and beyond double: NaNs, denormals, unnormals, huge.
  const std::array<std::pair<std::uint64_t, int>, 9> edges = {{
      {0xC000000000000001ULL, 0xFFFF},
      {1, 0},
      {0x8000000000000000ULL, 0},
      {0x8000000000000000ULL, 0x3FFF - 1074},
      {0x8000000000000000ULL, 0x3FFF - 1080},
      {0x4000000000000000ULL, 0x3FFF},
      {0, 0x3FFF},
      {0xFFFFFFFFFFFFF800ULL, 0x3FFF + 1023},
      {0xFFFFFFFFFFFFFFFFULL, 0x7FFE},
  }};
  for (const auto& [mantissa, sign_exponent] : edges)
    ExpectValueRoundTrip(extended(mantissa, sign_exponent).Done());
  std::mt19937_64 random(20261208);
  for (int i = 0; i < 2000; ++i)
    ExpectValueRoundTrip(extended(random(), static_cast<int>(random() & 0xFFFF)).Done());
  // A decimal written by hand reads as the nearest double.
  EXPECT_EQ(Hex(ValueBytes("0.1")), Hex(ValueBytes("1E-1")));
  EXPECT_EQ(ParserErrorOf("object A: T\n  P = 1E999\nend"), "Nombre incorrect à la ligne 2"_w);
}

TEST(ObjectText, SingleDateAndCurrencyKeepTheirKinds) {
  EXPECT_EQ(Hex(ValueBytes("1.5S")), "0F 00 00 C0 3F ");
  EXPECT_EQ(Hex(ValueBytes("2D")), "11 00 00 00 00 00 00 00 40 ");
  EXPECT_EQ(Hex(ValueBytes("-0.0001C")), "10 FF FF FF FF FF FF FF FF ");
  EXPECT_EQ(Hex(ValueBytes("-922337203685477.5808C")), "10 00 00 00 00 00 00 00 80 ");
  EXPECT_EQ(ParserErrorOf("object A: T\n  P = 922337203685477.5808C\nend"),
            "Nombre incorrect à la ligne 2"_w);
  EXPECT_EQ(ParserErrorOf("object A: T\n  P = 1.00001C\nend"), "Nombre incorrect à la ligne 2"_w);
  std::mt19937_64 random(7);
  for (int i = 0; i < 2000; ++i) {
    for (const auto& [type, size] : {std::pair{ValueType::Single, 4},
                                     {ValueType::DateValue, 8},
                                     {ValueType::CurrencyValue, 8}})
      ExpectValueRoundTrip(OneValue().Type(type).Little(random(), size).Done());
  }
  for (const std::uint64_t bits : {0x7FC00000ULL, 0xFF800000ULL, 0x00000001ULL, 0x80000000ULL})
    ExpectValueRoundTrip(OneValue().Type(ValueType::Single).Little(bits, 4).Done());
}

TEST(ObjectText, ReadsHandWrittenTexts) {
  const std::string text =
      "OBJECT Form: TForm\r\n"
      "  Caption = 'It''s'#13#10'ok'\r\n"
      "  Items.Strings = (\r\n"
      "   'a'\r\n"
      "   'b')\r\n"
      "  Data = {\r\n"
      "   0a0B}\r\n"
      "  Options = [ faFixed , faLink ]\r\n"
      "  Flag = false\r\n"
      "  Cols = < Item [ -1 ] W=1 END item end >\r\n"
      "  object Child : TChild End\r\n"
      "End\r\n";
  StreamBuilder b;
  b.Object("TForm", "Form").Prop("Caption").Text("It's\r\nok");
  b.Prop("Items.Strings").Type(ValueType::ListStart).Text("a").Text("b").End();
  b.Prop("Data").Type(ValueType::BinaryData).Little(2, 4).Byte(0x0A).Byte(0x0B);
  b.Prop("Options").Type(ValueType::SetValue).Short("faFixed").Short("faLink").End();
  b.Prop("Flag").Type(ValueType::FalseValue);
  b.Prop("Cols").Type(ValueType::CollectionValue).Int8(-1).Type(ValueType::ListStart);
  b.Prop("W").Int8(1).End().Type(ValueType::ListStart).End().End();
  b.End().Object("TChild", "Child").End().End().End();
  EXPECT_EQ(Hex(ObjectTextToBinary(text)), Hex(b.Build()));
  StreamBuilder z;
  z.Object("T", "A").Prop("ZelUsersToID.Strings").Byte(1).Byte(6).Byte(1).Raw("x").End();
  EXPECT_EQ(Hex(ObjectTextToBinary("object A: T\n  ZelUsersToID.Strings = ( 'x' )\nend")),
            Hex(z.Done()));
}

TEST(ObjectText, HeadersCarryPrefixFlagsAndKeywordNames) {
  const std::string text =
      "inherited inline Root: TRoot [-3]\n"
      "  end = 1\n"
      "  object = 2\n"
      "  inherited inline: TInline\n"
      "  end\n"
      "  inherited inline\n"
      "  end\n"
      "  object end\n"
      "  end\n"
      "end\n";
  StreamBuilder b;
  b.Byte(0xF7).Int8(-3).Object("TRoot", "Root").Prop("end").Int8(1).Prop("object").Int8(2).End();
  b.Byte(0xF1).Object("TInline", "inline").End().End();
  b.Byte(0xF1).Object("inline", "").End().End();
  b.Object("end", "").End().End();
  b.End();
  EXPECT_EQ(Hex(ObjectTextToBinary(text)), Hex(b.Build()));
  EXPECT_EQ(ObjectBinaryToText(b.Build()), text);
  // A prefix without flags is dropped; unknown flag bits are ignored.
  // Without a prefix a class name's length byte must stay below the prefix mark.
  for (const std::string& header :
       {"object " + std::string(239, 'C'), "inline " + std::string(255, 'C'),
        "object " + std::string(255, 'C') + " [1]"})
    EXPECT_EQ(ObjectBinaryToText(ObjectTextToBinary(header + "\nend")), header + "\nend\n");
  EXPECT_EQ(ObjectBinaryToText(StreamBuilder().Byte(0xF8).Object("T", "A").Done()),
            "object A: T\nend\n");
}

TEST(ObjectText, TextRoundTripIsStable) {
  const std::string text =
      "object A: T\n  S = 'x' +\n 'y'#9\n  L = ( ( 1 2.50 ) [] <> {} 'z' )\n"
      "  N = 007\n  F = 1E2\nend";
  const std::string binary = ObjectTextToBinary(text);
  const std::string normal = ObjectBinaryToText(binary);
  EXPECT_EQ(normal,
            "object A: T\n  S = 'xy'#9\n  L = (\n    (\n      1\n      2.5)\n    []\n    <>\n"
            "    {}\n    'z')\n  N = 7\n  F = 100.0\nend\n");
  EXPECT_EQ(Hex(ObjectTextToBinary(normal)), Hex(binary));
}

TEST(ObjectText, MalformedBinaryIsRefused) {
  const std::string sample = SampleStream();
  for (std::size_t size = 0; size < sample.size(); ++size)
    EXPECT_EQ(ReadErrorOf(sample.substr(0, size)), kStreamReadError) << "size " << size;
  EXPECT_EQ(ReadErrorOf("TPF1" + sample.substr(4)), kStreamFormatError);
  EXPECT_EQ(ReadErrorOf(sample + '\0'), kStreamFormatError);
  // Lengths running past the end, including ones that would need huge buffers.
  EXPECT_EQ(ReadErrorOf(OneValue().Type(ValueType::LongText).Little(5, 4).Raw("abc").Build()),
            kStreamReadError);
  EXPECT_EQ(ReadErrorOf(OneValue().Type(ValueType::BinaryData).Little(0xFFFFFFFF, 4).Build()),
            kStreamReadError);
  EXPECT_EQ(ReadErrorOf(OneValue().Type(ValueType::WideText).Little(0xFFFFFFFF, 4).Build()),
            kStreamReadError);
  // Unknown value types and values out of place.
  EXPECT_EQ(ReadErrorOf(OneValue().Byte(20).Done()), kInvalidPropertyValue);
  EXPECT_EQ(ReadErrorOf(OneValue().Byte(0xFF).Done()), kInvalidPropertyValue);
  EXPECT_EQ(ReadErrorOf(OneValue().Ident("").Done()), kInvalidPropertyValue);
  EXPECT_EQ(ReadErrorOf(OneValue().Ident("a b").Done()), kInvalidPropertyValue);
  EXPECT_EQ(ReadErrorOf(OneValue()
                            .Type(ValueType::CollectionValue)
                            .Text("1")
                            .Type(ValueType::ListStart)
                            .End()
                            .End()
                            .End()
                            .End()
                            .Build()),
            kInvalidPropertyValue);
  // Names that the text could not carry.
  EXPECT_EQ(ReadErrorOf(StreamBuilder().Object("T", "A").Prop("a b").Int8(1).Done()),
            kStreamFormatError);
  EXPECT_EQ(ReadErrorOf(StreamBuilder().Object("T", "A").Prop("a..b").Int8(1).Done()),
            kStreamFormatError);
  EXPECT_EQ(ReadErrorOf(StreamBuilder().Object("1T", "A").Done()), kStreamFormatError);
}

std::string NestedListsText(int depth) {
  return "object A: T\n  P = " + std::string(depth, '(') + std::string(depth, ')') + "\nend\n";
}

std::string NestedListsBinary(int depth) {
  StreamBuilder b = OneValue();
  for (int i = 0; i < depth; ++i)
    b.Type(ValueType::ListStart);
  for (int i = 0; i < depth; ++i)
    b.End();
  return b.Done();
}

TEST(ObjectText, NestingDeeperThanTheLimitIsRefusedBothWays) {
  // The root object is the first level, so 63 lists reach the limit.
  const int lists = kMaxStreamDepth - 1;
  EXPECT_EQ(Hex(ObjectTextToBinary(NestedListsText(lists))), Hex(NestedListsBinary(lists)));
  EXPECT_NO_THROW(ObjectBinaryToText(NestedListsBinary(lists)));
  for (const int depth : {lists + 1, lists + 2, 100000}) {
    EXPECT_EQ(ReadErrorOf(NestedListsBinary(depth)), kStreamReadError);
    EXPECT_THROW(ObjectTextToBinary(NestedListsText(depth)), EReadError);
  }
  // Child objects and collections count alike.
  StreamBuilder b;
  for (int i = 0; i < kMaxStreamDepth; ++i)
    b.Object("T", "").End();
  for (int i = 0; i < kMaxStreamDepth; ++i)
    b.End();
  const std::string deepest = ObjectBinaryToText(b.Build());
  EXPECT_EQ(Hex(ObjectTextToBinary(deepest)), Hex(b.Build()));
  StreamBuilder c = OneValue();
  for (int i = 0; i < kMaxStreamDepth; ++i)
    c.Type(ValueType::CollectionValue).Byte(1).Prop("P");
  c.Int8(0);
  for (int i = 0; i < kMaxStreamDepth; ++i)
    c.End().End();
  EXPECT_EQ(ReadErrorOf(c.Done()), kStreamReadError);
}

TEST(ObjectText, MalformedTextNamesTheLine) {
  const std::string head = "object A: T\n  X = 1\n";
  const std::pair<std::string, std::string> cases[] = {
      {head + "  Y = 'abc\nend", "Chaîne incorrecte à la ligne 3"_w},
      {head + "  Y = {\n 0A0 }\nend", "Valeur binaire incorrecte à la ligne 4"_w},
      {head + "  Y = ( 1\n Null )\nend", "Valeur de propriété incorrecte à la ligne 4"_w},
      {head + "  Y = @\nend", "Valeur attendue à la ligne 3"_w},
      {head + "  Y = 12ab\nend", "Nombre incorrect à la ligne 3"_w},
      {head + "  Y = [a b]\nend", "']' attendu à la ligne 3"_w},
      {head + "  Y = 'a' +\n\n  Z\nend", "Chaîne attendue à la ligne 5"_w},
      {head + "  Y = <\n  thing end>\nend", "'item' attendu à la ligne 4"_w},
      {head + "  Y = $12:X\nend", "Nombre incorrect à la ligne 3"_w},
      {head + "  Y Z\nend", "'end' attendu à la ligne 3"_w},
      {head + "end\nend", "Fin du texte attendue à la ligne 4"_w},
      {head, "'end' attendu à la ligne 3"_w},
      {"thing A: T\nend", "'object' attendu à la ligne 1"_w},
      {"object A: T\r\n  " + std::string(256, 'N') + " = 1\r\nend",
       "Identificateur trop long à la ligne 2"_w},
      {"object A: T\r  P = (\r\r", "')' attendu à la ligne 4"_w},
      {"object A: T\n  object\n " + std::string(240, 'C') + "\n  end\nend",
       "Identificateur trop long à la ligne 3"_w},
  };
  for (const auto& [text, message] : cases)
    EXPECT_EQ(ParserErrorOf(text), message) << text;
}

}  // namespace
}  // namespace quorvane
