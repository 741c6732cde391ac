#include <cmath>
#include <cstring>

#include "model/object_stream.h"
#include "model/persistent.h"
#include "model/stream_errors.h"
#include "model/zel_object.h"
#include "util/text.h"

namespace quorvane {
namespace {

// The most of a long value copied between two calls of a writer's `between`.
constexpr std::size_t kCopySlice = std::size_t{4} << 20;

bool IsStored(const TPersistent& instance, const PropertyInfo& info) {
  switch (info.stored) {
    case Stored::Always:
      return true;
    case Stored::Never:
      return false;
    case Stored::WhileRoutingStored:
      return instance.IsRoutingStored();
  }
  return true;
}

}  // namespace

void ObjectWriter::WriteLittleEndian(std::uint64_t value, int size) {
  for (int i = 0; i < size; ++i)
    out_ += static_cast<char>(value >> (8 * i));
}

void ObjectWriter::WriteShortText(std::string_view text) {
  const std::size_t size = std::min<std::size_t>(text.size(), 255);
  out_ += static_cast<char>(size);
  out_.append(text.substr(0, size));
}

void ObjectWriter::WritePropertyName(std::string_view prefix, std::string_view name) {
  if (prefix.empty()) {
    WriteShortText(name);
  } else {
    std::string full(prefix);
    full += name;
    WriteShortText(full);
  }
}

void ObjectWriter::WriteInteger(std::int64_t value) {
  if (value >= -128 && value <= 127) {
    WriteValueType(ValueType::Int8);
    WriteLittleEndian(static_cast<std::uint64_t>(value), 1);
  } else if (value >= -32768 && value <= 32767) {
    WriteValueType(ValueType::Int16);
    WriteLittleEndian(static_cast<std::uint64_t>(value), 2);
  } else if (value >= INT32_MIN && value <= INT32_MAX) {
    WriteValueType(ValueType::Int32);
    WriteLittleEndian(static_cast<std::uint64_t>(value), 4);
  } else {
    WriteValueType(ValueType::Int64);
    WriteLittleEndian(static_cast<std::uint64_t>(value), 8);
  }
}

// A large value gets room for itself plus slack for the rest of the object, so
// the stream holds it once instead of doubling its buffer behind it.
void ObjectWriter::ReserveFor(std::size_t bytes) {
  constexpr std::size_t kLargeValue = 1 << 20;
  constexpr std::size_t kSlack = 64 << 10;
  if (bytes >= kLargeValue && out_.capacity() - out_.size() < bytes + kSlack)
    out_.reserve(out_.size() + bytes + kSlack);
}

void ObjectWriter::AppendValue(std::string_view bytes) {
  if (!between_) {
    out_.append(bytes);
    return;
  }
  for (std::size_t at = 0; at < bytes.size(); at += kCopySlice) {
    between_();
    out_.append(bytes.substr(at, kCopySlice));
  }
}

void ObjectWriter::WriteString(std::string_view text) {
  ReserveFor(text.size());
  if (text.size() < 256) {
    WriteValueType(ValueType::ShortText);
    out_ += static_cast<char>(text.size());
  } else {
    WriteValueType(ValueType::LongText);
    WriteLittleEndian(text.size(), 4);
  }
  AppendValue(text);
}

void ObjectWriter::WriteIdent(std::string_view ident) {
  if (SameText(ident, "False")) {
    WriteValueType(ValueType::FalseValue);
  } else if (SameText(ident, "True")) {
    WriteValueType(ValueType::TrueValue);
  } else if (SameText(ident, "Null")) {
    WriteValueType(ValueType::EndOrNull);
  } else if (SameText(ident, "nil")) {
    WriteValueType(ValueType::NilValue);
  } else {
    WriteValueType(ValueType::Ident);
    WriteShortText(ident);
  }
}

void ObjectWriter::WriteBinary(std::string_view bytes) {
  ReserveFor(bytes.size());
  WriteValueType(ValueType::BinaryData);
  WriteLittleEndian(bytes.size(), 4);
  AppendValue(bytes);
}

void ObjectWriter::WriteExtended(double value) {
  unsigned char bytes[10];
  DoubleToExtended(value, bytes);
  WriteValueType(ValueType::Extended);
  out_.append(reinterpret_cast<const char*>(bytes), 10);
}

void ObjectWriter::WriteRootObject(const TZelObject& object) {
  out_.append(kStreamSignature);
  WriteShortText(object.ClassName());
  WriteShortText(object.Name());
  WriteProperties(object, {});
  WriteListEnd();  // end of properties
  WriteListEnd();  // no child objects
}

void ObjectWriter::WriteProperties(const TPersistent& instance, const std::string& prefix) {
  for (const auto& info : instance.Class().properties) {
    if (info.IsReadOnly() || !IsStored(instance, info)) continue;
    WriteProperty(instance, info, prefix);
  }
  instance.WriteExtraProperties(*this, prefix);
}

void ObjectWriter::WriteProperty(const TPersistent& instance, const PropertyInfo& info,
                                 const std::string& prefix) {
  switch (info.kind) {
    case PropKind::Integer: {
      const std::int64_t value = info.access.get_ordinal(instance);
      if (info.default_value && *info.default_value == value) return;
      WritePropertyName(prefix, info.name);
      WriteInteger(value);
      return;
    }
    case PropKind::Enumeration: {
      const std::int64_t value = info.access.get_ordinal(instance);
      if (info.default_value && *info.default_value == value) return;
      const std::string_view name = info.enum_info->NameOf(value);
      // An empty identifier would make the whole stream unreadable.
      if (name.empty()) throw EWriteError(kInvalidPropertyValue);
      WritePropertyName(prefix, info.name);
      WriteIdent(name);
      return;
    }
    case PropKind::Set: {
      const std::int64_t value = info.access.get_ordinal(instance);
      if (info.default_value && *info.default_value == value) return;
      WritePropertyName(prefix, info.name);
      WriteValueType(ValueType::SetValue);
      // Bits without a member name are not written: an empty name ends the set.
      for (int bit = 0; bit < 32; ++bit)
        if (((value >> bit) & 1) && !info.enum_info->NameOf(bit).empty())
          WriteShortText(info.enum_info->NameOf(bit));
      WriteShortText({});
      return;
    }
    case PropKind::String: {
      const std::string_view value = info.access.get_string(instance);
      if (value.empty()) return;
      WritePropertyName(prefix, info.name);
      WriteString(value);
      return;
    }
    case PropKind::Float: {
      const double value = info.access.get_float(instance);
      if (value == 0) return;
      WritePropertyName(prefix, info.name);
      WriteExtended(value);
      return;
    }
    case PropKind::Int64: {
      const std::int64_t value = info.access.get_ordinal(instance);
      if (value == 0) return;
      WritePropertyName(prefix, info.name);
      WriteValueType(ValueType::Int64);
      WriteLittleEndian(static_cast<std::uint64_t>(value), 8);
      return;
    }
    case PropKind::Object: {
      const TPersistent* nested = info.access.get_object(instance);
      if (nested == nullptr) return;
      if (const auto* collection = dynamic_cast<const TCollection*>(nested)) {
        WritePropertyName(prefix, info.name);
        WriteValueType(ValueType::CollectionValue);
        for (std::size_t i = 0; i < collection->Count(); ++i) {
          WriteValueType(ValueType::ListStart);
          WriteProperties(collection->Item(i), {});
          WriteListEnd();
        }
        WriteListEnd();
        return;
      }
      WriteProperties(*nested, prefix + info.name + ".");
      return;
    }
    case PropKind::Component:
      return;
  }
}

void TBinStream::WriteObject(const TZelObject& object) {
  ObjectWriter writer(bytes_);
  writer.WriteRootObject(object);
}

std::string ObjectToStream(const TZelObject& object, std::function<void()> between) {
  std::string bytes;
  ObjectWriter writer(bytes, std::move(between));
  writer.WriteRootObject(object);
  return bytes;
}

// 80-bit extended: 64-bit mantissa with an explicit integer bit, 15-bit exponent
// biased by 16383, sign in the top bit of byte 9; little-endian.
void DoubleToExtended(double value, unsigned char out[10]) {
  std::uint64_t bits;
  std::memcpy(&bits, &value, 8);
  const bool negative = (bits >> 63) != 0;
  const int exponent = static_cast<int>((bits >> 52) & 0x7FF);
  std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
  std::uint64_t mantissa = 0;
  int ext_exponent = 0;
  if (exponent == 0 && fraction == 0) {
    // zero
  } else if (exponent == 0x7FF) {
    ext_exponent = 0x7FFF;
    mantissa = (std::uint64_t{1} << 63) | (fraction << 11);
  } else if (exponent == 0) {
    // subnormal double: normalise, since the extended range covers it
    int shift = 0;
    while ((fraction & (std::uint64_t{1} << 52)) == 0) {
      fraction <<= 1;
      ++shift;
    }
    ext_exponent = 1 - 1023 - shift + 16383;
    mantissa = fraction << 11;
  } else {
    ext_exponent = exponent - 1023 + 16383;
    mantissa = (std::uint64_t{1} << 63) | (fraction << 11);
  }
  for (int i = 0; i < 8; ++i)
    out[i] = static_cast<unsigned char>(mantissa >> (8 * i));
  const unsigned top = static_cast<unsigned>(ext_exponent) | (negative ? 0x8000u : 0u);
  out[8] = static_cast<unsigned char>(top);
  out[9] = static_cast<unsigned char>(top >> 8);
}

double ExtendedToDouble(const unsigned char in[10]) {
  std::uint64_t mantissa = 0;
  for (int i = 0; i < 8; ++i)
    mantissa |= std::uint64_t{in[i]} << (8 * i);
  const unsigned top = in[8] | (static_cast<unsigned>(in[9]) << 8);
  const bool negative = (top & 0x8000u) != 0;
  const int exponent = static_cast<int>(top & 0x7FFF);
  double result;
  if (exponent == 0x7FFF) {
    result = (mantissa << 1) == 0 ? INFINITY : NAN;
  } else if (mantissa == 0) {
    result = 0.0;
  } else {
    // ldexp rounds correctly to the nearest double, including subnormals.
    // A zero exponent field marks a denormal, scaled like the smallest exponent.
    const int scale = (exponent == 0 ? 1 : exponent) - 16383 - 63;
    result = std::ldexp(static_cast<double>(mantissa), scale);
  }
  return negative ? -result : result;
}

}  // namespace quorvane
