#include "util/file_version.h"

#include <filesystem>
#include <fstream>

#include "util/pe_image.h"
#include "util/text.h"
#include "util/version_resource.h"

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

std::string Number(std::uint32_t value) {
  return std::to_string(value);
}

bool Fill(TFileVersion& version, ByteSource& image) {
  version = TFileVersion{};
  const auto data = FindVersionResource(image);
  const auto resource = data ? VersionResource::Parse(*data) : std::nullopt;
  if (!resource) return false;
  version.Valid = true;

  if (const auto translation = resource->FirstTranslation()) {
    char table[9];
    static constexpr char kHex[] = "0123456789abcdef";
    for (int i = 0; i < 8; ++i)
      table[i] = kHex[(*translation >> (28 - 4 * i)) & 0x0F];
    table[8] = '\0';
    const std::pair<const char*, std::string*> fields[] = {
        {"CompanyName", &version.CompanyName},
        {"FileDescription", &version.FileDescription},
        {"FileVersion", &version.FileVersion},
        {"InternalName", &version.InternalName},
        {"OriginalFilename", &version.OriginalFilename},
        {"ProductName", &version.ProductName},
        {"ProductVersion", &version.ProductVersion},
        {"LegalCopyright", &version.LegalCopyright},
        {"LegalTrademarks", &version.LegalTrademarks},
        {"Comments", &version.Comments},
        {"PrivateBuild", &version.PrivateBuild},
        {"SpecialBuild", &version.SpecialBuild},
    };
    for (const auto& [name, field] : fields)
      *field = resource->StringValue(table, name).value_or(std::string());
  }

  if (resource->HasFixedInfo()) {
    const std::uint32_t high = resource->FileVersionMs();
    const std::uint32_t low = resource->FileVersionLs();
    version.ShortVersion = Number(high >> 16) + "." + Number(high & 0xFFFF);
    version.FullVersion =
        version.ShortVersion + "." + Number(low >> 16) + "." + Number(low & 0xFFFF);
  }
  return true;
}

bool IsRegularFile(std::string_view path) {
  std::error_code error;
  return std::filesystem::is_regular_file(std::filesystem::path(std::string(path)), error);
}

}  // namespace

bool ReadVersion(TFileVersion& version, std::string_view path) {
  // A fifo or a device would block or never end; only plain files are read.
  if (!IsRegularFile(path)) {
    version = TFileVersion{};
    return false;
  }
  FileByteSource image{std::string(path)};
  if (!image.IsOpen()) {
    version = TFileVersion{};
    return false;
  }
  return Fill(version, image);
}

bool ReadVersionFromBytes(TFileVersion& version, std::string_view bytes) {
  MemoryByteSource image(bytes);
  return Fill(version, image);
}

std::string FileVersionText(std::string_view path) {
  if (!IsRegularFile(path)) return "NE";
  TFileVersion version;
  ReadVersion(version, path);
  return Trim(version.FullVersion).empty() ? "NF" : version.FullVersion;
}

}  // namespace quorvane
