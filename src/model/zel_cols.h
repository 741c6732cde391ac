// Tables inside objects: a column list (TZelCols of TZelCol) and a record list
// (TZelRecords of TZelRecord), both written as collection values. Guarded by the
// owning object's lock.
#pragma once

#include <cstdint>
#include <string>

#include "model/persistent.h"

namespace quorvane {

class TZelCol : public TCollectionItem {
 public:
  explicit TZelCol(TCollection* collection) : TCollectionItem(collection) {}
  static const ClassInfo& StaticClass();
  const ClassInfo& Class() const override { return StaticClass(); }

  const std::string& xName() const { return name_; }
  void SetName(std::string name);
  std::string xTitle;
  std::uint8_t xAttributes = 0;
  std::uint8_t xDataType = 0;
  std::int32_t xPrecision = 0;
  std::int32_t xSize = 0;

 private:
  std::string name_;
};

class TZelCols : public TOwnedCollection<TZelCol> {
 public:
  using TOwnedCollection::TOwnedCollection;
  static const ClassInfo& StaticClass();
  const ClassInfo& Class() const override { return StaticClass(); }
};

// Appends a column whose attributes are {faFixed}.
TZelCol& AddColumn(TZelCols& cols, std::string name, std::string title, std::int32_t precision,
                   std::int32_t size, std::uint8_t data_type);

class TZelRecord : public TCollectionItem {
 public:
  explicit TZelRecord(TCollection* collection) : TCollectionItem(collection) {}
  static const ClassInfo& StaticClass();
  const ClassInfo& Class() const override { return StaticClass(); }

  // Each value is a text stream of its own: setting it replaces the whole content.
  const std::string& xH() const { return h_; }
  const std::string& xD() const { return d_; }
  void SetH(std::string text) { h_ = std::move(text); }
  void SetD(std::string text) { d_ = std::move(text); }

 private:
  std::string h_;
  std::string d_;
};

class TZelRecords : public TOwnedCollection<TZelRecord> {
 public:
  using TOwnedCollection::TOwnedCollection;
  static const ClassInfo& StaticClass();
  const ClassInfo& Class() const override { return StaticClass(); }
  // The data-set answer that holds the records (not owned).
  TPersistent* answer = nullptr;
};

}  // namespace quorvane
