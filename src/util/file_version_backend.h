// What the two readers of version resources share: the POSIX one walks the PE
// image itself, the Windows one asks GetFileVersionInfoA and VerQueryValueA;
// both fill a TFileVersion the same way. Private to util; no shared state.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "util/file_version.h"

namespace quorvane {

// "\StringFileInfo\<table>" of a translation whose language is in the high half
// and code page in the low half: eight lower-case hexadecimal digits.
std::string TranslationTable(std::uint32_t translation);

// Sets the twelve strings from `lookup` (a value by its name in the table of
// the first translation; nothing when missing).
void FillVersionStrings(TFileVersion& version,
                        const std::function<std::optional<std::string>(const char*)>& lookup);

// The short and full versions from the fixed part's file version words.
void FillVersionNumbers(TFileVersion& version, std::uint32_t high, std::uint32_t low);

class ByteSource;

// Fills `version` from the version resource of a PE image; false without one.
bool FillFromImage(TFileVersion& version, ByteSource& image);

// Only plain files are read: a fifo or a device would block or never end.
bool IsRegularFile(std::string_view path);

}  // namespace quorvane
