// Objects as the bytes that go on the wire: an object frame, preceded by its
// "HeaderInfo" announcement when the payload is 5,000 bytes or more, and the
// frames of one package file as a TSOFile. Pure functions, safe from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue.h"

namespace quorvane {
class TZelObject;
}

namespace quorvane::server {

// Payloads from this size on are announced by a "HeaderInfo" answer first.
inline constexpr std::size_t kAnnouncedPayload = 5000;

// The frames of `object`: compressed at `level` (1 to 9) when that makes the
// payload smaller, plain ('N') at level 0 or when it would not shrink.
// `compressed`, when given, tells which was chosen.
std::string ObjectFrames(const TZelObject& object, int level, bool* compressed = nullptr);

// An answer with the control word and the item lines, sent plain.
std::string AnswerFrames(std::string_view what, const std::vector<std::string>& items);

// Whether bzip2 is worth running on `data`: a sample from its middle must
// shrink by at least 3 %. Already compressed formats do not.
bool WorthCompressing(std::string_view data);

// One package file as a TSOFile, before its payload is compressed.
struct FileObject {
  std::shared_ptr<const std::string> stream;  // the object stream
  std::string announcement;                   // its "HeaderInfo" block
  bool worth_compressing = false;
};

// The TSOFile of a package file whose contents are `data`; `between` runs
// before each few MiB of the contents are copied into the stream and may throw
// to give up.
FileObject SerializeFile(const PackageFile& file, std::string data,
                         std::function<void()> between = {});

// The frames of `object` around `payload`: its stream, or `compressed` that
// stream as a block when that is smaller.
std::string FileFrames(const FileObject& object, const std::string* compressed);

}  // namespace quorvane::server
