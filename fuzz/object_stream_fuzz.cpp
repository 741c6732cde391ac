// The binary object stream reader over arbitrary bytes, with every registered
// class. Whatever it accepts must write back to a stream that reads and writes
// again to the same bytes.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "model/object_stream.h"
#include "model/stream_errors.h"
#include "model/zel_object.h"
#include "objects/register_classes.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool registered = (quorvane::RegisterClasses(), true);
  (void)registered;
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::unique_ptr<quorvane::TZelObject> object;
  try {
    object = quorvane::ObjectFromStream(input);
  } catch (const quorvane::EReadError&) {
    return 0;
  }
  const std::string written = quorvane::ObjectToStream(*object);
  const std::string again = quorvane::ObjectToStream(*quorvane::ObjectFromStream(written));
  if (again != written) std::abort();
  return 0;
}
