#include "objects_test_support.h"

#include <stdlib.h>

#include <algorithm>
#include <filesystem>

#include "model/object_stream.h"
#include "objects/register_classes.h"
#include "util/program_folder.h"

namespace quorvane::test {

namespace fs = std::filesystem;

std::string StreamName(const std::string& name) {
  return std::string(1, static_cast<char>(name.size())) + name;
}

void ObjectsTest::SetUp() {
  std::string pattern = (fs::temp_directory_path() / "QuorvaneObjects.XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  folder_ = pattern + "/";
  SetProgramFolder(folder_);
  setenv("QUORVANE_SETTINGS", (pattern + "/settings.toml").c_str(), 1);
  RegisterClasses();
}

void ObjectsTest::TearDown() {
  std::error_code error;
  fs::permissions(folder_, fs::perms::owner_all, fs::perm_options::add, error);
  fs::remove_all(folder_, error);
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
