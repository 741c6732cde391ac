// TZelDataTransfer: the one service that compresses and decompresses object streams,
// recreates objects from received bytes and writes and reads object files
// ("T" text, "B" binary or "C" compressed, then the object stream). It keeps no
// state between calls, so one instance serves every thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "model/object_file_store.h"
#include "model/zel_object.h"
#include "transport/bzip_block.h"

namespace quorvane {

// The object files a program loads (an identification, a partner file) are
// small; a file that is, or decodes to, more than this is no such file.
inline constexpr std::int64_t kMaxObjectFileBytes = 16 * 1024 * 1024;

class TZelDataTransfer : public ObjectFileStore {
 public:
  const std::string& Name() const { return name_; }

  // Replace the bytes by their compressed block, and back (raise EBZip2Error kinds).
  void Compress(std::string& bytes, std::uint8_t level) override;
  void Decompress(std::string& bytes) override;

  // One object recreated through the class registry; null on any error.
  std::unique_ptr<TZelObject> ReadObject(const std::string& bytes) const;

  // Never raise. SaveObject writes a temporary file beside the target and renames it
  // over the target, so a failure leaves the old file as it was. LoadObject reads
  // into a fresh instance first, so a failure leaves the object as it was; a file
  // whose size or decoded size would pass kMaxObjectFileBytes is refused before
  // it is decoded, logged, and treated as absent.
  bool SaveObject(TZelObject& object, const std::string& path, FileSaveMode mode,
                  std::uint8_t compression_level) override;
  bool LoadObject(TZelObject& object, const std::string& path) override;

 private:
  std::string name_ = "DataTransfer";
};

// The native path an object file name maps to (trimmed; the part below the program
// folder in lower case), the same for saving and loading.
std::string ObjectFilePath(const std::string& path);

// The object stream held by an object file's bytes (mode byte first); raises on a
// bad mode byte, a body that does not decode, or a stream beyond max_stream
// (a compressed block's recorded length is checked before it is decoded, and
// the decoding stops at the limit whatever that length says).
std::string ObjectFileStream(const std::string& file_bytes, std::int64_t max_stream);

}  // namespace quorvane
