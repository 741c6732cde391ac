// The text quorvane-inspect shows for a frame file written by the outgoing buffer:
// the header fields, the kind and compression bytes and the text rendering of the
// object carried. Pure functions; the text is Windows-1252.
#pragma once

#include <string>
#include <string_view>

namespace quorvane {

// Never raises: a malformed frame is described as far as it goes, with the reason.
std::string DescribeFrame(std::string_view bytes);
// The same for the frame held by a file at a native path.
std::string DescribeFrameFile(const std::string& native_path);

}  // namespace quorvane
