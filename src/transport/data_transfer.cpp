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
#include "transport/frame.h"
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

bool WriteWhole(const std::filesystem::path& path, char mode, const std::string& body) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  bool ok = std::fputc(mode, file) != EOF;
  ok = ok && (body.empty() || std::fwrite(body.data(), 1, body.size(), file) == body.size());
  ok = ok && std::fflush(file) == 0;
  return std::fclose(file) == 0 && ok;
}

}  // namespace

std::string ObjectFilePath(const std::string& path) {
  return NativePath(Trim(path));
}

std::string ObjectFileStream(const std::string& file_bytes) {
  if (file_bytes.size() < 2) throw EReadError(kStreamReadError);
  const std::string body = file_bytes.substr(1);
  switch (file_bytes[0]) {
    case kModeText:
      return ObjectTextToBinary(body);
    case kModeBinary:
      return body;
    case kModeCompressed:
      return DecompressBlock(body.data(), body.size());
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
    return nullptr;
  }
}

bool TZelDataTransfer::SaveObject(TZelObject& object, const std::string& path, FileSaveMode mode,
                                  std::uint8_t compression_level) {
  std::filesystem::path temporary;
  try {
    if (Trim(path).empty()) return false;
    const std::filesystem::path target(ObjectFilePath(path));
    if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path());
    const char mode_byte = ModeByte(mode);
    std::string body = ObjectToStream(object);
    if (mode == FileSaveMode::Text)
      body = ObjectBinaryToText(body);
    else if (mode == FileSaveMode::Compressed)
      body = CompressBlock(body.data(), body.size(), compression_level);
    temporary = target;
    temporary += "." + FreshToken() + ".tmp";
    if (!WriteWhole(temporary, mode_byte, body)) {
      std::filesystem::remove(temporary);
      return false;
    }
    std::filesystem::rename(temporary, target);
    return true;
  } catch (...) {
    std::error_code ignored;
    if (!temporary.empty()) std::filesystem::remove(temporary, ignored);
    return false;
  }
}

bool TZelDataTransfer::LoadObject(TZelObject& object, const std::string& path) {
  try {
    if (Trim(path).empty()) return false;
    const std::string native = ObjectFilePath(path);
    if (!std::filesystem::is_regular_file(native)) return false;
    std::ifstream in(native, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) return false;
    const std::string stream = ObjectFileStream(bytes);
    // Read into a fresh instance first: a stream that fails half way must not
    // leave the object half changed.
    if (const RegisteredClass* registered = FindClass(object.ClassName());
        registered != nullptr && registered->create != nullptr) {
      std::unique_ptr<TZelObject> fresh = registered->create();
      ObjectReader(stream).ReadRootInto(*fresh);
    } else {
      ObjectBinaryToText(stream);  // at least the whole stream is well-formed
    }
    ObjectReader(stream).ReadRootInto(object);
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace quorvane
