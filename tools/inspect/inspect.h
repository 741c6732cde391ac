// quorvane-inspect: shows and converts object files, bare object streams, their
// text renderings and frame files, for support engineers and tests. The form of
// an input is recognised from its first bytes; inputs are mapped, not copied,
// and an object is read once. Every failure is an InspectError whose message
// (UTF-8) says what failed, on which file and why; the reader's own French
// texts are kept, followed by the file and the offset where known.
// Single-threaded.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "transport/bzip_block.h"

namespace quorvane {
class TZelObject;
}

namespace quorvane::inspect {

class InspectError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class InputForm { BareStream, TextRendering, ObjectFile, FrameFile };

// Looks at the first bytes only (leading blanks of a text rendering included,
// up to a bound), so a large file of another kind is never read whole.
InputForm DetectForm(std::string_view bytes);

// The bare object stream held by an input that is not a frame file. It points
// into the input for a bare stream or a binary object file, and owns the bytes
// it decoded for the other forms.
struct ObjectStream {
  std::string_view Bytes() const { return decoded_from != nullptr ? owned : view; }
  // Where an offset of the stream lies in the file, for messages.
  std::string Where(const std::string& file, std::size_t offset) const;

  std::string_view view;               // into the input, when not decoded
  std::string owned;                   // the decoded bytes
  std::size_t file_offset = 0;         // of the view's first byte in the file
  const char* decoded_from = nullptr;  // "compressed block" or "text"; null when not decoded
};

// The decoded object stream `text` shows unless --max-size gives another bound:
// the rendering of a larger one would take minutes and gigabytes.
inline constexpr std::int64_t kDefaultTextLimit = 16 * 1024 * 1024;

// file is the name used in messages. A stream that is, or decodes to, more than
// max_stream bytes is refused (a compressed block stops decoding there).
ObjectStream ObjectStreamOf(std::string_view input, const std::string& file,
                            std::int64_t max_stream = kMaxBlockOutput);

// A new instance of the input's registered class, read from it. An unknown
// class is refused here, for every command alike.
std::unique_ptr<TZelObject> ReadObject(std::string_view input, const std::string& file);

// What `quorvane-inspect text` prints: the text rendering of the object, preceded
// for a frame file by its header fields (Windows-1252).
std::string TextOf(std::string_view input, const std::string& file,
                   std::int64_t max_stream = kDefaultTextLimit);

// Writes the object to out_path (relative to the current folder, in an existing
// folder): as a bare object stream when mode is empty, else as an object file of
// mode 'T', 'B' or 'C'. The object is released once it has been written out.
void WriteObject(std::unique_ptr<TZelObject> object, const std::string& out_path,
                 std::optional<char> mode);

// ReadObject then WriteObject.
void Convert(std::string_view input, const std::string& file, const std::string& out_path,
             std::optional<char> mode);

// The command line: returns the exit status.
int Main(int argc, char** argv);

}  // namespace quorvane::inspect
