#include "model/zel_props.h"

#include <charconv>
#include <filesystem>
#include <optional>

#include "model/object_stream.h"
#include "model/zel_cols.h"
#include "model/zel_object.h"
#include "util/atomic_file.h"
#include "util/codec.h"
#include "util/formatting.h"
#include "util/program_folder.h"
#include "util/text.h"

namespace quorvane {

using namespace literals;

namespace {

struct DeclaredType {
  std::string_view name;
  std::uint8_t data_type;
  std::int32_t size;
};

// Declared type name -> column type and size; "STRING" takes the size it is given.
constexpr DeclaredType kDeclaredTypes[] = {
    {"STRING", ftString, 0},
    {"INTEGER", ftInteger, 0},
    {"BOOLEAN", ftBoolean, 0},
    {"DOUBLE", ftFloat, 0},
    {"TXMONEY", ftFloat, 0},
    {"TXFILESIZE", ftInteger, 0},
    {"TXFILEDATE", ftInteger, 0},
    {"TXDATETIME", ftFloat, 0},
    {"TDATETIME", ftCurrency, 0},
    {"TXDATE", ftInteger, 0},
    {"TBITMAP", ftGraphic, 0},
    {"TICON", ftTypedBinary, 0},
    {"TXTYPEOFANNONCE", ftSmallint, 0},
    {"TXTYPEOFSEX", ftSmallint, 0},
    {"TXTYPEOFFILEKIND", ftSmallint, 0},
    {"TXTYPEOFTITLENAME", ftSmallint, 0},
    {"TXTYPEOFFAMILLYSTATUS", ftSmallint, 0},
    {"TXTYPEOFPROXY", ftSmallint, 0},
    {"TXSOCKSAUTHENTICATION", ftSmallint, 0},
    {"TTYPEWAITPROCESSING", ftSmallint, 0},
    {"TZELSOOBJECTASBLOB", ftBlob, 0},
    {"TSTRINGS", ftMemo, 0},
    {"TSTRINGLIST", ftMemo, 0},
    {"TSMERXIDENTIFIER", ftString, 38},
};

}  // namespace

const EnumInfo& FieldTypeEnum() {
  static const EnumInfo info{
      "TFieldType",
      {"ftUnknown",    "ftString",     "ftSmallint", "ftInteger",     "ftWord",      "ftBoolean",
       "ftFloat",      "ftCurrency",   "ftBCD",      "ftDate",        "ftTime",      "ftDateTime",
       "ftBytes",      "ftVarBytes",   "ftAutoInc",  "ftBlob",        "ftMemo",      "ftGraphic",
       "ftFmtMemo",    "ftParadoxOle", "ftDBaseOle", "ftTypedBinary", "ftCursor",    "ftFixedChar",
       "ftWideString", "ftLargeint",   "ftADT",      "ftArray",       "ftReference", "ftDataSet",
       "ftOraBlob",    "ftOraClob",    "ftVariant",  "ftInterface",   "ftIDispatch", "ftGuid"}};
  return info;
}

const EnumInfo& FieldAttributeEnum() {
  static const EnumInfo info{
      "TFieldAttribute",
      {"faHiddenCol", "faReadonly", "faRequired", "faLink", "faUnNamed", "faFixed"}};
  return info;
}

const EnumInfo& TypeOfPropEnum() {
  static const EnumInfo info{
      "TTypeOfProp",
      {"topr_Nop", "topr_ColDisplay", "topr_ToDBE", "topr_FromDBE", "topr_CanBeFat"}};
  return info;
}

// --- TZelProp ----------------------------------------------------------------------

const ClassInfo& TZelProp::StaticClass() {
  static const ClassInfo info = [] {
    std::vector<PropertyInfo> props;
    PropertyInfo name = Prop::String<&TZelProp::name_>("xName");
    name.access.set_string = [](TPersistent& o, std::string&& v) {
      static_cast<TZelProp&>(o).SetName(std::move(v));
    };
    props.push_back(std::move(name));
    PropertyInfo column = Prop::String<&TZelProp::xDataSetFieldName>("xDataSetFieldName");
    column.access.set_string = [](TPersistent& o, std::string&& v) {
      static_cast<TZelProp&>(o).xDataSetFieldName = UpperCase(v);
    };
    props.push_back(std::move(column));
    props.push_back(Prop::String<&TZelProp::xTitle>("xTitle"));
    props.push_back(
        Prop::Set<&TZelProp::xAttributes>("xAttributes", "TFieldAttributes", FieldAttributeEnum()));
    props.push_back(Prop::Enum<&TZelProp::xDataType>("xDataType", FieldTypeEnum(), 0));
    props.push_back(Prop::Integer<&TZelProp::xPrecision>("xPrecision", "Integer", 0));
    props.push_back(Prop::Integer<&TZelProp::xSize>("xSize", "Integer", 0));
    props.push_back(
        Prop::Set<&TZelProp::xTypeOfProps>("xTypeOfProps", "TTypeOfProps", TypeOfPropEnum()));
    return MakeClassInfo("TZelProp", &TCollectionItem::StaticClass(), std::move(props));
  }();
  return info;
}

void TZelProp::SetName(std::string name) {
  SetDisplayName(name);
  name_ = std::move(name);
}

// --- TZelProps ---------------------------------------------------------------------

const ClassInfo& TZelProps::StaticClass() {
  static const ClassInfo info = MakeClassInfo("TZelProps", &TCollection::StaticClass(), {});
  return info;
}

TZelProps::TZelProps(TZelObject& owner) : TOwnedCollection(&owner), owner_(owner) {
  for (int i = 0; i < PropCount(); ++i) {
    TZelProp& item = Add();
    const std::string placeholder = "_" + std::to_string(i);
    item.SetName(placeholder);
    item.xDataSetFieldName = placeholder;
    item.xDataType = ftString;
  }
}

int TZelProps::PropCount() const {
  return static_cast<int>(owner_.Class().properties.size());
}

const PropertyInfo* TZelProps::Info(int index) const {
  if (index < 0 || index >= PropCount()) return nullptr;
  return &owner_.Class().properties[static_cast<std::size_t>(index)];
}

std::string TZelProps::PropNameAt(int index) const {
  const PropertyInfo* info = Info(index);
  return info ? info->name : std::string();
}

std::string TZelProps::ColumnNameAt(int index) const {
  if (index < 0 || index >= static_cast<int>(Count())) return {};
  return (*this)[static_cast<std::size_t>(index)].xDataSetFieldName;
}

int TZelProps::IndexOfProp(std::string_view name) const {
  return owner_.Class().IndexOf(name);
}

int TZelProps::IndexOfColumn(std::string_view column) const {
  const std::string upper = UpperCase(column);
  for (std::size_t i = 0; i < Count(); ++i)
    if ((*this)[i].xDataSetFieldName == upper) return static_cast<int>(i);
  return -1;
}

void TZelProps::Report(const std::string& text) const {
  owner_.ShowMessageBox("Erreur logicielle", text, false);
}

void TZelProps::SetPropInfo(std::string_view name, std::string_view column, std::int32_t precision,
                            std::int32_t size, std::uint8_t roles, std::uint8_t data_type,
                            const std::string& caption) {
  const int index = IndexOfProp(name);
  if (index < 0 || index >= static_cast<int>(Count())) {
    Report("Prop Not Found :" + std::string(name));
    return;
  }
  TZelProp& item = Items(index);
  item.SetName(std::string(name));
  item.xDataSetFieldName = UpperCase(column);
  item.xTitle = (roles & topr_ColDisplay) ? owner_.Translate(caption) : caption;
  item.xDataType = data_type;
  item.xSize = size;
  item.xPrecision = precision;
  item.xTypeOfProps = roles;
}

void TZelProps::DeclareProp(std::string_view name, std::string_view column, std::int32_t size,
                            std::uint8_t roles, const std::string& caption) {
  const PropertyInfo* info = Info(IndexOfProp(name));
  if (info == nullptr) {
    Report("Prop Not Found :" + std::string(name));
    return;
  }
  const std::string type_name = info->UpperTypeName();
  for (const auto& declared : kDeclaredTypes) {
    if (declared.name != type_name) continue;
    if (type_name == "STRING") {
      if (size <= 0) Report("Déclaration de chaîne de taille nulle"_w);
      SetPropInfo(name, column, 0, size, roles, ftString, caption);
    } else {
      SetPropInfo(name, column, 0, declared.size, roles, declared.data_type, caption);
    }
    return;
  }
  Report(type_name + " not implemented");
}

std::string TZelProps::PropValueText(int index, bool list_flag) const {
  const PropertyInfo* info = Info(index);
  if (info == nullptr) return {};
  switch (info->kind) {
    case PropKind::Integer:
      return FormatIntegerValue(info->type_name, info->access.get_ordinal(owner_));
    case PropKind::Enumeration:
      return EnumDisplayName(info->type_name, static_cast<int>(info->access.get_ordinal(owner_)));
    case PropKind::Float:
      return FormatRealValue(info->type_name, info->access.get_float(owner_));
    case PropKind::Object: {
      const TPersistent* nested = info->access.get_object(owner_);
      if (nested == nullptr || nested->ClassName() != "TStringList") return {};
      const auto& list = static_cast<const TStringList&>(*nested);
      if (!list_flag) return list.Text();
      std::string text;
      for (const auto& line : list.Lines())
        text += line + ";";
      return text;
    }
    default: {
      const PropVariant value = PropValue(index);
      if (const auto* s = std::get_if<std::string>(&value)) return *s;
      if (const auto* i = std::get_if<std::int64_t>(&value)) return std::to_string(*i);
      return {};
    }
  }
}

PropVariant TZelProps::PropValue(int index) const {
  const PropertyInfo* info = Info(index);
  if (info == nullptr || info->name.empty()) return std::int64_t{1};
  switch (info->kind) {
    case PropKind::String:
      return std::string(info->access.get_string(owner_));
    case PropKind::Float:
      return info->access.get_float(owner_);
    case PropKind::Integer:
    case PropKind::Enumeration:
    case PropKind::Set:
    case PropKind::Int64:
      return info->access.get_ordinal(owner_);
    default:
      return std::monostate{};
  }
}

bool TZelProps::SetPropValue(int index, const PropVariant& value) {
  const PropertyInfo* info = Info(index);
  if (info == nullptr || info->IsReadOnly()) return false;
  if (const auto* s = std::get_if<std::string>(&value); s && info->kind == PropKind::String) {
    info->access.set_string(owner_, std::string(*s));
  } else if (const auto* d = std::get_if<double>(&value); d && info->kind == PropKind::Float) {
    info->access.set_float(owner_, *d);
  } else if (const auto* i = std::get_if<std::int64_t>(&value); i && info->access.set_ordinal) {
    info->access.set_ordinal(owner_, *i);
  } else if (i && info->kind == PropKind::Float) {
    info->access.set_float(owner_, static_cast<double>(*i));
  } else {
    return false;
  }
  return true;
}

namespace {

// The ordinal of an enumeration value given by its member name or display text.
std::optional<std::int64_t> EnumOrdinalOf(const PropertyInfo& info, const std::string& text) {
  if (info.enum_info == nullptr) return std::nullopt;
  if (const int ordinal = info.enum_info->IndexOf(text); ordinal >= 0) return ordinal;
  for (std::size_t k = 0; k < info.enum_info->members.size(); ++k)
    if (EnumDisplayName(info.type_name, static_cast<int>(k)) == text)
      return static_cast<std::int64_t>(k);
  return std::nullopt;
}

std::optional<std::int64_t> IntegerOf(const std::string& text) {
  std::int64_t value = 0;
  const std::string trimmed = Trim(text);
  const auto [end, error] = std::from_chars(trimmed.data(), trimmed.data() + trimmed.size(), value);
  if (error != std::errc() || end != trimmed.data() + trimmed.size()) return std::nullopt;
  return value;
}

}  // namespace

void TZelProps::LoadFromRecord(const DataSetRecord& record) {
  for (const DataSetField& field : record) {
    const int index = IndexOfColumn(field.name);
    const PropertyInfo* info = Info(index);
    if (info == nullptr) continue;
    const auto* text = std::get_if<std::string>(&field.value);
    TPersistent* nested = info->kind == PropKind::Object && info->access.get_object
                              ? info->access.get_object(owner_)
                              : nullptr;
    if (nested != nullptr && field.kind == FieldKind::Blob) {
      if (text == nullptr || text->empty()) continue;
      if (nested->ClassName() == "TBitmap" || nested->ClassName() == "TPicture") {
        static_cast<TBitmap*>(nested)->SetBytes(*text);
      } else if (auto* blob = dynamic_cast<TZelObject*>(nested);
                 blob != nullptr && blob->ClassName() == "TZelSOObjectAsBlob") {
        ObjectReader(*text).ReadRootInto(*blob);
      }
      continue;
    }
    if (nested != nullptr && field.kind == FieldKind::Memo) {
      if (nested->ClassName() == "TStringList" && text != nullptr)
        static_cast<TStringList*>(nested)->SetText(*text);
      continue;
    }
    if (std::holds_alternative<std::monostate>(field.value) || SetPropValue(index, field.value))
      continue;
    if (text == nullptr || info->access.set_ordinal == nullptr) continue;
    const auto converted =
        info->kind == PropKind::Enumeration ? EnumOrdinalOf(*info, *text) : IntegerOf(*text);
    if (converted) info->access.set_ordinal(owner_, *converted);
  }
}

void TZelProps::FillStrings(TPersistent& target) const {
  if (target.InheritsFrom("TZelCols")) {
    auto& cols = static_cast<TZelCols&>(target);
    for (std::size_t i = 0; i < Count(); ++i) {
      const TZelProp& item = (*this)[i];
      if (item.xTypeOfProps == 0) continue;
      AddColumn(cols, item.xDataSetFieldName, item.xTitle, item.xPrecision, item.xSize,
                item.xDataType);
    }
  } else if (target.InheritsFrom("TStrings")) {
    auto& lines = static_cast<TStringList&>(target);
    for (std::size_t i = 0; i < Count(); ++i) {
      const TZelProp& item = (*this)[i];
      if (!(item.xTypeOfProps & topr_ColDisplay)) continue;
      const std::string text = PropValueText(static_cast<int>(i), false);
      if (text.empty()) continue;
      if (text.find('\r') != std::string::npos) {
        lines.Add(item.xTitle + ":");
        lines.Add(text);
      } else {
        lines.Add(item.xTitle + ": " + text);
      }
    }
  }
}

std::string TZelProps::FatFileName(int index) const {
  return TZelObject::BaseFolder() + "DB\\PRP\\" + FileSafeId(owner_.GetId()) + ColumnNameAt(index) +
         ".prp";
}

// Large values move to side files that are written once and never overwritten.
void TZelProps::SaveFat() {
  for (std::size_t i = 0; i < Count(); ++i) {
    if (!((*this)[i].xTypeOfProps & topr_CanBeFat)) continue;
    const PropertyInfo* info = Info(static_cast<int>(i));
    if (info == nullptr || info->kind != PropKind::String || info->IsReadOnly()) continue;
    const std::string_view value = info->access.get_string(owner_);
    if (value.empty()) continue;
    const std::string path = NativePath(FatFileName(static_cast<int>(i)));
    std::error_code error;
    // The value is only emptied once a side file holds it.
    if (!std::filesystem::exists(path, error) && !WriteFileAtomically(path, value)) continue;
    info->access.set_string(owner_, std::string());
  }
}

void TZelProps::LoadFat() {
  for (std::size_t i = 0; i < Count(); ++i) {
    if (!((*this)[i].xTypeOfProps & topr_CanBeFat)) continue;
    const PropertyInfo* info = Info(static_cast<int>(i));
    if (info == nullptr || info->kind != PropKind::String || info->IsReadOnly()) continue;
    if (auto content = ReadWholeFile(NativePath(FatFileName(static_cast<int>(i)))))
      info->access.set_string(owner_, std::move(*content));
  }
}

bool TZelProps::HasFat() const {
  std::error_code error;
  for (std::size_t i = 0; i < Count(); ++i)
    if (((*this)[i].xTypeOfProps & topr_CanBeFat) &&
        std::filesystem::exists(NativePath(FatFileName(static_cast<int>(i))), error))
      return true;
  return false;
}

void TZelProps::DeleteFat() {
  std::error_code error;
  for (std::size_t i = 0; i < Count(); ++i)
    if ((*this)[i].xTypeOfProps & topr_CanBeFat)
      std::filesystem::remove(NativePath(FatFileName(static_cast<int>(i))), error);
}

}  // namespace quorvane
