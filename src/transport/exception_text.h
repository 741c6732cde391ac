// The text of a caught exception, for the log line of an operation that never
// lets an error escape (its `catch (...)` still says what failed and why).
#pragma once

#include <exception>
#include <string>

namespace quorvane {

inline std::string ExceptionText(const std::exception_ptr& error = std::current_exception()) {
  try {
    if (error) std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "an exception that is not a std::exception";
  }
  return "no exception";
}

}  // namespace quorvane
