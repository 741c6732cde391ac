// The object base saves and loads its files through the data-transfer object,
// which lives in a higher layer (it compresses with bzip2). That object
// implements this interface and is handed down object trees as a link.
#pragma once

#include <cstdint>
#include <string>

namespace quorvane {

class TZelObject;

// File save modes: the one-byte mode that starts an object file.
enum class FileSaveMode : std::uint8_t { Text = 0, Binary = 1, Compressed = 2 };

class ObjectFileStore {
 public:
  virtual ~ObjectFileStore() = default;
  // Writes the object as an object file at path (missing folders are created).
  virtual bool SaveObject(TZelObject& object, const std::string& path, FileSaveMode mode,
                          std::uint8_t compression_level) = 0;
  // Reads the object file at path into the object; false leaves it unchanged.
  virtual bool LoadObject(TZelObject& object, const std::string& path) = 0;
  // Compresses an object stream in place into the compressed block format, and back.
  virtual void Compress(std::string& bytes, std::uint8_t level) = 0;
  virtual void Decompress(std::string& bytes) = 0;
};

}  // namespace quorvane
