#include <cstring>

#include "model/class_registry.h"
#include "model/object_stream.h"
#include "model/persistent.h"
#include "model/stream_errors.h"
#include "model/zel_object.h"
#include "util/codec.h"

namespace quorvane {
namespace {

[[noreturn]] void Fail(const std::string& message) {
  throw EReadError(message);
}

bool IsIntegerType(ValueType type) {
  return type == ValueType::Int8 || type == ValueType::Int16 || type == ValueType::Int32 ||
         type == ValueType::Int64;
}

}  // namespace

std::string_view ObjectReader::Take(std::size_t count) {
  if (count > bytes_.size() - pos_) Fail(kStreamReadError);
  const std::string_view part = bytes_.substr(pos_, count);
  pos_ += count;
  return part;
}

std::string ObjectReader::TakeString(std::size_t count) {
  if (count > bytes_.size() - pos_) Fail(kStreamReadError);
  const std::size_t tail = bytes_.size() - pos_ - count;
  if (owned_.empty() || count < kMovedValueFloor || tail > count) return std::string(Take(count));
  // The value becomes the stream's storage; the (smaller) rest is kept aside.
  std::string rest(bytes_.substr(pos_ + count));
  std::memmove(owned_.data(), owned_.data() + pos_, count);
  owned_.resize(count);
  std::string value = std::move(owned_);
  consumed_ += pos_ + count;
  owned_ = std::move(rest);
  bytes_ = owned_;
  pos_ = 0;
  return value;
}

std::uint64_t ObjectReader::ReadLittleEndian(int size) {
  const std::string_view part = Take(static_cast<std::size_t>(size));
  std::uint64_t value = 0;
  for (int i = 0; i < size; ++i)
    value |= std::uint64_t{static_cast<unsigned char>(part[static_cast<std::size_t>(i)])}
             << (8 * i);
  return value;
}

void ObjectReader::ChargeOverhead(std::size_t bytes) {
  if (bytes > overhead_limit_ - overhead_) Fail(kStreamReadError);
  overhead_ += bytes;
}

void ObjectReader::Enter() {
  if (++depth_ > kMaxStreamDepth) Fail(kStreamReadError);
}

ValueType ObjectReader::ReadValueType() {
  const auto byte = static_cast<std::uint8_t>(Take(1)[0]);
  if (byte > kLastValueType) Fail(kInvalidPropertyValue);
  return static_cast<ValueType>(byte);
}

ValueType ObjectReader::PeekValueType() const {
  if (pos_ >= bytes_.size()) Fail(kStreamReadError);
  const auto byte = static_cast<std::uint8_t>(bytes_[pos_]);
  if (byte > kLastValueType) Fail(kInvalidPropertyValue);
  return static_cast<ValueType>(byte);
}

bool ObjectReader::AtListEnd() const {
  if (pos_ >= bytes_.size()) Fail(kStreamReadError);
  return bytes_[pos_] == 0;
}

void ObjectReader::ReadListEnd() {
  if (ReadValueType() != ValueType::EndOrNull) Fail(kInvalidPropertyValue);
}

void ObjectReader::ReadListStart() {
  if (ReadValueType() != ValueType::ListStart) Fail(kInvalidPropertyValue);
}

std::string ObjectReader::ReadShortText() {
  const auto size = static_cast<std::uint8_t>(Take(1)[0]);
  return std::string(Take(size));
}

std::string ObjectReader::ReadStringValue() {
  return ReadStringPayload(ReadValueType());
}

std::string ObjectReader::ReadStringPayload(ValueType type) {
  switch (type) {
    case ValueType::ShortText:
      return ReadShortText();
    case ValueType::LongText:
      return TakeString(ReadLittleEndian(4));
    case ValueType::WideText: {
      const std::uint64_t count = ReadLittleEndian(4);
      if (count > (bytes_.size() - pos_) / 2) Fail(kStreamReadError);
      const std::string_view units = Take(count * 2);
      std::string out;
      out.reserve(count);
      for (std::size_t i = 0; i < count; ++i) {
        const char32_t unit =
            static_cast<unsigned char>(units[2 * i]) |
            (static_cast<char32_t>(static_cast<unsigned char>(units[2 * i + 1])) << 8);
        const int byte = Cp1252ByteOf(unit);
        out += byte < 0 ? kCp1252Replacement : static_cast<char>(byte);
      }
      return out;
    }
    default:
      Fail(kInvalidPropertyValue);
  }
}

std::string ObjectReader::ReadBinaryValue() {
  if (ReadValueType() != ValueType::BinaryData) Fail(kInvalidPropertyValue);
  return TakeString(ReadLittleEndian(4));
}

std::int64_t ObjectReader::ReadIntegerValue(ValueType type) {
  switch (type) {
    case ValueType::Int8:
      return static_cast<std::int8_t>(ReadLittleEndian(1));
    case ValueType::Int16:
      return static_cast<std::int16_t>(ReadLittleEndian(2));
    case ValueType::Int32:
      return static_cast<std::int32_t>(ReadLittleEndian(4));
    case ValueType::Int64:
      return static_cast<std::int64_t>(ReadLittleEndian(8));
    default:
      Fail(kInvalidPropertyValue);
  }
}

std::string ObjectReader::ReadIdentValue(ValueType type) {
  switch (type) {
    case ValueType::Ident:
      return ReadShortText();
    case ValueType::FalseValue:
      return "False";
    case ValueType::TrueValue:
      return "True";
    case ValueType::NilValue:
      return "nil";
    case ValueType::EndOrNull:
      return "Null";
    default:
      Fail(kInvalidPropertyValue);
  }
}

double ObjectReader::ReadFloatValue(ValueType type) {
  switch (type) {
    case ValueType::Extended: {
      const std::string_view part = Take(10);
      return ExtendedToDouble(reinterpret_cast<const unsigned char*>(part.data()));
    }
    case ValueType::Single: {
      const auto bits = static_cast<std::uint32_t>(ReadLittleEndian(4));
      float value;
      std::memcpy(&value, &bits, 4);
      return value;
    }
    case ValueType::DateValue: {
      const std::uint64_t bits = ReadLittleEndian(8);
      double value;
      std::memcpy(&value, &bits, 8);
      return value;
    }
    case ValueType::CurrencyValue:
      return static_cast<double>(static_cast<std::int64_t>(ReadLittleEndian(8))) / 10000.0;
    default:
      return static_cast<double>(ReadIntegerValue(type));
  }
}

void ObjectReader::ReadSignature() {
  if (Take(std::min(kStreamSignature.size(), bytes_.size())) != kStreamSignature)
    Fail(kStreamFormatError);
}

void ObjectReader::ReadPrefix() {
  if (pos_ >= bytes_.size()) Fail(kStreamReadError);
  const auto byte = static_cast<std::uint8_t>(bytes_[pos_]);
  if ((byte & kPrefixMask) != kPrefixMask) return;
  ++pos_;
  if (byte & kPrefixChildPos) {
    const ValueType type = ReadValueType();
    if (type == ValueType::Int64) Fail(kInvalidPropertyValue);
    ReadIntegerValue(type);
  }
}

std::unique_ptr<TZelObject> ObjectReader::ReadRootObject() {
  ReadSignature();
  ReadPrefix();
  const std::string class_name = ReadShortText();
  const RegisteredClass* registered = FindClass(class_name);
  if (registered == nullptr) Fail(ClassNotFoundMessage(class_name));
  std::unique_ptr<TZelObject> object = registered->create();
  ReadObjectBody(*object);
  return object;
}

void ObjectReader::ReadRootInto(TZelObject& target) {
  ReadSignature();
  ReadPrefix();
  ReadShortText();
  ReadObjectBody(target);
}

void ObjectReader::ReadObjectBody(TZelObject& target) {
  std::string name = ReadShortText();
  if (!IsValidComponentName(name)) Fail(kInvalidPropertyValue);
  if (!name.empty()) target.SetName(std::move(name));
  ReadProperties(target);
  SkipChildObjects();
  target.Loaded();
}

void ObjectReader::ReadProperties(TPersistent& instance) {
  while (!AtListEnd())
    ReadProperty(instance);
  ReadListEnd();
}

// Child objects are never written by this program; a peer's are read to keep the
// stream in step and then dropped.
void ObjectReader::SkipChildObjects() {
  while (!AtListEnd()) {
    ChargeOverhead(kChildObjectOverhead);
    Enter();
    ReadPrefix();
    const std::string class_name = ReadShortText();
    const RegisteredClass* registered = FindClass(class_name);
    if (registered == nullptr) Fail(ClassNotFoundMessage(class_name));
    std::unique_ptr<TZelObject> child = registered->create();
    ReadObjectBody(*child);
    Leave();
  }
  ReadListEnd();
}

void ObjectReader::ReadProperty(TPersistent& instance) {
  const std::string full_name = ReadShortText();
  // A dotted name walks into nested objects: "xaParam.Strings", "xPhoto.Data".
  TPersistent* target = &instance;
  std::string_view rest = full_name;
  for (;;) {
    const auto dot = rest.find('.');
    const std::string_view part = rest.substr(0, dot);
    const int index = target->Class().IndexOf(part);
    if (dot == std::string_view::npos) {
      if (index >= 0) {
        ReadPropertyValue(*target, target->Class().properties[static_cast<std::size_t>(index)]);
      } else if (!target->ReadExtraProperty(part, *this)) {
        Fail(kPropertyNotFound);
      }
      return;
    }
    if (index < 0) Fail(kPropertyNotFound);
    const PropertyInfo& info = target->Class().properties[static_cast<std::size_t>(index)];
    TPersistent* nested = info.kind == PropKind::Object && info.access.get_object
                              ? info.access.get_object(*target)
                              : nullptr;
    if (nested == nullptr) Fail(kPropertyNotFound);
    target = nested;
    rest = rest.substr(dot + 1);
  }
}

void ObjectReader::ReadPropertyValue(TPersistent& instance, const PropertyInfo& info) {
  const ValueType type = ReadValueType();
  switch (info.kind) {
    case PropKind::Integer: {
      if (!IsIntegerType(type)) Fail(kInvalidPropertyValue);
      const std::int64_t value = ReadIntegerValue(type);
      if (value < INT32_MIN || value > INT32_MAX) Fail(kInvalidPropertyValue);
      if (info.access.set_ordinal) info.access.set_ordinal(instance, value);
      return;
    }
    case PropKind::Int64: {
      if (!IsIntegerType(type)) Fail(kInvalidPropertyValue);
      const std::int64_t value = ReadIntegerValue(type);
      if (info.access.set_ordinal) info.access.set_ordinal(instance, value);
      return;
    }
    case PropKind::Enumeration: {
      const int ordinal = info.enum_info->IndexOf(ReadIdentValue(type));
      if (ordinal < 0) Fail(kInvalidPropertyValue);
      if (info.access.set_ordinal) info.access.set_ordinal(instance, ordinal);
      return;
    }
    case PropKind::Set: {
      if (type != ValueType::SetValue) Fail(kInvalidPropertyValue);
      std::int64_t bits = 0;
      for (;;) {
        const std::string member = ReadShortText();
        if (member.empty()) break;
        const int ordinal = info.enum_info->IndexOf(member);
        if (ordinal < 0 || ordinal > 31) Fail(kInvalidPropertyValue);
        bits |= std::int64_t{1} << ordinal;
      }
      if (info.access.set_ordinal) info.access.set_ordinal(instance, bits);
      return;
    }
    case PropKind::String: {
      std::string value = ReadStringPayload(type);
      if (!info.access.set_string) return;
      try {
        info.access.set_string(instance, std::move(value));
      } catch (const EConvertError& error) {
        Fail(error.what());
      }
      return;
    }
    case PropKind::Float: {
      const double value = ReadFloatValue(type);
      if (info.access.set_float) info.access.set_float(instance, value);
      return;
    }
    case PropKind::Object: {
      TPersistent* nested = info.access.get_object ? info.access.get_object(instance) : nullptr;
      if (type == ValueType::NilValue) return;
      if (type != ValueType::CollectionValue || nested == nullptr) Fail(kInvalidPropertyValue);
      ReadCollection(*nested);
      return;
    }
    case PropKind::Component:
      Fail(kInvalidPropertyValue);
  }
}

void ObjectReader::ReadCollection(TPersistent& target) {
  auto* collection = dynamic_cast<TCollection*>(&target);
  if (collection == nullptr) Fail(kInvalidPropertyValue);
  Enter();
  // An empty collection value leaves the existing elements in place.
  if (!AtListEnd()) collection->Clear();
  while (!AtListEnd()) {
    ValueType type = ReadValueType();
    if (IsIntegerType(type)) {
      ReadIntegerValue(type);  // the item's index: read and ignored
      type = ReadValueType();
    }
    if (type != ValueType::ListStart) Fail(kInvalidPropertyValue);
    ChargeOverhead(kObjectItemOverhead);
    ReadProperties(collection->Add());
  }
  ReadListEnd();
  Leave();
}

std::unique_ptr<TZelObject> TBinStream::ReadObject() const {
  ObjectReader reader(bytes_);
  return reader.ReadRootObject();
}

void TBinStream::ReadObjectInto(TZelObject& target) const {
  ObjectReader reader(bytes_);
  reader.ReadRootInto(target);
}

std::unique_ptr<TZelObject> ObjectFromStream(std::string_view bytes) {
  ObjectReader reader(bytes);
  return reader.ReadRootObject();
}

std::unique_ptr<TZelObject> ObjectFromOwnedStream(std::string&& bytes, std::size_t overhead_limit) {
  ObjectReader reader(std::move(bytes), ObjectReader::Owning{overhead_limit});
  return reader.ReadRootObject();
}

}  // namespace quorvane
