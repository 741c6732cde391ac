#include "model/persistent.h"

#include <algorithm>

#include "model/object_stream.h"
#include "model/stream_errors.h"
#include "util/text.h"

namespace quorvane {

const ClassInfo& TPersistent::StaticClass() {
  static const ClassInfo info = MakeClassInfo("TPersistent", nullptr, {});
  return info;
}

void TPersistent::WriteExtraProperties(ObjectWriter&, const std::string&) const {}

bool TPersistent::ReadExtraProperty(std::string_view, ObjectReader&) {
  return false;
}

// --- TStringList -------------------------------------------------------------

const ClassInfo& TStringList::StaticClass() {
  static const ClassInfo strings = MakeClassInfo("TStrings", &TPersistent::StaticClass(), {});
  static const ClassInfo info = MakeClassInfo("TStringList", &strings, {});
  return info;
}

std::string TStringList::Text() const {
  std::string text;
  for (const auto& line : lines_) {
    text += line;
    text += "\r\n";
  }
  return text;
}

void TStringList::SetText(std::string_view text) {
  lines_.clear();
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) {
      lines_.emplace_back(text.substr(start));
      break;
    }
    lines_.emplace_back(text.substr(start, end - start));
    start = end + ((text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1);
  }
}

std::string TStringList::Value(std::string_view name) const {
  for (const auto& line : lines_) {
    const auto eq = line.find('=');
    if (eq != std::string::npos && SameText(std::string_view(line).substr(0, eq), name))
      return line.substr(eq + 1);
  }
  return {};
}

void TStringList::WriteExtraProperties(ObjectWriter& writer, const std::string& prefix) const {
  if (lines_.empty()) return;
  writer.WritePropertyName(prefix, "Strings");
  writer.WriteValueType(ValueType::ListStart);
  for (const auto& line : lines_)
    writer.WriteString(line);
  writer.WriteListEnd();
}

bool TStringList::ReadExtraProperty(std::string_view name, ObjectReader& reader) {
  if (name != "Strings") return false;
  lines_.clear();
  reader.ReadListStart();
  while (!reader.AtListEnd()) {
    reader.ChargeOverhead(kListItemOverhead);
    lines_.push_back(reader.ReadStringValue());
  }
  reader.ReadListEnd();
  return true;
}

// --- TBitmap ---------------------------------------------------------------------

const ClassInfo& TBitmap::StaticClass() {
  static const ClassInfo graphic = MakeClassInfo("TGraphic", &TPersistent::StaticClass(), {});
  static const ClassInfo info = MakeClassInfo("TBitmap", &graphic, {});
  return info;
}

// "Data" holds a 4-byte length followed by the bitmap file.
void TBitmap::WriteExtraProperties(ObjectWriter& writer, const std::string& prefix) const {
  if (bytes_.empty()) return;
  std::string payload(4, '\0');
  const auto size = static_cast<std::uint32_t>(bytes_.size());
  for (int i = 0; i < 4; ++i)
    payload[i] = static_cast<char>(size >> (8 * i));
  payload += bytes_;
  writer.WritePropertyName(prefix, "Data");
  writer.WriteBinary(payload);
}

bool TBitmap::ReadExtraProperty(std::string_view name, ObjectReader& reader) {
  if (name != "Data") return false;
  const std::string payload = reader.ReadBinaryValue();
  if (payload.empty()) {
    bytes_.clear();
    return true;
  }
  if (payload.size() < 4) throw EReadError(kStreamReadError);
  std::uint32_t size = 0;
  for (int i = 0; i < 4; ++i)
    size |= static_cast<std::uint32_t>(static_cast<unsigned char>(payload[i])) << (8 * i);
  if (size > payload.size() - 4) throw EReadError(kStreamReadError);
  bytes_.assign(payload, 4, size);
  return true;
}

// --- collections -------------------------------------------------------------

const ClassInfo& TCollectionItem::StaticClass() {
  static const ClassInfo info = MakeClassInfo("TCollectionItem", &TPersistent::StaticClass(), {});
  return info;
}

int TCollectionItem::Index() const {
  return collection_ ? collection_->IndexOf(this) : -1;
}

const ClassInfo& TCollection::StaticClass() {
  static const ClassInfo info = MakeClassInfo("TCollection", &TPersistent::StaticClass(), {});
  return info;
}

TCollectionItem& TCollection::Add() {
  items_.push_back(CreateItem());
  return *items_.back();
}

void TCollection::Delete(std::size_t index) {
  if (index < items_.size()) items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(index));
}

int TCollection::IndexOf(const TCollectionItem* item) const {
  const auto it =
      std::find_if(items_.begin(), items_.end(), [item](const auto& p) { return p.get() == item; });
  return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

}  // namespace quorvane
