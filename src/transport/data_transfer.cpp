#include "transport/data_transfer.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "model/class_registry.h"
#include "model/object_stream.h"
#include "model/object_text.h"
#include "model/stream_errors.h"
#include "transport/exception_text.h"
#include "transport/frame.h"
#include "util/atomic_file.h"
#include "util/diagnostic_log.h"
#include "util/program_folder.h"
#include "util/text.h"

namespace quorvane {
namespace {

constexpr char kModeText = 'T';
constexpr char kModeBinary = 'B';
constexpr char kModeCompressed = 'C';

char ModeByte(FileSaveMode mode) {
  switch (mode) {
    case FileSaveMode::Text:
      return kModeText;
    case FileSaveMode::Binary:
      return kModeBinary;
    case FileSaveMode::Compressed:
      return kModeCompressed;
  }
  throw std::invalid_argument("save mode");
}

}  // namespace

std::string ObjectFilePath(const std::string& path) {
  return NativePath(Trim(path));
}

std::string ObjectFileStream(const std::string& file_bytes, std::int64_t max_stream) {
  if (file_bytes.size() < 2) throw EReadError(kStreamReadError);
  // The body is used in place: no copy of a large file beside its decoded form.
  const std::string_view body = std::string_view(file_bytes).substr(1);
  const auto refuse_beyond = [max_stream](std::int64_t size) {
    if (size > max_stream) throw EBZDecompressionError(kBlockTooLarge);
  };
  switch (file_bytes[0]) {
    case kModeText:
      // A text rendering is longer than the stream it stands for.
      refuse_beyond(static_cast<std::int64_t>(body.size()));
      return ObjectTextToBinary(body);
    case kModeBinary:
      refuse_beyond(static_cast<std::int64_t>(body.size()));
      return std::string(body);
    case kModeCompressed:
      // A recorded length beyond the limit is refused before decoding; one that
      // lies is caught when the output reaches the limit.
      return DecompressBlock(body.data(), body.size(), max_stream);
    default:
      throw EReadError(kStreamFormatError);
  }
}

void TZelDataTransfer::Compress(std::string& bytes, std::uint8_t level) {
  bytes = CompressBlock(bytes.data(), bytes.size(), level);
}

void TZelDataTransfer::Decompress(std::string& bytes) {
  bytes = DecompressBlock(bytes.data(), bytes.size());
}

std::unique_ptr<TZelObject> TZelDataTransfer::ReadObject(const std::string& bytes) const {
  try {
    return ObjectFromStream(bytes);
  } catch (...) {
    DiagnosticLog("transport", "no object read from " + std::to_string(bytes.size()) +
                                   " bytes: " + ExceptionText());
    return nullptr;
  }
}

bool TZelDataTransfer::SaveObject(TZelObject& object, const std::string& path, FileSaveMode mode,
                                  std::uint8_t compression_level) {
  try {
    if (Trim(path).empty()) return false;
    const std::string target = ObjectFilePath(path);
    const char mode_byte = ModeByte(mode);
    std::string body = ObjectToStream(object);
    if (mode == FileSaveMode::Text)
      body = ObjectBinaryToText(body);
    else if (mode == FileSaveMode::Compressed)
      body = CompressBlock(body.data(), body.size(), compression_level);
    // The same durable replacement as every other file: flushed, renamed, folder flushed.
    const Status saved = WriteFileAtomicallyWith(target, [&](std::FILE* file) {
      return std::fputc(mode_byte, file) != EOF &&
             (body.empty() || std::fwrite(body.data(), 1, body.size(), file) == body.size());
    });
    if (!saved.ok()) DiagnosticLog("transport", "object file not saved: " + saved.ToString());
    return saved.ok();
  } catch (...) {
    DiagnosticLog("transport", "object file " + path + " not saved: " + ExceptionText());
    return false;
  }
}

bool TZelDataTransfer::LoadObject(TZelObject& object, const std::string& path) {
  try {
    if (Trim(path).empty()) return false;
    const std::string native = ObjectFilePath(path);
    if (!std::filesystem::is_regular_file(native)) return false;
    const std::uintmax_t size = std::filesystem::file_size(native);
    if (size > static_cast<std::uintmax_t>(kMaxObjectFileBytes)) {
      DiagnosticLog("transport", "object file " + NativePathText(native) + " not loaded: its " +
                                     std::to_string(size) +
                                     " bytes are more than an object file holds");
      return false;
    }
    std::ifstream in(native, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) return false;
    std::string stream;
    try {
      stream = ObjectFileStream(bytes, kMaxObjectFileBytes);
    } catch (const EBZip2Error& error) {
      DiagnosticLog("transport", "object file " + NativePathText(native) +
                                     " not loaded: its object stream " + "would pass " +
                                     std::to_string(kMaxObjectFileBytes) +
                                     " bytes or does not decode (" + error.what() + ")");
      return false;
    }
    // Read into a fresh instance first: a stream that fails half way must not
    // leave the object half changed. Without a registered class there is nothing
    // to read into first, so the load is refused rather than risked.
    const RegisteredClass* registered = FindClass(object.ClassName());
    if (registered == nullptr || registered->create == nullptr) {
      DiagnosticLog("transport", "object file " + NativePathText(native) + " not loaded: class " +
                                     object.ClassName() + " is not registered");
      return false;
    }
    ObjectReader(stream).ReadRootInto(*registered->create());
    ObjectReader(stream).ReadRootInto(object);
    return true;
  } catch (...) {
    DiagnosticLog("transport", "object file " + path + " not loaded: " + ExceptionText());
    return false;
  }
}

}  // namespace quorvane
