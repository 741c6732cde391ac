// Binary -> text on arbitrary bytes. A stream that renders must read back; the
// stream read back (the input with its encodings made the smallest) must render
// to the same text and read back to identical bytes; anything else aborts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "model/object_text.h"
#include "model/stream_errors.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view binary(reinterpret_cast<const char*>(data), size);
  std::string text;
  try {
    text = quorvane::ObjectBinaryToText(binary);
  } catch (const quorvane::EReadError&) {
    return 0;
  }
  const std::string normal = quorvane::ObjectTextToBinary(text);
  if (quorvane::ObjectBinaryToText(normal) != text) std::abort();
  if (quorvane::ObjectTextToBinary(text) != normal) std::abort();
  // The normal form differs from the input only where the input used a wider
  // encoding than needed, which never makes it longer.
  if (normal.size() > binary.size()) std::abort();
  return 0;
}
