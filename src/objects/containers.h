// An object carried as the bytes of its object stream (TZelSOObjectAsBlob) and a
// container that holds one through such a blob. Not thread-safe; the object's
// lock guards its state.
#pragma once

#include <memory>
#include <string>

#include "model/zel_object.h"
#include "objects/enums.h"

namespace quorvane {

// Its bytes travel as the binary property "ObjectData", always written.
class TZelSOObjectAsBlob : public TZelObject {
 public:
  explicit TZelSOObjectAsBlob(TZelObject* parent = nullptr);
  static const ClassInfo& StaticClass();
  int TypeCode() const override { return tvo_BlobData; }

  std::string& Data() { return data_; }
  const std::string& Data() const { return data_; }

  void WriteExtraProperties(ObjectWriter& writer, const std::string& prefix) const override;
  bool ReadExtraProperty(std::string_view name, ObjectReader& reader) override;

 private:
  std::string data_;
};

// The blob xRef is not stored: a container on the wire carries only the base
// properties, and the inner object's bytes travel only when a blob is sent.
class TZelSOContainer : public TZelObject {
 public:
  explicit TZelSOContainer(TZelObject* parent = nullptr);
  static const ClassInfo& StaticClass();
  int TypeCode() const override { return tvo_SOContainer; }
  void DeclareProps() override;

  // Takes the object's identifier and replaces the blob with its object stream.
  void SetObject(const TZelObject& object);
  // Recreates the inner object from the blob on every call, linked under this
  // container, and takes its identifier. The object stays owned by the container
  // until the next call; nullptr when the blob is empty or unreadable.
  TZelObject* Object();

  std::string Caption() const override;
  std::string PropsText() const override;
  void DefaultAction() override;
  void SaveFatProps() override;
  void LoadFatProps() override;
  void DeleteFatProps() override;
  // The blob is compressed while the container is copied.
  void BeforeClone() override;
  void AfterClone() override;
  void Cloned(TZelObject& copy) override;

  std::unique_ptr<TZelSOObjectAsBlob> xRef;

 private:
  // A fresh inner object that is neither cached nor linked (for the const views).
  std::unique_ptr<TZelObject> ReadInner() const;

  // Declared after xRef so that it goes first: it is linked under the container.
  std::unique_ptr<TZelObject> inner_;
};

}  // namespace quorvane
