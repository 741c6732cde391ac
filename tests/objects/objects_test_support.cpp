#include "objects_test_support.h"

#include <algorithm>
#include <filesystem>

#include "model/object_stream.h"
#include "objects/register_classes.h"
#include "util/program_folder.h"

namespace quorvane::test {

std::string StreamName(const std::string& name) {
  return std::string(1, static_cast<char>(name.size())) + name;
}

// Capitals in the folder's name show a case mapping that reaches above it.
void ObjectsTest::SetUp() {
  scope_.emplace("QuorvaneObjects");
  folder_ = scope_->folder();
  RegisterClasses();
}

void ObjectsTest::TearDown() {
  scope_.reset();
}

bool RecordingStore::SaveObject(TZelObject& object, const std::string&, FileSaveMode,
                                std::uint8_t) {
  saved_stream = ObjectToStream(object);
  return true;
}

void RecordingStore::Compress(std::string& bytes, std::uint8_t level) {
  ++compress_calls;
  last_level = level;
  std::reverse(bytes.begin(), bytes.end());
}

void RecordingStore::Decompress(std::string& bytes) {
  ++decompress_calls;
  std::reverse(bytes.begin(), bytes.end());
}

std::string FileForm(TZelObject& object) {
  RecordingStore store;
  object.SetDataTransfer(&store);
  object.SaveToPath(TZelObject::BaseFolder() + "probe.zub");
  object.SetDataTransfer(nullptr);
  return store.saved_stream;
}

}  // namespace quorvane::test
