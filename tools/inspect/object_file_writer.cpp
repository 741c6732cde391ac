#include "inspect/object_file_writer.h"

#include "inspect/inspect.h"
#include "inspect/output_file.h"
#include "model/object_file_store.h"
#include "model/object_stream.h"
#include "model/object_text.h"
#include "model/zel_object.h"
#include "transport/bzip_block.h"
#include "util/codec.h"

namespace quorvane::inspect {

namespace {

// The object's file store for one save: the path is not mapped below the
// program folder, and the reason of a failure is kept for the message.
class PathFileStore : public ObjectFileStore {
 public:
  bool SaveObject(TZelObject& object, const std::string& path, FileSaveMode mode,
                  std::uint8_t compression_level) override {
    try {
      std::string body = ObjectToStream(object);
      char mode_byte = 'B';
      if (mode == FileSaveMode::Text) {
        body = ObjectBinaryToText(body);
        mode_byte = 'T';
      } else if (mode == FileSaveMode::Compressed) {
        body = CompressBlock(body.data(), body.size(), compression_level);
        mode_byte = 'C';
      }
      WriteOutputFile(path, {std::string_view(&mode_byte, 1), body});
      return true;
    } catch (const InspectError& error) {
      error_ = error.what();
    } catch (const std::bad_alloc&) {
      error_ = "Cannot write " + path + ": not enough memory";
    } catch (const std::exception& error) {
      error_ = "Cannot write " + path + ": " + Cp1252ToUtf8(error.what());
    }
    return false;
  }
  bool LoadObject(TZelObject&, const std::string&) override { return false; }
  void Compress(std::string& bytes, std::uint8_t level) override {
    bytes = CompressBlock(bytes.data(), bytes.size(), level);
  }
  void Decompress(std::string& bytes) override {
    bytes = DecompressBlock(bytes.data(), bytes.size());
  }

  const std::string& Error() const { return error_; }

 private:
  std::string error_;
};

}  // namespace

void WriteObjectFile(TZelObject& object, const std::string& path, char mode) {
  PathFileStore store;
  ObjectFileStore* const previous = object.DataTransfer();
  object.SetDataTransfer(&store);
  object.SetSaveMode(mode == 'T'   ? FileSaveMode::Text
                     : mode == 'B' ? FileSaveMode::Binary
                                   : FileSaveMode::Compressed);
  const bool saved = object.SaveToPath(path);
  object.SetDataTransfer(previous);
  if (!saved) throw InspectError(store.Error().empty() ? "Cannot write " + path : store.Error());
}

}  // namespace quorvane::inspect
