#include "model_test_support.h"

#include "model/object_stream.h"

namespace quorvane::test {

bool RecordingStore::SaveObject(TZelObject& object, const std::string& path, FileSaveMode,
                                std::uint8_t) {
  saved_path = path;
  saved_stream = ObjectToStream(object);
  return true;
}

}  // namespace quorvane::test
