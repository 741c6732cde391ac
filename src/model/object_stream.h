// The binary object stream: ObjectWriter writes an object's published properties
// (base class first) as tagged values, ObjectReader recreates an object through
// the class registry or reads into an existing one. TBinStream holds one object
// stream in memory. The format is described in model/stream_format.h. Readers and
// writers are single-use and not shared between threads; the caller holds the
// object's lock.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "model/stream_format.h"

namespace quorvane {

class TPersistent;
class TZelObject;
struct PropertyInfo;

class ObjectWriter {
 public:
  // `between`, when given, runs before each slice of a long value's copy (at
  // most 4 MiB), so a caller writing a file's contents can give up part way by
  // throwing from it.
  explicit ObjectWriter(std::string& out, std::function<void()> between = {})
      : out_(out), between_(std::move(between)) {}

  // Signature, class name, object name, properties, end of list, no children.
  void WriteRootObject(const TZelObject& object);
  // The published properties of instance (and its extra properties), each name
  // prefixed with prefix.
  void WriteProperties(const TPersistent& instance, const std::string& prefix);

  void WriteValueType(ValueType type) { out_ += static_cast<char>(type); }
  void WriteShortText(std::string_view text);  // cut to 255 characters
  void WritePropertyName(std::string_view prefix, std::string_view name);
  void WriteInteger(std::int64_t value);    // smallest of Int8, Int16, Int32 (Int64 beyond)
  void WriteString(std::string_view text);  // ShortText below 256 characters, else LongText
  void WriteIdent(std::string_view ident);
  void WriteBinary(std::string_view bytes);
  void WriteExtended(double value);
  void WriteListEnd() { out_ += '\0'; }
  void WriteRaw(std::string_view bytes) { out_.append(bytes); }

 private:
  void WriteProperty(const TPersistent& instance, const PropertyInfo& info,
                     const std::string& prefix);
  void WriteLittleEndian(std::uint64_t value, int size);
  void ReserveFor(std::size_t bytes);
  void AppendValue(std::string_view bytes);

  std::string& out_;
  std::function<void()> between_;
};

// The reader's memory budget. Values read from the stream cost at most their own
// bytes, which the stream holds; what the stream cannot hold is the memory around
// them: each list string, collection item and child object costs far more memory
// than its bytes in the stream (2 stream bytes make an empty string of about 40).
// That overhead is charged and limited to half the stream plus a floor, so a
// stream can never make the reader hold more than about 1.5 times its size; a
// stream beyond the budget is refused with "Erreur de lecture du flux".
inline constexpr std::size_t kReaderOverheadFloor = std::size_t{16} << 20;
inline constexpr std::size_t kListItemOverhead = 48;       // a string in a list
inline constexpr std::size_t kObjectItemOverhead = 1024;   // a collection item
inline constexpr std::size_t kChildObjectOverhead = 4096;  // a child object made and dropped

// A long text or binary value at least this large is moved out of a stream the
// reader owns instead of copied (see ObjectFromOwnedStream).
inline constexpr std::size_t kMovedValueFloor = std::size_t{64} << 10;

class ObjectReader {
 public:
  explicit ObjectReader(std::string_view bytes)
      : bytes_(bytes), overhead_limit_(bytes.size() / 2 + kReaderOverheadFloor) {}
  // Takes the stream's storage: a large value whose bytes are followed by fewer
  // bytes than its own becomes the value's storage (its bytes are moved to the
  // front, the rest of the stream is kept aside), so the stream and the object
  // never hold the value twice. A non-zero `overhead_limit` replaces the default
  // budget (a server sizes it to the requests it must read).
  struct Owning {
    std::size_t overhead_limit = 0;
  };
  ObjectReader(std::string&& bytes, Owning owning)
      : owned_(std::move(bytes)),
        bytes_(owned_),
        overhead_limit_(owning.overhead_limit != 0 ? owning.overhead_limit
                                                   : owned_.size() / 2 + kReaderOverheadFloor) {}
  ObjectReader(const ObjectReader&) = delete;
  ObjectReader& operator=(const ObjectReader&) = delete;

  // A new object of the class named in the stream (EReadError on failure).
  std::unique_ptr<TZelObject> ReadRootObject();
  // The stream's name and properties into an existing object; the class name in
  // the stream is read and ignored. Properties absent from the stream keep their
  // values.
  void ReadRootInto(TZelObject& target);

  std::size_t Position() const { return consumed_ + pos_; }

  // Charges the memory that one item read from the stream costs beyond its bytes;
  // raises EReadError ("Erreur de lecture du flux") past the budget. Readers of
  // extra properties call it for every element they keep.
  void ChargeOverhead(std::size_t bytes);
  std::size_t OverheadCharged() const { return overhead_; }
  std::size_t OverheadLimit() const { return overhead_limit_; }

  // Value readers for extra properties; each raises EReadError on a wrong kind.
  ValueType ReadValueType();
  ValueType PeekValueType() const;
  std::string ReadShortText();
  std::string ReadStringValue();
  std::string ReadBinaryValue();
  void ReadListStart();
  bool AtListEnd() const;  // the next byte is end-of-list
  void ReadListEnd();

 private:
  void ReadSignature();
  void ReadPrefix();
  void ReadObjectBody(TZelObject& target);
  void ReadProperties(TPersistent& instance);
  void ReadProperty(TPersistent& instance);
  void ReadPropertyValue(TPersistent& instance, const PropertyInfo& info);
  void ReadCollection(TPersistent& collection);
  void SkipChildObjects();
  std::string ReadStringPayload(ValueType type);  // short, long or wide text
  std::int64_t ReadIntegerValue(ValueType type);
  std::string ReadIdentValue(ValueType type);
  double ReadFloatValue(ValueType type);
  std::string_view Take(std::size_t count);
  // The next `count` bytes as a string, moved out of an owned stream when large.
  std::string TakeString(std::size_t count);
  std::uint64_t ReadLittleEndian(int size);
  void Enter();
  void Leave() { --depth_; }

  std::string owned_;  // the stream when the reader owns it (bytes_ views it)
  std::string_view bytes_;
  std::size_t consumed_ = 0;  // stream bytes before bytes_ (moved out with a value)
  std::size_t pos_ = 0;
  int depth_ = 0;
  std::size_t overhead_limit_;
  std::size_t overhead_ = 0;
};

// An in-memory stream holding one object stream.
class TBinStream {
 public:
  void WriteObject(const TZelObject& object);
  std::unique_ptr<TZelObject> ReadObject() const;
  void ReadObjectInto(TZelObject& target) const;

  std::string& Bytes() { return bytes_; }
  const std::string& Bytes() const { return bytes_; }
  std::size_t Size() const { return bytes_.size(); }
  void Clear() { bytes_.clear(); }

 private:
  std::string bytes_;
};

// Shorthands for one object stream; `between` as for ObjectWriter.
std::string ObjectToStream(const TZelObject& object, std::function<void()> between = {});
std::unique_ptr<TZelObject> ObjectFromStream(std::string_view bytes);
// The same from a stream given up by the caller: a large value (a file's
// contents) takes the stream's memory instead of a copy of its bytes. A non-zero
// `overhead_limit` replaces the reader's default budget.
std::unique_ptr<TZelObject> ObjectFromOwnedStream(std::string&& bytes,
                                                  std::size_t overhead_limit = 0);

// 80-bit extended <-> double, without relying on long double's layout.
void DoubleToExtended(double value, unsigned char out[10]);
double ExtendedToDouble(const unsigned char in[10]);

}  // namespace quorvane
