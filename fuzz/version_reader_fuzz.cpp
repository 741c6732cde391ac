// Feeds arbitrary bytes to the version reader twice: as a whole PE image, and
// directly as a VS_VERSIONINFO block, so the block parser is reached without
// the fuzzer first having to build a valid PE image around it.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "util/file_version.h"
#include "util/version_resource.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  quorvane::TFileVersion version;
  quorvane::ReadVersionFromBytes(version, bytes);

  if (const auto resource = quorvane::VersionResource::Parse(bytes)) {
    const auto translation = resource->FirstTranslation();
    resource->StringValue(translation ? "040c04e4" : "040904b0", "CompanyName");
    resource->StringValue("040904b0", "FileVersion");
  }
  return 0;
}
