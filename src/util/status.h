// Status: the outcome of an operation that does not throw. It is ok, or it
// carries what failed (the file, the name, the step) and why, so the caller can
// log or show one line without piecing it together. Modelled on LevelDB's
// Status. A plain value, safe to copy between threads.
#pragma once

#include <string>
#include <utility>

namespace quorvane {

class Status {
 public:
  Status() = default;  // ok
  static Status Ok() { return {}; }
  static Status Error(std::string what, std::string why) {
    Status status;
    status.what_ = std::move(what);
    status.why_ = std::move(why);
    status.failed_ = true;
    return status;
  }

  bool ok() const { return !failed_; }
  // So that `if (!WriteFileAtomically(...))` reads as it did when it was a bool.
  explicit operator bool() const { return ok(); }
  const std::string& what() const { return what_; }
  const std::string& why() const { return why_; }
  // "OK", or "what: why".
  std::string ToString() const { return ok() ? "OK" : what_ + ": " + why_; }

 private:
  std::string what_;
  std::string why_;
  bool failed_ = false;
};

}  // namespace quorvane
