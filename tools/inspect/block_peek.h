// The first bytes a compressed block decodes to, without decoding it whole, so
// that a block whose content is plainly no object stream (a decompression bomb
// of zeros, say) is refused before memory is given for all of it. Pure function.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quorvane::inspect {

struct BlockPeek {
  std::string bytes;   // at most the count asked for
  bool whole = false;  // the stream ended within them
  std::string error;   // why the first bytes do not decode; empty when they do
};

// block: a bzip2 stream followed by its 4-byte recorded length.
BlockPeek PeekCompressedBlock(std::string_view block, std::size_t count);

}  // namespace quorvane::inspect
