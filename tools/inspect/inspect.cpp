#include "inspect/inspect.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <utility>

#include "inspect/block_peek.h"
#include "inspect/input_file.h"
#include "inspect/object_file_writer.h"
#include "inspect/output_file.h"
#include "model/object_stream.h"
#include "model/object_text.h"
#include "model/stream_errors.h"
#include "model/zel_object.h"
#include "objects/register_classes.h"
#include "transport/bzip_block.h"
#include "transport/frame_description.h"
#include "transport/frame_format.h"
#include "util/codec.h"

namespace quorvane::inspect {
namespace {

// A text rendering may start with blank lines; more blanks than this are not one.
constexpr std::size_t kMaxLeadingBlanks = 4096;
// How much of a compressed block is decoded to judge it before it is decoded whole.
constexpr std::size_t kPeekBytes = 4096;

bool StartsWithWord(std::string_view bytes, std::string_view word) {
  std::size_t i = 0;
  while (i < bytes.size() && i < kMaxLeadingBlanks && static_cast<unsigned char>(bytes[i]) <= ' ')
    ++i;
  return bytes.substr(i, word.size()) == word &&
         (i + word.size() == bytes.size() ||
          static_cast<unsigned char>(bytes[i + word.size()]) <= ' ');
}

bool IsTextRendering(std::string_view bytes) {
  return StartsWithWord(bytes, "object") || StartsWithWord(bytes, "inherited") ||
         StartsWithWord(bytes, "inline");
}

// The reader's messages are Windows-1252; ours are UTF-8.
std::string Reason(const std::exception& error) {
  return Cp1252ToUtf8(error.what());
}

// Where a read failed: the start of the item being read, the stream's start for
// a wrong signature.
std::size_t FailureOffset(const std::exception& error, const ObjectReader& reader) {
  if (error.what() == kStreamFormatError && reader.Position() <= kStreamSignature.size()) return 0;
  return reader.Position();
}

// Refuses a stream whose first bytes already show it is no object of a
// registered class. Running out of bytes is expected: only a prefix is given.
void CheckStreamStart(std::string_view prefix, bool whole, const ObjectStream& stream,
                      const std::string& file) {
  if (!whole && prefix.size() < kStreamSignature.size()) return;
  ObjectReader reader(prefix);
  try {
    reader.ReadRootObject();
  } catch (const EReadError& error) {
    if (!whole && error.what() == kStreamReadError) return;
    throw InspectError(Reason(error) + ": " + stream.Where(file, FailureOffset(error, reader)));
  } catch (const std::exception&) {
    // Anything else is judged when the whole stream is read.
  }
}

std::string DecompressionReason(const EBZip2Error& error) {
  const std::string code = error.what();  // "error -101"
  auto is = [&](int value) { return code == "error " + std::to_string(value); };
  std::string why;
  if (is(kBlockTooShort))
    why = "the compressed block is shorter than its 4-byte length";
  else if (is(kBlockTruncated))
    why = "the bzip2 stream is cut short";
  else if (is(kBlockTooLarge))
    why = "the block decompresses to more than it may (text: see --max-size)";
  else if (is(-4))
    why = "the bzip2 data is damaged";
  else if (is(-5))
    why = "not a bzip2 stream";
  else if (is(-3))
    why = "not enough memory";
  else
    why = "the bzip2 library failed";
  return why + " (" + code + ")";
}

ObjectStream DecodeCompressed(std::string_view block, const std::string& file,
                              std::int64_t max_stream, ObjectStream s) {
  const auto fail = [&](const std::string& why) -> InspectError {
    return InspectError("Cannot decompress " + file + ": " + why);
  };
  try {
    if (block.size() >= 2 && block[0] == 'B' && block[1] == 'Z') {
      const BlockPeek peek = PeekCompressedBlock(block, kPeekBytes);
      if (!peek.error.empty()) throw fail(peek.error);
      CheckStreamStart(peek.bytes, peek.whole, s, file);
    } else if (block.size() >= 4) {
      // A stored block: the stream itself, judged before it is copied.
      CheckStreamStart(block.substr(0, kPeekBytes), block.size() <= kPeekBytes, s, file);
    }
    s.owned = DecompressBlock(block.data(), block.size(), max_stream);
  } catch (const EBZip2Error& error) {
    throw fail(DecompressionReason(error));
  } catch (const std::bad_alloc&) {
    throw fail("not enough memory");
  }
  return s;
}

ObjectStream DecodeText(std::string_view text, const std::string& file, ObjectStream s) {
  try {
    s.owned = ObjectTextToBinary(text);
  } catch (const std::exception& error) {
    throw InspectError(Reason(error) + ": " + file);
  }
  return s;
}

}  // namespace

std::string ObjectStream::Where(const std::string& file, std::size_t offset) const {
  if (decoded_from == nullptr) return file + ", offset " + std::to_string(file_offset + offset);
  return file + ", offset " + std::to_string(offset) + " of the stream decoded from its " +
         decoded_from;
}

InputForm DetectForm(std::string_view bytes) {
  if (bytes.substr(0, kStreamSignature.size()) == kStreamSignature) return InputForm::BareStream;
  if (bytes.substr(0, FrameStartMarker().size()) == FrameStartMarker()) return InputForm::FrameFile;
  if (IsTextRendering(bytes)) return InputForm::TextRendering;
  return InputForm::ObjectFile;
}

ObjectStream ObjectStreamOf(std::string_view input, const std::string& file,
                            std::int64_t max_stream) {
  const auto bounded = [&](ObjectStream s) {
    if (static_cast<std::int64_t>(s.Bytes().size()) > max_stream)
      throw InspectError("Cannot show " + file + ": its object stream has " +
                         std::to_string(s.Bytes().size()) + " bytes, more than the " +
                         std::to_string(max_stream) + " that --max-size allows");
    return s;
  };
  ObjectStream s;
  switch (DetectForm(input)) {
    case InputForm::BareStream:
      s.view = input;
      return bounded(std::move(s));
    case InputForm::TextRendering:
      s.decoded_from = "text";
      return bounded(DecodeText(input, file, std::move(s)));
    case InputForm::FrameFile:
      throw InspectError("Cannot convert " + file +
                         ": a frame file holds no object file (text shows it)");
    case InputForm::ObjectFile:
      break;
  }
  if (input.empty()) throw InspectError(Cp1252ToUtf8(kStreamReadError) + ": " + file + " is empty");
  const std::string_view body = input.substr(1);
  switch (input[0]) {
    case 'B':
      s.view = body;
      s.file_offset = 1;
      return bounded(std::move(s));
    case 'T':
      s.decoded_from = "text";
      return bounded(DecodeText(body, file, std::move(s)));
    case 'C':
      s.decoded_from = "compressed block";
      return DecodeCompressed(body, file, max_stream, std::move(s));
    default:
      throw InspectError(Cp1252ToUtf8(kStreamFormatError) + ": " + file +
                         " is no object file (mode byte T, B or C), object stream, text "
                         "rendering or frame file");
  }
}

std::unique_ptr<TZelObject> ReadObject(std::string_view input, const std::string& file) {
  const ObjectStream stream = ObjectStreamOf(input, file);
  ObjectReader reader(stream.Bytes());
  try {
    return reader.ReadRootObject();
  } catch (const std::bad_alloc&) {
    throw InspectError("Cannot read the object in " + stream.Where(file, reader.Position()) +
                       ": not enough memory");
  } catch (const std::exception& error) {
    throw InspectError(Reason(error) + ": " + stream.Where(file, FailureOffset(error, reader)));
  }
}

std::string TextOf(std::string_view input, const std::string& file, std::int64_t max_stream) {
  if (DetectForm(input) == InputForm::FrameFile) return DescribeFrame(input);
  const ObjectStream stream = ObjectStreamOf(input, file, max_stream);
  {
    // The same refusals as convert: an unknown class is not shown as if it were one.
    ObjectReader reader(stream.Bytes());
    try {
      reader.ReadRootObject();
    } catch (const std::exception& error) {
      throw InspectError(Reason(error) + ": " + stream.Where(file, FailureOffset(error, reader)));
    }
  }
  try {
    return ObjectBinaryToText(stream.Bytes());
  } catch (const std::exception& error) {
    throw InspectError(Reason(error) + ": " + file);
  }
}

void WriteObject(std::unique_ptr<TZelObject> object, const std::string& out_path,
                 std::optional<char> mode) {
  CheckOutputPath(out_path);
  if (!mode) {
    std::string bytes = ObjectToStream(*object);
    object.reset();
    WriteOutputFile(out_path, {bytes});
    return;
  }
  WriteObjectFile(*object, out_path, *mode);
}

void Convert(std::string_view input, const std::string& file, const std::string& out_path,
             std::optional<char> mode) {
  WriteObject(ReadObject(input, file), out_path, mode);
}

namespace {

constexpr const char* kUsage =
    "usage: quorvane-inspect text [--max-size BYTES] FILE\n"
    "       quorvane-inspect convert [--raw | --mode T|B|C] IN OUT\n"
    "Paths are relative to the current folder; OUT's folder must exist.\n";

int Usage() {
  std::fputs(kUsage, stderr);
  return 1;
}

void WriteStandardOutput(std::string_view text) {
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0)
    throw InspectError(std::string("Cannot write the standard output: ") + std::strerror(errno));
}

int Text(const std::string& path, std::int64_t max_stream) {
  std::string text;
  {
    InputFile input(path);
    text = TextOf(input.Bytes(), path, max_stream);
  }
  // Converted piece by piece (one byte is one character in Windows-1252), so a
  // large rendering is not held twice.
  constexpr std::size_t kPiece = 1 << 20;
  for (std::size_t at = 0; at < text.size(); at += kPiece)
    WriteStandardOutput(Cp1252ToUtf8(std::string_view(text).substr(at, kPiece)));
  return 0;
}

int ConvertCommand(const std::string& in_path, const std::string& out_path,
                   std::optional<char> mode) {
  CheckOutputPath(out_path);  // before any reading
  InputFile input(in_path);
  std::unique_ptr<TZelObject> object = ReadObject(input.Bytes(), in_path);
  input.Release();
  WriteObject(std::move(object), out_path, mode);
  return 0;
}

}  // namespace

int Main(int argc, char** argv) {
  RegisterClasses();
  try {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
      WriteStandardOutput(kUsage);
      return 0;
    }
    if (argc == 3 && std::strcmp(argv[1], "text") == 0) return Text(argv[2], kDefaultTextLimit);
    if (argc == 5 && std::strcmp(argv[1], "text") == 0 && std::strcmp(argv[2], "--max-size") == 0) {
      const std::string_view size = argv[3];
      std::int64_t limit = 0;
      const auto [end, error] = std::from_chars(size.data(), size.data() + size.size(), limit);
      if (error != std::errc() || end != size.data() + size.size() || limit <= 0) return Usage();
      return Text(argv[4], limit);
    }
    if (argc >= 4 && std::strcmp(argv[1], "convert") == 0) {
      std::optional<char> mode;
      int next = 2;
      if (std::strcmp(argv[next], "--raw") == 0) {
        ++next;
      } else if (std::strcmp(argv[next], "--mode") == 0) {
        if (argc != 6) return Usage();
        const std::string_view m = argv[next + 1];
        if (m != "T" && m != "B" && m != "C") return Usage();
        mode = m[0];
        next += 2;
      }
      if (argc != next + 2) return Usage();
      return ConvertCommand(argv[next], argv[next + 1], mode);
    }
  } catch (const InspectError& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", Reason(error).c_str());
    return 1;
  }
  return Usage();
}

}  // namespace quorvane::inspect
