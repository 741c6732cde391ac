// Errors raised while reading an object stream or its text rendering. The
// messages are the run-time library's French texts, which peers and tools show.
#pragma once

#include <stdexcept>
#include <string>

#include "util/errors.h"

namespace quorvane {

// Any failure to read an object stream: bad signature, unknown class or property,
// wrong value kind, early end, too deep nesting.
class EReadError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A text rendering that does not parse.
class EParserError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A value the stream cannot express (an enumeration ordinal without a name).
class EWriteError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The messages, in Windows-1252.
inline const std::string kStreamFormatError = "Format de flux incorrect";
inline const std::string kStreamReadError = "Erreur de lecture du flux";
inline const std::string kPropertyNotFound = "Propri\xE9t\xE9 inexistante";
inline const std::string kInvalidPropertyValue = "Valeur de propri\xE9t\xE9 incorrecte";
inline std::string ClassNotFoundMessage(const std::string& name) {
  return "Classe " + name +
         " non trouv\xE9"
         "e";
}

}  // namespace quorvane
