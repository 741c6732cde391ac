// Text -> binary on arbitrary input. A text that reads must render back to a text
// that reads to the very same bytes; anything else aborts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "model/object_text.h"
#include "model/stream_errors.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string binary;
  try {
    binary = quorvane::ObjectTextToBinary(text);
  } catch (const quorvane::EParserError&) {
    return 0;
  } catch (const quorvane::EReadError&) {
    return 0;
  }
  // Whatever the reader produced must render and read back unchanged; an
  // exception here is a finding as well.
  const std::string rendered = quorvane::ObjectBinaryToText(binary);
  if (quorvane::ObjectTextToBinary(rendered) != binary) std::abort();
  return 0;
}
