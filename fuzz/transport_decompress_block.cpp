// DecompressBlock over arbitrary bytes: it must return or raise EBZDecompressionError,
// never crash, spin or allocate without bound. The output limit is lowered so that a
// bzip2 bomb ends in the refusal instead of the fuzzer's memory limit.
#include <cstddef>
#include <cstdint>

#include "transport/bzip_block.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  constexpr std::int64_t kFuzzOutputLimit = 4 << 20;
  try {
    const quorvane::ByteBlock out = quorvane::DecompressBlock(data, size, kFuzzOutputLimit);
    if (static_cast<std::int64_t>(out.size()) > kFuzzOutputLimit) __builtin_trap();
  } catch (const quorvane::EBZDecompressionError&) {
  }
  return 0;
}
