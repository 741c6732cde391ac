// The command line as the installer reads it: the flag string of recognised
// words and the parameter string passed on to the program started at the end.
// Main thread only (the language words write a setting).
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quorvane {

// Every argument, the program path included, lower-cased and compared whole
// with nofs, nores, develop, tst, hide, trgt1..trgt3 (appended in upper case,
// without separator, in order) and english / french (which write the language
// setting at once and append nothing). Anything else is ignored.
std::string ParseCommandLine(const std::vector<std::string>& arguments);

// The installer's version, as the project states it.
inline constexpr const char* kSetupVersion = "0.1.0";

// "--help" and "--version" are no command words: when one of them follows the
// program path, the text to print on the standard output instead of installing
// (the first of them decides); nothing otherwise.
std::optional<std::string> InformationRequest(const std::vector<std::string>& arguments);

// A blank before each argument after the program path: " a b"; "" for none.
std::string BuildRestartParameters(const std::vector<std::string>& arguments);

}  // namespace quorvane
