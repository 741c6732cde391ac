#include "model/object_text.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>
#include <vector>

#include "model/object_stream.h"
#include "model/stream_errors.h"
#include "model/stream_format.h"
#include "util/codec.h"
#include "util/text.h"

namespace quorvane {
namespace {

using namespace quorvane::literals;

// Characters of a string and bytes of binary data per text line.
constexpr std::size_t kStringLineLength = 64;
constexpr std::size_t kBinaryLineLength = 32;
constexpr std::uint64_t kMaxLength = 0xFFFFFFFFu;  // 4-byte lengths

bool IsIdentStart(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsIdentChar(char c) {
  return IsIdentStart(c) || IsDigit(c);
}
bool IsHexDigit(char c) {
  return IsDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}
int HexValue(char c) {
  return IsDigit(c) ? c - '0' : (c | 0x20) - 'a' + 10;
}

bool IsIdentifier(std::string_view s) {
  return !s.empty() && IsIdentStart(s[0]) && std::all_of(s.begin(), s.end(), IsIdentChar);
}

// Dotted names such as "ZelUsersToID.Strings".
bool IsPropertyName(std::string_view s) {
  for (;;) {
    const std::size_t dot = s.find('.');
    if (!IsIdentifier(s.substr(0, dot))) return false;
    if (dot == std::string_view::npos) return true;
    s.remove_prefix(dot + 1);
  }
}

void AppendLittleEndian(std::string& out, std::uint64_t value, int size) {
  for (int i = 0; i < size; ++i)
    out += static_cast<char>(value >> (8 * i));
}

void AppendHex(std::string& out, std::uint64_t value, int digits) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  for (int i = digits - 1; i >= 0; --i)
    out += kDigits[(value >> (4 * i)) & 0xF];
}

// The integer encoding the binary writer uses: the smallest width that holds it.
void AppendInteger(std::string& out, std::int64_t value) {
  if (value >= INT8_MIN && value <= INT8_MAX) {
    out += static_cast<char>(ValueType::Int8);
    AppendLittleEndian(out, static_cast<std::uint64_t>(value), 1);
  } else if (value >= INT16_MIN && value <= INT16_MAX) {
    out += static_cast<char>(ValueType::Int16);
    AppendLittleEndian(out, static_cast<std::uint64_t>(value), 2);
  } else if (value >= INT32_MIN && value <= INT32_MAX) {
    out += static_cast<char>(ValueType::Int32);
    AppendLittleEndian(out, static_cast<std::uint64_t>(value), 4);
  } else {
    out += static_cast<char>(ValueType::Int64);
    AppendLittleEndian(out, static_cast<std::uint64_t>(value), 8);
  }
}

// Shortest decimal that reads back to the same value; "E" as exponent mark.
template <typename Float>
std::string ShortestDecimal(Float value) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  std::string text(buffer, result.ptr);
  std::replace(text.begin(), text.end(), 'e', 'E');
  return text;
}

// The double an extended value holds, when converting it back gives the same ten
// bytes; otherwise (NaN, infinity, more precision or range than a double, an
// encoding the hardware would not produce) it needs its raw form.
std::optional<double> ExactDouble(const unsigned char bytes[10]) {
  const double value = ExtendedToDouble(bytes);
  if (!std::isfinite(value)) return std::nullopt;
  std::array<unsigned char, 10> back{};
  DoubleToExtended(value, back.data());
  if (!std::equal(back.begin(), back.end(), bytes)) return std::nullopt;
  return value;
}

// Raises EReadError when nesting goes beyond kMaxStreamDepth, in both directions.
class DepthGuard {
 public:
  explicit DepthGuard(int& depth) : depth_(depth) {
    if (depth_ >= kMaxStreamDepth) throw EReadError(kStreamReadError);
    ++depth_;
  }
  ~DepthGuard() { --depth_; }
  DepthGuard(const DepthGuard&) = delete;
  DepthGuard& operator=(const DepthGuard&) = delete;

 private:
  int& depth_;
};

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

// ---------------------------------------------------------------------------
// Text to binary

// A number as written: the digits (sign, fraction and exponent included), whether
// it has a fraction or exponent, and its kind suffix (S, C, D or none).
struct NumberText {
  std::string_view digits;
  bool is_float = false;
  char suffix = 0;
};

class TextParser {
 public:
  explicit TextParser(std::string_view text) : text_(text) {}

  std::string Parse() {
    out_ = kStreamSignature;
    Object();
    SkipBlanks();
    if (!AtEnd()) Fail("Fin du texte attendue"_w);
    return std::move(out_);
  }

 private:
  [[noreturn]] void Fail(const std::string& what) const {
    throw EParserError(what + " à la ligne "_w + std::to_string(line_));
  }

  bool AtEnd() const { return pos_ >= text_.size(); }
  char Peek(std::size_t ahead = 0) const {
    return pos_ + ahead < text_.size() ? text_[pos_ + ahead] : '\0';
  }

  // Blanks and line ends, counting lines (LF, CR LF or a lone CR).
  void SkipBlanks() {
    while (!AtEnd()) {
      const char c = text_[pos_];
      if (c == '\n' || (c == '\r' && Peek(1) != '\n'))
        ++line_;
      else if (c != ' ' && c != '\t' && c != '\r')
        break;
      ++pos_;
    }
  }
  void SkipSpaces() {
    while (Peek() == ' ' || Peek() == '\t')
      ++pos_;
  }

  void Expect(char c) {
    SkipBlanks();
    if (AtEnd() || Peek() != c) Fail(std::string("'") + c + "' attendu");
    ++pos_;
  }

  std::string_view Identifier() {
    SkipBlanks();
    if (!IsIdentStart(Peek())) Fail("Identificateur attendu");
    const std::size_t start = pos_;
    while (IsIdentChar(Peek()))
      ++pos_;
    return text_.substr(start, pos_ - start);
  }

  std::string_view PropertyName() {
    SkipBlanks();
    const std::size_t start = pos_;
    Identifier();
    while (Peek() == '.') {
      ++pos_;
      if (!IsIdentStart(Peek())) Fail("Identificateur attendu");
      while (IsIdentChar(Peek()))
        ++pos_;
    }
    return text_.substr(start, pos_ - start);
  }

  // A name followed by "=" starts a property; anything else ends the properties.
  bool AtProperty() {
    SkipBlanks();
    if (!IsIdentStart(Peek())) return false;
    std::size_t ahead = 0;
    while (IsIdentChar(Peek(ahead)) || Peek(ahead) == '.')
      ++ahead;
    while (Peek(ahead) == ' ' || Peek(ahead) == '\t' || Peek(ahead) == '\r' || Peek(ahead) == '\n')
      ++ahead;
    return Peek(ahead) == '=';
  }

  void AppendShortText(std::string_view name) {
    if (name.size() > 255) Fail("Identificateur trop long");
    out_ += static_cast<char>(name.size());
    out_ += name;
  }

  void AppendLength(std::uint64_t length) {
    if (length > kMaxLength) Fail("Valeur trop longue");
    AppendLittleEndian(out_, length, 4);
  }

  void Object() {
    DepthGuard guard(depth_);
    std::uint8_t flags = 0;
    const std::string_view keyword = Identifier();
    if (SameText(keyword, "inherited")) {
      flags = kPrefixInherited;
      // "inherited inline X" carries both flags; "inherited inline: T" names an
      // object "inline", and a lone "inherited inline" has a class of that name.
      const std::size_t saved = pos_;
      SkipSpaces();
      if (IsIdentStart(Peek()) && SameText(Identifier(), "inline")) {
        SkipSpaces();
        if (IsIdentStart(Peek())) flags |= kPrefixInline;
      }
      if (!(flags & kPrefixInline)) pos_ = saved;
    } else if (SameText(keyword, "inline")) {
      flags = kPrefixInline;
    } else if (!SameText(keyword, "object")) {
      Fail("'object' attendu");
    }
    std::string_view name;
    std::string_view class_name = Identifier();
    int class_line = line_;
    SkipBlanks();
    if (Peek() == ':') {
      ++pos_;
      name = class_name;
      class_name = Identifier();
      class_line = line_;
      SkipBlanks();
    }
    std::int64_t position = 0;
    if (Peek() == '[') {
      ++pos_;
      flags |= kPrefixChildPos;
      position = Integer();
      Expect(']');
    }
    // Without a prefix, a length byte from 0xF0 up would read as one.
    if (flags == 0 && class_name.size() >= kPrefixMask) {
      line_ = class_line;
      Fail("Identificateur trop long");
    }
    if (flags != 0) {
      out_ += static_cast<char>(kPrefixMask | flags);
      if (flags & kPrefixChildPos) AppendInteger(out_, position);
    }
    AppendShortText(class_name);
    AppendShortText(name);
    Properties();
    for (;;) {
      SkipBlanks();
      if (AtEnd()) Fail("'end' attendu");
      const std::size_t saved = pos_;
      const std::string_view word = Identifier();
      if (SameText(word, "end")) break;
      if (!SameText(word, "object") && !SameText(word, "inherited") && !SameText(word, "inline"))
        Fail("'end' attendu");
      pos_ = saved;
      Object();
    }
    out_ += '\0';
  }

  void Properties() {
    while (AtProperty()) {
      const std::string_view name = PropertyName();
      Expect('=');
      AppendShortText(name);
      Value(false);
    }
    out_ += '\0';
  }

  void Value(bool in_list) {
    SkipBlanks();
    const char c = Peek();
    if (AtEnd()) Fail("Valeur attendue");
    if (c == '(') return List();
    if (c == '[') return Set();
    if (c == '{') return Binary();
    if (c == '<') return Collection();
    if (c == '\'' || c == '#') return String();
    if (c == '$') return RawFloat();
    if (c == '-' || IsDigit(c)) return Number();
    if (!IsIdentStart(c)) Fail("Valeur attendue");
    const std::string_view ident = Identifier();
    if (SameText(ident, "False")) {
      out_ += static_cast<char>(ValueType::FalseValue);
    } else if (SameText(ident, "True")) {
      out_ += static_cast<char>(ValueType::TrueValue);
    } else if (SameText(ident, "nil")) {
      out_ += static_cast<char>(ValueType::NilValue);
    } else if (SameText(ident, "Null")) {
      // In a list the byte would read as the list's end.
      if (in_list) Fail(kInvalidPropertyValue);
      out_ += static_cast<char>(ValueType::EndOrNull);
    } else {
      out_ += static_cast<char>(ValueType::Ident);
      AppendShortText(ident);
    }
  }

  void List() {
    DepthGuard guard(depth_);
    ++pos_;
    out_ += static_cast<char>(ValueType::ListStart);
    for (;;) {
      SkipBlanks();
      if (AtEnd()) Fail("')' attendu");
      if (Peek() == ')') break;
      Value(true);
    }
    ++pos_;
    out_ += '\0';
  }

  void Set() {
    ++pos_;
    out_ += static_cast<char>(ValueType::SetValue);
    SkipBlanks();
    if (Peek() == ']') {
      ++pos_;
    } else {
      for (;;) {
        AppendShortText(Identifier());
        SkipBlanks();
        if (Peek() != ',') break;
        ++pos_;
      }
      Expect(']');
    }
    out_ += '\0';
  }

  void Binary() {
    ++pos_;
    std::string bytes;
    int high = -1;
    for (;;) {
      SkipBlanks();
      if (AtEnd()) Fail("'}' attendu");
      const char c = text_[pos_++];
      if (c == '}') break;
      if (!IsHexDigit(c)) Fail("Valeur binaire incorrecte");
      if (high < 0) {
        high = HexValue(c);
      } else {
        bytes += static_cast<char>(high << 4 | HexValue(c));
        high = -1;
      }
    }
    if (high >= 0) Fail("Valeur binaire incorrecte");
    out_ += static_cast<char>(ValueType::BinaryData);
    AppendLength(bytes.size());
    out_ += bytes;
  }

  void Collection() {
    DepthGuard guard(depth_);
    ++pos_;
    out_ += static_cast<char>(ValueType::CollectionValue);
    for (;;) {
      SkipBlanks();
      if (AtEnd()) Fail("'>' attendu");
      if (Peek() == '>') break;
      if (!SameText(Identifier(), "item")) Fail("'item' attendu");
      SkipBlanks();
      if (Peek() == '[') {
        ++pos_;
        AppendInteger(out_, Integer());
        Expect(']');
      }
      out_ += static_cast<char>(ValueType::ListStart);
      Properties();
      if (!SameText(Identifier(), "end")) Fail("'end' attendu");
    }
    ++pos_;
    out_ += '\0';
  }

  // Quoted runs and #n codes side by side, joined across lines by "+".
  void String() {
    constexpr std::uint32_t kQuotedByte = 0x10000;  // marks a byte written as itself
    std::vector<std::uint32_t> codes;
    bool wide = false;
    for (;;) {
      if (Peek() == '\'') {
        ++pos_;
        for (;;) {
          if (AtEnd() || Peek() == '\n' || Peek() == '\r') Fail("Chaîne incorrecte"_w);
          const char c = text_[pos_++];
          if (c == '\'' && Peek() != '\'') break;
          if (c == '\'') ++pos_;
          codes.push_back(kQuotedByte | static_cast<unsigned char>(c));
        }
      } else if (Peek() == '#') {
        ++pos_;
        if (!IsDigit(Peek())) Fail("Chaîne incorrecte"_w);
        std::uint32_t code = 0;
        while (IsDigit(Peek())) {
          code = code * 10 + static_cast<std::uint32_t>(text_[pos_++] - '0');
          if (code > 0xFFFF) Fail("Chaîne incorrecte"_w);
        }
        wide = wide || (code > 255 && Cp1252ByteOf(code) < 0);
        codes.push_back(code);
      } else {
        SkipBlanks();
        if (Peek() != '+') break;
        ++pos_;
        SkipBlanks();
        if (Peek() != '\'' && Peek() != '#') Fail("Chaîne attendue"_w);
      }
    }
    if (wide) {
      out_ += static_cast<char>(ValueType::WideText);
      AppendLength(codes.size());
      for (const std::uint32_t code : codes) {
        const std::uint32_t unit =
            code & kQuotedByte ? Cp1252CodePoint(static_cast<unsigned char>(code)) : code;
        AppendLittleEndian(out_, unit, 2);
      }
      return;
    }
    if (codes.size() < 256) {
      out_ += static_cast<char>(ValueType::ShortText);
      out_ += static_cast<char>(codes.size());
    } else {
      out_ += static_cast<char>(ValueType::LongText);
      AppendLength(codes.size());
    }
    for (const std::uint32_t code : codes)
      out_ += static_cast<char>(code < 256 || code & kQuotedByte ? code : Cp1252ByteOf(code));
  }

  NumberText ScanNumber() {
    SkipBlanks();
    NumberText number;
    const std::size_t start = pos_;
    if (Peek() == '-') ++pos_;
    if (!IsDigit(Peek())) Fail("Nombre attendu");
    while (IsDigit(Peek()))
      ++pos_;
    if (Peek() == '.' && IsDigit(Peek(1))) {
      number.is_float = true;
      for (++pos_; IsDigit(Peek());)
        ++pos_;
    }
    if ((Peek() == 'E' || Peek() == 'e') &&
        (IsDigit(Peek(1)) || ((Peek(1) == '+' || Peek(1) == '-') && IsDigit(Peek(2))))) {
      number.is_float = true;
      for (pos_ += 2; IsDigit(Peek());)
        ++pos_;
    }
    number.digits = text_.substr(start, pos_ - start);
    const char suffix = static_cast<char>(Peek() & ~0x20);
    if ((suffix == 'S' || suffix == 'C' || suffix == 'D') && !IsIdentChar(Peek(1))) {
      number.suffix = suffix;
      ++pos_;
    }
    if (IsIdentChar(Peek()) || Peek() == '.') Fail("Nombre incorrect");
    return number;
  }

  std::int64_t Integer() {
    const NumberText number = ScanNumber();
    if (number.is_float || number.suffix != 0) Fail("Nombre entier attendu");
    std::int64_t value = 0;
    const auto result =
        std::from_chars(number.digits.data(), number.digits.data() + number.digits.size(), value);
    if (result.ec != std::errc()) Fail("Nombre incorrect");
    return value;
  }

  template <typename Float>
  Float ParseFloat(std::string_view digits) {
    Float value = 0;
    const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (result.ec != std::errc() || result.ptr != digits.data() + digits.size())
      Fail("Nombre incorrect");
    return value;
  }

  // Exact: value times 10000, with at most four decimals and no exponent.
  std::int64_t ParseCurrency(std::string_view digits) {
    const bool negative = digits.front() == '-';
    if (negative) digits.remove_prefix(1);
    const std::size_t dot = digits.find('.');
    const std::string_view fraction =
        dot == std::string_view::npos ? std::string_view() : digits.substr(dot + 1);
    if (digits.find_first_of("Ee") != std::string_view::npos || fraction.size() > 4)
      Fail("Nombre incorrect");
    const std::uint64_t limit = negative ? std::uint64_t{1} << 63 : (std::uint64_t{1} << 63) - 1;
    std::uint64_t value = 0;
    const auto push = [&](unsigned digit) {
      if (value > (limit - digit) / 10) Fail("Nombre incorrect");
      value = value * 10 + digit;
    };
    for (const char c : digits.substr(0, dot))
      push(static_cast<unsigned>(c - '0'));
    for (std::size_t i = 0; i < 4; ++i)
      push(i < fraction.size() ? static_cast<unsigned>(fraction[i] - '0') : 0);
    return negative ? static_cast<std::int64_t>(0 - value) : static_cast<std::int64_t>(value);
  }

  void Number() {
    const NumberText number = ScanNumber();
    switch (number.suffix) {
      case 'S':
        out_ += static_cast<char>(ValueType::Single);
        AppendLittleEndian(out_, std::bit_cast<std::uint32_t>(ParseFloat<float>(number.digits)), 4);
        return;
      case 'D':
        out_ += static_cast<char>(ValueType::DateValue);
        AppendLittleEndian(out_, std::bit_cast<std::uint64_t>(ParseFloat<double>(number.digits)),
                           8);
        return;
      case 'C':
        out_ += static_cast<char>(ValueType::CurrencyValue);
        AppendLittleEndian(out_, static_cast<std::uint64_t>(ParseCurrency(number.digits)), 8);
        return;
      default:
        break;
    }
    if (!number.is_float) {
      std::int64_t value = 0;
      const auto result =
          std::from_chars(number.digits.data(), number.digits.data() + number.digits.size(), value);
      if (result.ec != std::errc()) Fail("Nombre incorrect");
      AppendInteger(out_, value);
      return;
    }
    std::array<unsigned char, 10> bytes{};
    DoubleToExtended(ParseFloat<double>(number.digits), bytes.data());
    out_ += static_cast<char>(ValueType::Extended);
    out_.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  }

  // $<hex bits>:X|S|D, the form of floats no decimal reproduces.
  void RawFloat() {
    ++pos_;
    std::string_view digits = text_.substr(pos_);
    digits = digits.substr(
        0, std::find_if_not(digits.begin(), digits.end(), IsHexDigit) - digits.begin());
    pos_ += digits.size();
    if (Peek() != ':') Fail("Nombre incorrect");
    const char kind = static_cast<char>(Peek(1) & ~0x20);
    pos_ += 2;
    const std::size_t expected = kind == 'X' ? 20 : kind == 'S' ? 8 : kind == 'D' ? 16 : 0;
    if (expected == 0 || digits.size() != expected || IsIdentChar(Peek())) Fail("Nombre incorrect");
    const auto hex = [](std::string_view part) {
      std::uint64_t value = 0;
      for (const char c : part)
        value = value << 4 | static_cast<std::uint64_t>(HexValue(c));
      return value;
    };
    if (kind == 'X') {
      out_ += static_cast<char>(ValueType::Extended);
      AppendLittleEndian(out_, hex(digits.substr(4)), 8);
      AppendLittleEndian(out_, hex(digits.substr(0, 4)), 2);
    } else {
      out_ += static_cast<char>(kind == 'S' ? ValueType::Single : ValueType::DateValue);
      AppendLittleEndian(out_, hex(digits), kind == 'S' ? 4 : 8);
    }
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  int line_ = 1;
  int depth_ = 0;
  std::string out_;
};

}  // namespace

std::string ObjectBinaryToText(std::string_view binary) {
  return TextRenderer(binary).Render();
}

std::string ObjectTextToBinary(std::string_view text) {
  return TextParser(text).Parse();
}

}  // namespace quorvane
