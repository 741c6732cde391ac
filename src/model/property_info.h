// Published-property tables: each class owns one ordered table of the properties
// it publishes, built once by an ordinary function and chained to its base class's
// table (base first). The stream writer and reader, the text form, the column
// export and cloning are all walks over these tables. Tables are immutable once
// built and may be read from any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace quorvane {

class TPersistent;

enum class PropKind : std::uint8_t {
  Integer,      // 32-bit signed and the integer-based types (TxFileSize, TxDate ...)
  Enumeration,  // booleans included; written as identifiers
  Set,          // bit n = ordinal n, written as member names
  String,       // long strings and identifier texts
  Float,        // written as 80-bit extended values
  Int64,
  Object,     // a nested persistent object: string list, bitmap, collection, blob
  Component,  // a reference to a component, never written by this program
};

enum class Stored : std::uint8_t { Always, Never, WhileRoutingStored };

// The member names of an enumeration (also the element type of a set).
struct EnumInfo {
  std::string name;
  std::vector<std::string> members;

  // Case-insensitive, as identifiers are; -1 when absent.
  int IndexOf(std::string_view member) const;
  std::string_view NameOf(std::int64_t ordinal) const;  // empty when out of range
};

// Typed access to one property of an instance. Only the pair that matches the
// property's kind is set; a null setter marks a read-only property.
struct PropertyAccess {
  std::int64_t (*get_ordinal)(const TPersistent&) = nullptr;
  void (*set_ordinal)(TPersistent&, std::int64_t) = nullptr;
  std::string_view (*get_string)(const TPersistent&) = nullptr;
  void (*set_string)(TPersistent&, std::string&&) = nullptr;
  double (*get_float)(const TPersistent&) = nullptr;
  void (*set_float)(TPersistent&, double) = nullptr;
  TPersistent* (*get_object)(const TPersistent&) = nullptr;
};

struct PropertyInfo {
  PropertyInfo(std::string property_name, std::string declared_type, PropKind property_kind,
               const EnumInfo* members = nullptr)
      : name(std::move(property_name)),
        type_name(std::move(declared_type)),
        kind(property_kind),
        enum_info(members) {}

  std::string name;
  std::string type_name;  // the declared type name ("String", "TxFileSize", "TStringList" ...)
  PropKind kind = PropKind::Integer;
  const EnumInfo* enum_info = nullptr;        // enumerations and sets
  std::optional<std::int64_t> default_value;  // ordinal kinds: not written when equal
  Stored stored = Stored::Always;
  PropertyAccess access;

  bool IsReadOnly() const;
  std::string UpperTypeName() const;
};

struct ClassInfo {
  std::string name;
  const ClassInfo* base = nullptr;
  std::vector<PropertyInfo> properties;  // every published property, base class first

  bool InheritsFrom(std::string_view class_name) const;
  int IndexOf(std::string_view property_name) const;  // exact, case-sensitive; -1 when absent
};

// Builds a class table: the base class's properties followed by the class's own.
ClassInfo MakeClassInfo(std::string name, const ClassInfo* base, std::vector<PropertyInfo> own);

// The enumeration "Boolean" (False, True).
const EnumInfo& BooleanEnum();

// Property builders over data members, so tables read as declarations:
//   Prop::String<&TSOFile::xFileName>("xFileName")
namespace Prop {

template <typename T>
struct MemberTraits;
template <typename Owner, typename Value>
struct MemberTraits<Value Owner::*> {
  using OwnerType = Owner;
  using ValueType = Value;
};

template <auto Member>
using OwnerOf = typename MemberTraits<decltype(Member)>::OwnerType;

template <auto Member>
PropertyInfo Integer(std::string name, std::string type_name = "Integer",
                     std::optional<std::int64_t> default_value = std::nullopt,
                     Stored stored = Stored::Always) {
  using Owner = OwnerOf<Member>;
  using Value = typename MemberTraits<decltype(Member)>::ValueType;
  PropertyInfo p{std::move(name), std::move(type_name), PropKind::Integer};
  p.default_value = default_value;
  p.stored = stored;
  p.access.get_ordinal = [](const TPersistent& o) -> std::int64_t {
    return static_cast<const Owner&>(o).*Member;
  };
  p.access.set_ordinal = [](TPersistent& o, std::int64_t v) {
    static_cast<Owner&>(o).*Member = static_cast<Value>(v);
  };
  return p;
}

template <auto Member>
PropertyInfo Int64(std::string name) {
  using Owner = OwnerOf<Member>;
  PropertyInfo p{std::move(name), "Int64", PropKind::Int64};
  p.access.get_ordinal = [](const TPersistent& o) -> std::int64_t {
    return static_cast<const Owner&>(o).*Member;
  };
  p.access.set_ordinal = [](TPersistent& o, std::int64_t v) { static_cast<Owner&>(o).*Member = v; };
  return p;
}

// Enumerations are held as their ordinal in any integral or enum member.
template <auto Member>
PropertyInfo Enum(std::string name, const EnumInfo& info,
                  std::optional<std::int64_t> default_value = std::nullopt,
                  Stored stored = Stored::Always) {
  using Owner = OwnerOf<Member>;
  using Value = typename MemberTraits<decltype(Member)>::ValueType;
  PropertyInfo p{std::move(name), info.name, PropKind::Enumeration, &info};
  p.default_value = default_value;
  p.stored = stored;
  p.access.get_ordinal = [](const TPersistent& o) -> std::int64_t {
    return static_cast<std::int64_t>(static_cast<const Owner&>(o).*Member);
  };
  p.access.set_ordinal = [](TPersistent& o, std::int64_t v) {
    static_cast<Owner&>(o).*Member = static_cast<Value>(v);
  };
  return p;
}

template <auto Member>
PropertyInfo Boolean(std::string name, Stored stored = Stored::Always) {
  return Enum<Member>(std::move(name), BooleanEnum(), std::nullopt, stored);
}

template <auto Member>
PropertyInfo Set(std::string name, std::string type_name, const EnumInfo& element) {
  PropertyInfo p = Enum<Member>(std::move(name), element, 0);
  p.kind = PropKind::Set;
  p.type_name = std::move(type_name);
  return p;
}

template <auto Member>
PropertyInfo String(std::string name, std::string type_name = "String",
                    Stored stored = Stored::Always) {
  using Owner = OwnerOf<Member>;
  PropertyInfo p{std::move(name), std::move(type_name), PropKind::String};
  p.stored = stored;
  p.access.get_string = [](const TPersistent& o) -> std::string_view {
    return static_cast<const Owner&>(o).*Member;
  };
  p.access.set_string = [](TPersistent& o, std::string&& v) {
    static_cast<Owner&>(o).*Member = std::move(v);
  };
  return p;
}

template <auto Member>
PropertyInfo Float(std::string name, std::string type_name = "Double") {
  using Owner = OwnerOf<Member>;
  PropertyInfo p{std::move(name), std::move(type_name), PropKind::Float};
  p.access.get_float = [](const TPersistent& o) -> double {
    return static_cast<const Owner&>(o).*Member;
  };
  p.access.set_float = [](TPersistent& o, double v) { static_cast<Owner&>(o).*Member = v; };
  return p;
}

// A nested object held by std::unique_ptr (or any pointer-like member).
template <auto Member>
PropertyInfo Object(std::string name, std::string type_name, Stored stored = Stored::Always) {
  using Owner = OwnerOf<Member>;
  PropertyInfo p{std::move(name), std::move(type_name), PropKind::Object};
  p.stored = stored;
  p.access.get_object = [](const TPersistent& o) -> TPersistent* {
    const auto& member = static_cast<const Owner&>(o).*Member;
    if constexpr (std::is_pointer_v<std::remove_cvref_t<decltype(member)>>) {
      return member;
    } else if constexpr (requires { member.get(); }) {
      return member.get();
    } else {
      return const_cast<std::remove_cvref_t<decltype(member)>*>(&member);
    }
  };
  return p;
}

}  // namespace Prop
}  // namespace quorvane
