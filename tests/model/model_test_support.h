// Helpers shared by the model tests: byte literals and a registry holding the
// model's own classes.
#pragma once

#include <string>

#include "model/class_registry.h"
#include "model/object_file_store.h"
#include "model/zel_object.h"
#include "model/zel_props.h"

namespace quorvane::test {

// A string from a literal that may hold NUL bytes.
template <std::size_t N>
std::string Bytes(const char (&literal)[N]) {
  return std::string(literal, N - 1);
}
inline std::string Bytes(const char* data, std::size_t size) {
  return std::string(data, size);
}

// Registers TZelObject and TTestCard (idempotent).
void RegisterModelTestClasses();

// Captures what an object's save to a file would write, through the store seam.
class RecordingStore : public ObjectFileStore {
 public:
  bool SaveObject(TZelObject& object, const std::string& path, FileSaveMode, std::uint8_t) override;
  bool LoadObject(TZelObject&, const std::string&) override { return false; }
  void Compress(std::string&, std::uint8_t) override {}
  void Decompress(std::string&) override {}
  std::string saved_path;
  std::string saved_stream;
};

struct RoutingProbe {
  RoutingProbe() { object.SetDataTransfer(&store); }
  std::string FileForm() {
    object.SaveToPath("probe.zub");
    return store.saved_stream;
  }
  RecordingStore store;
  TZelObject object;
};

}  // namespace quorvane::test

namespace quorvane::test {

// A small published class covering the property kinds the object base handles.
class TTestCard : public TZelObject {
 public:
  explicit TTestCard(TZelObject* parent = nullptr) : TZelObject(parent, StaticClass()) {
    DeclareProps();
  }
  static const ClassInfo& StaticClass();
  void DeclareProps() override;

  std::string xsNickName;
  std::string xsWeb;
  std::string xsNotes;
  std::string xsBig;
  std::int32_t xnSize = 0;
  std::uint8_t xFlag = 0;
  double xAmount = 0;
  std::unique_ptr<TStringList> xLines = std::make_unique<TStringList>();
};

inline std::unique_ptr<TZelObject> CreateTestCard() {
  return std::make_unique<TTestCard>();
}

}  // namespace quorvane::test
