// Compression of one large payload on several workers into the frames' block
// format (transport/bzip_block.h). The payload is cut into slices that each
// make exactly one bzip2 block; the slices are compressed as separate jobs,
// and their blocks are joined bit by bit into one standard bzip2 stream whose
// CRC combines theirs, so any bzip2 decoder reads it. A cancelled run stops
// between slices. Safe from any thread; the jobs share nothing else.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace quorvane::server {

using JobPoster = std::function<void(std::function<void()>)>;
using CompressedCallback =
    std::function<void(std::optional<std::string> block, const std::string& error)>;

// Payload bytes per slice at `level` (1 to 9): one bzip2 block however much
// the library's run-length step expands the data (at most 5/4).
std::size_t SliceSize(int level);

// Compresses `payload` at `level` (1 to 9) into CompressBlock's format with up
// to `parallel` jobs at a time: the caller's own (the first slice, and all of a
// one-slice payload) and others posted with `post`, each re-posted after every
// slice so other jobs of the pool take their turn. `done` runs once, on
// the job that ends last: with the block, or with nothing and the reason when
// `stop`, asked before each slice, answered true ("cancelled") or the library
// failed.
void CompressInSlices(std::shared_ptr<const std::string> payload, int level, int parallel,
                      JobPoster post, std::function<bool()> stop, CompressedCallback done);

}  // namespace quorvane::server
