#include <fstream>

#include "util/file_version.h"
#include "util/file_version_backend.h"
#include "util/pe_image.h"

namespace quorvane {
namespace {

// Reads on demand, so a large data file costs two small reads before it is
// recognised as not being a PE image.
class FileByteSource : public ByteSource {
 public:
  explicit FileByteSource(const std::string& path) : file_(path, std::ios::binary) {
    if (file_) {
      file_.seekg(0, std::ios::end);
      const std::streamoff size = file_.tellg();
      size_ = size > 0 ? static_cast<std::uint64_t>(size) : 0;
    }
  }

  bool IsOpen() const { return file_.is_open(); }

  bool Read(std::uint64_t offset, std::size_t length, std::string& out) override {
    if (!file_ || offset > size_ || length > size_ - offset) return false;
    out.resize(length);
    file_.seekg(static_cast<std::streamoff>(offset));
    file_.read(out.data(), static_cast<std::streamsize>(length));
    return static_cast<std::size_t>(file_.gcount()) == length;
  }

 private:
  std::ifstream file_;
  std::uint64_t size_ = 0;
};

}  // namespace

bool ReadVersion(TFileVersion& version, std::string_view path) {
  if (!IsRegularFile(path)) {
    version = TFileVersion{};
    return false;
  }
  FileByteSource image{std::string(path)};
  if (!image.IsOpen()) {
    version = TFileVersion{};
    return false;
  }
  return FillFromImage(version, image);
}

}  // namespace quorvane
