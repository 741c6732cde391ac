// TZelProps describes each published property of its owner a second time, for
// people and tables: column name, caption, column type and size, and roles. It
// yields the object's text form, column exports and the side files of large
// properties. Owned by its object and guarded by the object's lock.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "model/persistent.h"

namespace quorvane {

class TZelObject;
class TZelProps;

// Roles (TTypeOfProp set bits).
inline constexpr std::uint8_t topr_Nop = 1;
inline constexpr std::uint8_t topr_ColDisplay = 2;
inline constexpr std::uint8_t topr_ToDBE = 4;
inline constexpr std::uint8_t topr_FromDBE = 8;
inline constexpr std::uint8_t topr_CanBeFat = 16;
inline constexpr std::uint8_t kDefaultRoles = topr_ColDisplay | topr_ToDBE | topr_FromDBE;

// Column types (TFieldType ordinals).
inline constexpr std::uint8_t ftUnknown = 0;
inline constexpr std::uint8_t ftString = 1;
inline constexpr std::uint8_t ftSmallint = 2;
inline constexpr std::uint8_t ftInteger = 3;
inline constexpr std::uint8_t ftBoolean = 5;
inline constexpr std::uint8_t ftFloat = 6;
inline constexpr std::uint8_t ftCurrency = 7;
inline constexpr std::uint8_t ftBlob = 15;
inline constexpr std::uint8_t ftMemo = 16;
inline constexpr std::uint8_t ftGraphic = 17;
inline constexpr std::uint8_t ftTypedBinary = 21;

// Column attributes (TFieldAttribute set bits).
inline constexpr std::uint8_t faFixed = 32;

const EnumInfo& FieldTypeEnum();
const EnumInfo& FieldAttributeEnum();
const EnumInfo& TypeOfPropEnum();

// A property value as the generic property access sees it.
using PropVariant = std::variant<std::monostate, std::int64_t, double, std::string>;

// One field of a data-set record, for LoadFromRecord. Blob and memo fields hold
// their bytes or text as a string value.
enum class FieldKind : std::uint8_t { Plain, Blob, Memo };
struct DataSetField {
  std::string name;
  FieldKind kind = FieldKind::Plain;
  PropVariant value;
};
using DataSetRecord = std::vector<DataSetField>;

class TZelProp : public TCollectionItem {
 public:
  explicit TZelProp(TCollection* collection) : TCollectionItem(collection) {}
  static const ClassInfo& StaticClass();
  const ClassInfo& Class() const override { return StaticClass(); }

  const std::string& xName() const { return name_; }
  void SetName(std::string name);
  std::string xDataSetFieldName;  // always upper case
  std::string xTitle;
  std::uint8_t xAttributes = 0;
  std::uint8_t xDataType = ftUnknown;
  std::int32_t xPrecision = 0;
  std::int32_t xSize = 0;
  std::uint8_t xTypeOfProps = 0;

 private:
  std::string name_;
};

class TZelProps : public TOwnedCollection<TZelProp> {
 public:
  explicit TZelProps(TZelObject& owner);
  static const ClassInfo& StaticClass();
  const ClassInfo& Class() const override { return StaticClass(); }

  TZelProp& Items(int index) { return (*this)[static_cast<std::size_t>(index)]; }
  int PropCount() const;
  std::string PropNameAt(int index) const;
  std::string ColumnNameAt(int index) const;
  int IndexOfProp(std::string_view name) const;
  int IndexOfColumn(std::string_view column) const;

  void SetPropInfo(std::string_view name, std::string_view column, std::int32_t precision,
                   std::int32_t size, std::uint8_t roles, std::uint8_t data_type,
                   const std::string& caption);
  void DeclareProp(std::string_view name, std::string_view column, std::int32_t size,
                   std::uint8_t roles, const std::string& caption);

  std::string PropValueText(int index, bool list_flag) const;
  PropVariant PropValue(int index) const;
  // False when the value's kind does not fit the property.
  bool SetPropValue(int index, const PropVariant& value);

  // Column definitions into a TZelCols, or the text form into a string list.
  void FillStrings(TPersistent& target) const;

  // Assigns each field whose name is a declared column to its property.
  void LoadFromRecord(const DataSetRecord& record);

  std::string FatFileName(int index) const;
  void SaveFat();
  void LoadFat();
  bool HasFat() const;
  void DeleteFat();

 private:
  void Report(const std::string& text) const;
  const PropertyInfo* Info(int index) const;

  TZelObject& owner_;
};

}  // namespace quorvane
