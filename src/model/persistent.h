// The persistent base of everything that publishes properties, and the small
// persistent kinds nested inside objects: string lists, bitmaps and collections.
// Instances are not thread-safe; the owning object's lock guards them.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "model/property_info.h"

namespace quorvane {

class ObjectWriter;
class ObjectReader;

class TPersistent {
 public:
  TPersistent() = default;
  TPersistent(const TPersistent&) = delete;
  TPersistent& operator=(const TPersistent&) = delete;
  virtual ~TPersistent() = default;

  static const ClassInfo& StaticClass();
  virtual const ClassInfo& Class() const { return StaticClass(); }
  const std::string& ClassName() const { return Class().name; }
  bool InheritsFrom(std::string_view class_name) const { return Class().InheritsFrom(class_name); }

  // Defined properties that are not published ("Strings" of a string list, "Data"
  // of a bitmap, "ObjectData" of a blob): written after the published ones with
  // their names prefixed, and recognised by the reader through ReadExtraProperty.
  virtual void WriteExtraProperties(ObjectWriter& writer, const std::string& prefix) const;
  // Returns false when the name is not one of the class's extra properties.
  virtual bool ReadExtraProperty(std::string_view name, ObjectReader& reader);

  // The stored rule "while the routing-stored flag is set" asks this.
  virtual bool IsRoutingStored() const { return true; }
  // Called once the reader has set every property from a stream.
  virtual void Loaded() {}
};

// An ordered list of text lines.
class TStringList : public TPersistent {
 public:
  static const ClassInfo& StaticClass();
  const ClassInfo& Class() const override { return StaticClass(); }

  std::vector<std::string>& Lines() { return lines_; }
  const std::vector<std::string>& Lines() const { return lines_; }
  std::size_t Count() const { return lines_.size(); }
  void Add(std::string line) { lines_.push_back(std::move(line)); }
  void Clear() { lines_.clear(); }

  // Every line followed by CR LF; SetText splits on CR LF, LF or CR.
  std::string Text() const;
  void SetText(std::string_view text);
  // The value of the first "name=value" line whose name matches (case-insensitive).
  std::string Value(std::string_view name) const;

  void WriteExtraProperties(ObjectWriter& writer, const std::string& prefix) const override;
  bool ReadExtraProperty(std::string_view name, ObjectReader& reader) override;

 private:
  std::vector<std::string> lines_;
};

// A picture held as the bytes of a Windows bitmap file ("BM" ...).
class TBitmap : public TPersistent {
 public:
  static const ClassInfo& StaticClass();
  const ClassInfo& Class() const override { return StaticClass(); }

  bool Empty() const { return bytes_.empty(); }
  const std::string& Bytes() const { return bytes_; }
  void SetBytes(std::string bytes) { bytes_ = std::move(bytes); }

  void WriteExtraProperties(ObjectWriter& writer, const std::string& prefix) const override;
  bool ReadExtraProperty(std::string_view name, ObjectReader& reader) override;

 private:
  std::string bytes_;
};

class TCollection;

class TCollectionItem : public TPersistent {
 public:
  explicit TCollectionItem(TCollection* collection) : collection_(collection) {}
  static const ClassInfo& StaticClass();
  const ClassInfo& Class() const override { return StaticClass(); }

  TCollection* Collection() const { return collection_; }
  int Index() const;
  const std::string& DisplayName() const { return display_name_; }
  void SetDisplayName(std::string name) { display_name_ = std::move(name); }

 private:
  TCollection* collection_;
  std::string display_name_;
};

// An owned, ordered list of items of one class. Written in the object stream as
// a collection value, one item per element with the element's own properties.
class TCollection : public TPersistent {
 public:
  explicit TCollection(TPersistent* owner) : owner_(owner) {}
  static const ClassInfo& StaticClass();
  const ClassInfo& Class() const override { return StaticClass(); }

  TPersistent* Owner() const { return owner_; }
  std::size_t Count() const { return items_.size(); }
  TCollectionItem& Item(std::size_t index) { return *items_.at(index); }
  const TCollectionItem& Item(std::size_t index) const { return *items_.at(index); }
  TCollectionItem& Add();
  void Clear() { items_.clear(); }
  void Delete(std::size_t index);
  int IndexOf(const TCollectionItem* item) const;

 protected:
  virtual std::unique_ptr<TCollectionItem> CreateItem() = 0;

 private:
  TPersistent* owner_;
  std::vector<std::unique_ptr<TCollectionItem>> items_;
};

// A collection whose items are of one concrete class.
template <typename ItemType>
class TOwnedCollection : public TCollection {
 public:
  using TCollection::TCollection;
  ItemType& Add() { return static_cast<ItemType&>(TCollection::Add()); }
  ItemType& operator[](std::size_t index) { return static_cast<ItemType&>(Item(index)); }
  const ItemType& operator[](std::size_t index) const {
    return static_cast<const ItemType&>(Item(index));
  }

 protected:
  std::unique_ptr<TCollectionItem> CreateItem() override {
    return std::make_unique<ItemType>(this);
  }
};

}  // namespace quorvane
