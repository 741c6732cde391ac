#include "model/object_text.h"
#include "model/object_text_support.h"

namespace quorvane {
namespace {

using namespace quorvane::literals;
using namespace quorvane::object_text_detail;

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

std::string ObjectTextToBinary(std::string_view text) {
  return TextParser(text).Parse();
}

}  // namespace quorvane
