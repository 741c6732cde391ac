#include "model/property_info.h"

#include "util/text.h"

namespace quorvane {

int EnumInfo::IndexOf(std::string_view member) const {
  for (std::size_t i = 0; i < members.size(); ++i)
    if (SameText(members[i], member)) return static_cast<int>(i);
  return -1;
}

std::string_view EnumInfo::NameOf(std::int64_t ordinal) const {
  if (ordinal < 0 || ordinal >= static_cast<std::int64_t>(members.size())) return {};
  return members[static_cast<std::size_t>(ordinal)];
}

bool PropertyInfo::IsReadOnly() const {
  switch (kind) {
    case PropKind::Object:
      return access.get_object == nullptr;
    case PropKind::Component:
      return true;
    case PropKind::String:
      return access.get_string == nullptr || access.set_string == nullptr;
    case PropKind::Float:
      return access.get_float == nullptr || access.set_float == nullptr;
    default:
      return access.get_ordinal == nullptr || access.set_ordinal == nullptr;
  }
}

std::string PropertyInfo::UpperTypeName() const {
  return UpperCase(type_name);
}

bool ClassInfo::InheritsFrom(std::string_view class_name) const {
  for (const ClassInfo* c = this; c != nullptr; c = c->base)
    if (c->name == class_name) return true;
  return false;
}

int ClassInfo::IndexOf(std::string_view property_name) const {
  for (std::size_t i = 0; i < properties.size(); ++i)
    if (properties[i].name == property_name) return static_cast<int>(i);
  return -1;
}

ClassInfo MakeClassInfo(std::string name, const ClassInfo* base, std::vector<PropertyInfo> own) {
  ClassInfo info{std::move(name), base, {}};
  if (base != nullptr) info.properties = base->properties;
  for (auto& p : own)
    info.properties.push_back(std::move(p));
  return info;
}

const EnumInfo& BooleanEnum() {
  static const EnumInfo info{"Boolean", {"False", "True"}};
  return info;
}

}  // namespace quorvane
