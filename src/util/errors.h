// Exception types shared by every layer. Messages are the system's own texts
// (mostly French), in Windows-1252.
#pragma once

#include <stdexcept>
#include <string>

namespace quorvane {

// A text that does not convert to the value asked for (a malformed identifier).
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace quorvane
