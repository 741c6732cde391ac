#include "model/zel_cols.h"

#include "model/zel_props.h"

namespace quorvane {

const ClassInfo& TZelCol::StaticClass() {
  static const ClassInfo info = [] {
    std::vector<PropertyInfo> props;
    PropertyInfo name = Prop::String<&TZelCol::name_>("xName");
    name.access.set_string = [](TPersistent& o, std::string&& v) {
      static_cast<TZelCol&>(o).SetName(std::move(v));
    };
    props.push_back(std::move(name));
    props.push_back(Prop::String<&TZelCol::xTitle>("xTitle"));
    props.push_back(
        Prop::Set<&TZelCol::xAttributes>("xAttributes", "TFieldAttributes", FieldAttributeEnum()));
    props.push_back(Prop::Enum<&TZelCol::xDataType>("xDataType", FieldTypeEnum(), 0));
    props.push_back(Prop::Integer<&TZelCol::xPrecision>("xPrecision", "Integer", 0));
    props.push_back(Prop::Integer<&TZelCol::xSize>("xSize", "Integer", 0));
    return MakeClassInfo("TZelCol", &TCollectionItem::StaticClass(), std::move(props));
  }();
  return info;
}

void TZelCol::SetName(std::string name) {
  SetDisplayName(name);
  name_ = std::move(name);
}

const ClassInfo& TZelCols::StaticClass() {
  static const ClassInfo info = MakeClassInfo("TZelCols", &TCollection::StaticClass(), {});
  return info;
}

TZelCol& AddColumn(TZelCols& cols, std::string name, std::string title, std::int32_t precision,
                   std::int32_t size, std::uint8_t data_type) {
  TZelCol& col = cols.Add();
  col.SetName(std::move(name));
  col.xTitle = std::move(title);
  col.xPrecision = precision;
  col.xSize = size;
  col.xDataType = data_type;
  col.xAttributes = faFixed;
  return col;
}

const ClassInfo& TZelRecord::StaticClass() {
  static const ClassInfo info = [] {
    std::vector<PropertyInfo> props;
    props.push_back(Prop::String<&TZelRecord::h_>("xH"));
    props.push_back(Prop::String<&TZelRecord::d_>("xD"));
    return MakeClassInfo("TZelRecord", &TCollectionItem::StaticClass(), std::move(props));
  }();
  return info;
}

const ClassInfo& TZelRecords::StaticClass() {
  static const ClassInfo info = MakeClassInfo("TZelRecords", &TCollection::StaticClass(), {});
  return info;
}

}  // namespace quorvane
