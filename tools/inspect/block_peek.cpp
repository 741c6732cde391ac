#include "inspect/block_peek.h"

#include <bzlib.h>

#include <algorithm>
#include <climits>

namespace quorvane::inspect {

BlockPeek PeekCompressedBlock(std::string_view block, std::size_t count) {
  BlockPeek peek;
  if (block.size() < 4) {
    peek.error = "the compressed block is shorter than its 4-byte length";
    return peek;
  }
  bz_stream stream{};
  if (BZ2_bzDecompressInit(&stream, 0, 0) != BZ_OK) {
    peek.error = "the bzip2 library failed to start";
    return peek;
  }
  peek.bytes.resize(count);
  const std::string_view input = block.substr(0, block.size() - 4);
  stream.next_in = const_cast<char*>(input.data());
  stream.avail_in = static_cast<unsigned>(std::min<std::size_t>(input.size(), UINT_MAX));
  stream.next_out = peek.bytes.data();
  stream.avail_out = static_cast<unsigned>(count);
  int rc = BZ_OK;
  // Each call either consumes input or fills output; stop when either runs out.
  while (rc == BZ_OK && stream.avail_out > 0 && stream.avail_in > 0)
    rc = BZ2_bzDecompress(&stream);
  const std::size_t produced = count - stream.avail_out;
  BZ2_bzDecompressEnd(&stream);
  peek.bytes.resize(produced);
  if (rc == BZ_STREAM_END) {
    peek.whole = true;
  } else if (rc == BZ_OK && stream.avail_in == 0 && stream.avail_out > 0) {
    peek.error = "the bzip2 stream is cut short";
  } else if (rc == BZ_DATA_ERROR_MAGIC) {
    peek.error = "not a bzip2 stream (error " + std::to_string(rc) + ")";
  } else if (rc < 0) {
    peek.error = "the bzip2 data is damaged (error " + std::to_string(rc) + ")";
  }
  return peek;
}

}  // namespace quorvane::inspect
