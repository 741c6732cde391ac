#include "inspect/inspect.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "model/object_stream.h"
#include "model/object_text.h"
#include "model/zel_object.h"
#include "objects/register_classes.h"
#include "transport/data_transfer.h"
#include "transport/frame_description.h"
#include "transport/frame_format.h"
#include "util/atomic_file.h"
#include "util/codec.h"

namespace quorvane::inspect {
namespace {

bool StartsWithWord(std::string_view bytes, std::string_view word) {
  std::size_t i = 0;
  while (i < bytes.size() && static_cast<unsigned char>(bytes[i]) <= ' ')
    ++i;
  return bytes.substr(i, word.size()) == word &&
         (i + word.size() == bytes.size() ||
          static_cast<unsigned char>(bytes[i + word.size()]) <= ' ');
}

bool IsTextRendering(std::string_view bytes) {
  return StartsWithWord(bytes, "object") || StartsWithWord(bytes, "inherited") ||
         StartsWithWord(bytes, "inline");
}

}  // namespace

InputForm DetectForm(std::string_view bytes) {
  if (bytes.substr(0, kStreamSignature.size()) == kStreamSignature) return InputForm::BareStream;
  if (bytes.substr(0, FrameStartMarker().size()) == FrameStartMarker()) return InputForm::FrameFile;
  if (IsTextRendering(bytes)) return InputForm::TextRendering;
  return InputForm::ObjectFile;
}

std::string ObjectStreamOf(std::string_view bytes) {
  switch (DetectForm(bytes)) {
    case InputForm::BareStream:
      return std::string(bytes);
    case InputForm::TextRendering:
      return ObjectTextToBinary(bytes);
    case InputForm::ObjectFile:
      return ObjectFileStream(std::string(bytes));
    case InputForm::FrameFile:
      break;
  }
  throw std::runtime_error("A frame file holds no object file");
}

std::string TextOf(std::string_view bytes) {
  if (DetectForm(bytes) == InputForm::FrameFile) return DescribeFrame(bytes);
  return ObjectBinaryToText(ObjectStreamOf(bytes));
}

void Convert(std::string_view input, const std::string& out_path, std::optional<char> mode) {
  std::unique_ptr<TZelObject> object = ObjectFromStream(ObjectStreamOf(input));
  if (!mode) {
    if (!WriteFileAtomically(out_path, ObjectToStream(*object)))
      throw std::runtime_error("Cannot write " + out_path);
    return;
  }
  TZelDataTransfer transfer;
  object->SetDataTransfer(&transfer);
  object->SetSaveMode(*mode == 'T'   ? FileSaveMode::Text
                      : *mode == 'B' ? FileSaveMode::Binary
                                     : FileSaveMode::Compressed);
  if (!object->SaveToPath(out_path)) throw std::runtime_error("Cannot write " + out_path);
}

namespace {

int Usage() {
  std::fputs(
      "usage: quorvane-inspect text FILE\n"
      "       quorvane-inspect convert [--raw | --mode T|B|C] IN OUT\n",
      stderr);
  return 1;
}

std::string ReadInput(const std::string& path) {
  auto bytes = ReadWholeFile(path);
  if (!bytes) throw std::runtime_error("Cannot read " + path);
  return *bytes;
}

}  // namespace

int Main(int argc, char** argv) {
  RegisterClasses();
  try {
    if (argc == 3 && std::strcmp(argv[1], "text") == 0) {
      const std::string text = Cp1252ToUtf8(TextOf(ReadInput(argv[2])));
      std::fwrite(text.data(), 1, text.size(), stdout);
      return 0;
    }
    if (argc >= 4 && std::strcmp(argv[1], "convert") == 0) {
      std::optional<char> mode;
      int next = 2;
      if (std::strcmp(argv[next], "--raw") == 0) {
        ++next;
      } else if (std::strcmp(argv[next], "--mode") == 0 && argc == 6) {
        const std::string_view m = argv[next + 1];
        if (m != "T" && m != "B" && m != "C") return Usage();
        mode = m[0];
        next += 2;
      }
      if (argc != next + 2) return Usage();
      Convert(ReadInput(argv[next]), argv[next + 1], mode);
      return 0;
    }
  } catch (const std::exception& error) {
    const std::string message = Cp1252ToUtf8(error.what());
    std::fprintf(stderr, "%s\n", message.c_str());
    return 1;
  }
  return Usage();
}

}  // namespace quorvane::inspect
