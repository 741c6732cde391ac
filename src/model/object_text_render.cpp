#include "model/object_text.h"
#include "model/object_text_support.h"

namespace quorvane {
namespace {

using namespace quorvane::literals;
using namespace quorvane::object_text_detail;

// ---------------------------------------------------------------------------
// Binary to text

// Bounds-checked reading of the stream; running past the end is a read error.
class ByteCursor {
 public:
  explicit ByteCursor(std::string_view data) : data_(data) {}

  bool AtEnd() const { return pos_ == data_.size(); }
  std::uint8_t Peek() const {
    Need(1);
    return static_cast<std::uint8_t>(data_[pos_]);
  }
  std::uint8_t Byte() {
    Need(1);
    return static_cast<std::uint8_t>(data_[pos_++]);
  }
  std::string_view Take(std::uint64_t size) {
    Need(size);
    const std::string_view part = data_.substr(pos_, size);
    pos_ += size;
    return part;
  }
  std::uint64_t Unsigned(int size) {
    const std::string_view part = Take(size);
    std::uint64_t value = 0;
    for (int i = 0; i < size; ++i)
      value |= std::uint64_t{static_cast<unsigned char>(part[i])} << (8 * i);
    return value;
  }
  std::int64_t Signed(int size) {
    std::uint64_t value = Unsigned(size);
    if (size < 8 && (value >> (8 * size - 1)) != 0) value |= ~std::uint64_t{0} << (8 * size);
    return static_cast<std::int64_t>(value);
  }
  std::string_view ShortText() { return Take(Byte()); }

 private:
  void Need(std::uint64_t size) const {
    if (data_.size() - pos_ < size) throw EReadError(kStreamReadError);
  }

  std::string_view data_;
  std::size_t pos_ = 0;
};

class TextRenderer {
 public:
  explicit TextRenderer(std::string_view binary) : in_(binary) {}

  std::string Render() {
    if (in_.Take(kStreamSignature.size()) != kStreamSignature) throw EReadError(kStreamFormatError);
    Object(0);
    if (!in_.AtEnd()) throw EReadError(kStreamFormatError);
    return std::move(out_);
  }

 private:
  void Indent(int level) { out_.append(2 * static_cast<std::size_t>(level), ' '); }
  void NewLine(int level) {
    out_ += '\n';
    Indent(level);
  }

  static void CheckName(std::string_view name, bool dotted) {
    if (!(dotted ? IsPropertyName(name) : IsIdentifier(name))) throw EReadError(kStreamFormatError);
  }

  void Object(int level) {
    DepthGuard guard(depth_);
    std::uint8_t flags = 0;
    std::int64_t position = 0;
    if ((in_.Peek() & kPrefixMask) == kPrefixMask) {
      flags = in_.Byte() & (kPrefixInherited | kPrefixChildPos | kPrefixInline);
      if (flags & kPrefixChildPos) position = Integer(in_.Byte());
    }
    const std::string_view class_name = in_.ShortText();
    const std::string_view name = in_.ShortText();
    CheckName(class_name, false);
    if (!name.empty()) CheckName(name, false);

    Indent(level);
    if (flags & kPrefixInherited)
      out_ += (flags & kPrefixInline) ? "inherited inline " : "inherited ";
    else
      out_ += (flags & kPrefixInline) ? "inline " : "object ";
    if (!name.empty()) out_.append(name).append(": ");
    out_ += class_name;
    if (flags & kPrefixChildPos) out_.append(" [").append(std::to_string(position)) += ']';
    out_ += '\n';
    Properties(level + 1);
    while (in_.Peek() != 0)
      Object(level + 1);
    in_.Byte();
    Indent(level);
    out_ += "end\n";
  }

  // Property lines up to and including the end-of-list byte.
  void Properties(int level) {
    while (in_.Peek() != 0) {
      const std::string_view name = in_.ShortText();
      CheckName(name, true);
      Indent(level);
      out_.append(name).append(" = ");
      Value(level);
      out_ += '\n';
    }
    in_.Byte();
  }

  std::int64_t Integer(std::uint8_t type) {
    switch (static_cast<ValueType>(type)) {
      case ValueType::Int8:
        return in_.Signed(1);
      case ValueType::Int16:
        return in_.Signed(2);
      case ValueType::Int32:
        return in_.Signed(4);
      case ValueType::Int64:
        return in_.Signed(8);
      default:
        throw EReadError(kInvalidPropertyValue);
    }
  }

  // A value starting on a line of the given level; continuation lines go one deeper.
  void Value(int level) {
    const std::uint8_t type = in_.Byte();
    switch (static_cast<ValueType>(type)) {
      case ValueType::EndOrNull:
        out_ += "Null";
        break;
      case ValueType::ListStart:
        List(level);
        break;
      case ValueType::Int8:
      case ValueType::Int16:
      case ValueType::Int32:
      case ValueType::Int64:
        out_ += std::to_string(Integer(type));
        break;
      case ValueType::Extended:
        Extended();
        break;
      case ValueType::ShortText:
        Narrow(in_.ShortText(), level);
        break;
      case ValueType::LongText:
        Narrow(in_.Take(in_.Unsigned(4)), level);
        break;
      case ValueType::WideText:
        Wide(in_.Take(2 * in_.Unsigned(4)), level);
        break;
      case ValueType::Ident: {
        std::string_view ident = in_.ShortText();
        if (!IsIdentifier(ident)) throw EReadError(kInvalidPropertyValue);
        // These words read back as their own value types, whatever their case.
        for (const std::string_view word : {"False", "True", "nil", "Null"})
          if (SameText(ident, word)) ident = word;
        out_ += ident;
        break;
      }
      case ValueType::FalseValue:
        out_ += "False";
        break;
      case ValueType::TrueValue:
        out_ += "True";
        break;
      case ValueType::NilValue:
        out_ += "nil";
        break;
      case ValueType::BinaryData:
        Binary(in_.Take(in_.Unsigned(4)), level);
        break;
      case ValueType::SetValue:
        Set();
        break;
      case ValueType::CollectionValue:
        Collection(level);
        break;
      case ValueType::Single: {
        const auto bits = static_cast<std::uint32_t>(in_.Unsigned(4));
        const auto value = std::bit_cast<float>(bits);
        if (std::isfinite(value))
          out_ += ShortestDecimal(value) + 'S';
        else
          RawBits(bits, 8, 'S');
        break;
      }
      case ValueType::DateValue: {
        const std::uint64_t bits = in_.Unsigned(8);
        const auto value = std::bit_cast<double>(bits);
        if (std::isfinite(value))
          out_ += ShortestDecimal(value) + 'D';
        else
          RawBits(bits, 16, 'D');
        break;
      }
      case ValueType::CurrencyValue:
        Currency(in_.Signed(8));
        break;
      default:
        throw EReadError(kInvalidPropertyValue);
    }
  }

  void RawBits(std::uint64_t bits, int digits, char kind) {
    out_ += '$';
    AppendHex(out_, bits, digits);
    out_ += ':';
    out_ += kind;
  }

  void Extended() {
    const std::string_view part = in_.Take(10);
    const auto* bytes = reinterpret_cast<const unsigned char*>(part.data());
    if (const std::optional<double> value = ExactDouble(bytes)) {
      std::string text = ShortestDecimal(*value);
      if (text.find_first_of(".E") == std::string::npos) text += ".0";
      out_ += text;
      return;
    }
    out_ += '$';
    AppendHex(out_, bytes[9] << 8 | bytes[8], 4);
    std::uint64_t mantissa = 0;
    for (int i = 0; i < 8; ++i)
      mantissa |= std::uint64_t{bytes[i]} << (8 * i);
    AppendHex(out_, mantissa, 16);
    out_ += ":X";
  }

  void Currency(std::int64_t value) {
    const std::uint64_t magnitude =
        value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    if (value < 0) out_ += '-';
    out_ += std::to_string(magnitude / 10000);
    if (std::uint64_t fraction = magnitude % 10000) {
      std::string digits = std::to_string(fraction + 10000).substr(1);
      digits.erase(digits.find_last_not_of('0') + 1);
      out_.append(".").append(digits);
    }
    out_ += 'C';
  }

  // Quoted runs for the codes raw_byte() gives a byte for, #n for the others.
  template <typename Code, typename RawByte>
  void Quoted(const Code* codes, std::size_t count, RawByte raw_byte) {
    bool quoted = false;
    for (std::size_t i = 0; i < count; ++i) {
      const int byte = raw_byte(codes[i]);
      if (byte >= 0) {
        if (!quoted) out_ += '\'';
        quoted = true;
        out_ += static_cast<char>(byte);
        if (byte == '\'') out_ += '\'';
      } else {
        if (quoted) out_ += '\'';
        quoted = false;
        out_.append("#").append(std::to_string(codes[i]));
      }
    }
    if (quoted) out_ += '\'';
  }

  template <typename Code, typename RawByte>
  void Text(const Code* codes, std::size_t count, int level, RawByte raw_byte) {
    if (count == 0) out_ += "''";
    for (std::size_t start = 0; start < count; start += kStringLineLength) {
      if (start > 0) {
        out_ += " +";
        NewLine(level + 1);
      }
      Quoted(codes + start, std::min(kStringLineLength, count - start), raw_byte);
    }
  }

  void Narrow(std::string_view bytes, int level) {
    Text(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), level,
         [](unsigned char c) { return c < 32 ? -1 : c; });
  }

  void Wide(std::string_view bytes, int level) {
    std::vector<std::uint16_t> units(bytes.size() / 2);
    for (std::size_t i = 0; i < units.size(); ++i)
      units[i] = static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                            static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
    const auto raw_byte = [](std::uint16_t unit) { return unit < 32 ? -1 : Cp1252ByteOf(unit); };
    if (std::any_of(units.begin(), units.end(),
                    [&](std::uint16_t unit) { return unit > 255 && raw_byte(unit) < 0; })) {
      Text(units.data(), units.size(), level, raw_byte);
      return;
    }
    // Nothing needs a code above 255, so the text reads back as Windows-1252
    // bytes; render those bytes, or a second pass would render them otherwise.
    std::string narrow;
    for (const std::uint16_t unit : units) {
      const int byte = Cp1252ByteOf(unit);
      narrow += static_cast<char>(byte >= 0 ? byte : unit);
    }
    Narrow(narrow, level);
  }

  void Binary(std::string_view bytes, int level) {
    out_ += '{';
    for (std::size_t start = 0; start < bytes.size(); start += kBinaryLineLength) {
      NewLine(level + 1);
      for (const char c : bytes.substr(start, kBinaryLineLength))
        AppendHex(out_, static_cast<unsigned char>(c), 2);
    }
    out_ += '}';
  }

  void Set() {
    out_ += '[';
    for (bool first = true;; first = false) {
      const std::string_view member = in_.ShortText();
      if (member.empty()) break;
      if (!IsIdentifier(member)) throw EReadError(kInvalidPropertyValue);
      if (!first) out_ += ", ";
      out_ += member;
    }
    out_ += ']';
  }

  void List(int level) {
    DepthGuard guard(depth_);
    out_ += '(';
    while (in_.Peek() != 0) {
      NewLine(level + 1);
      Value(level + 1);
    }
    in_.Byte();
    out_ += ')';
  }

  void Collection(int level) {
    DepthGuard guard(depth_);
    out_ += '<';
    while (in_.Peek() != 0) {
      NewLine(level + 1);
      out_ += "item";
      std::uint8_t type = in_.Byte();
      if (type != static_cast<std::uint8_t>(ValueType::ListStart)) {
        out_.append(" [").append(std::to_string(Integer(type))) += ']';
        type = in_.Byte();
        if (type != static_cast<std::uint8_t>(ValueType::ListStart))
          throw EReadError(kInvalidPropertyValue);
      }
      out_ += '\n';
      Properties(level + 2);
      Indent(level + 1);
      out_ += "end";
    }
    in_.Byte();
    out_ += '>';
  }

  ByteCursor in_;
  std::string out_;
  int depth_ = 0;
};

}  // namespace

std::string ObjectBinaryToText(std::string_view binary) {
  return TextRenderer(binary).Render();
}

}  // namespace quorvane
