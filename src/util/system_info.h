// Facts about the machine that the installation request reports and the start-up
// uses: language, Windows folder, computer name and address, memory load, system
// version. Each call asks the system afresh; safe from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quorvane {

// Primary language identifier of the user (9 English, 12 French, 7 German ...).
int SystemLanguageId();
std::string WindowsDirectory();
std::string ComputerName();
// Percentage of physical memory in use, 0 to 100.
std::uint32_t MemoryLoadPercent();
// The GetVersion word: major version in the low byte, minor in the next byte,
// build number in the high word.
std::uint32_t OsVersionWord();

// The portable halves of the POSIX answers, kept apart so they can be checked
// against fixed inputs.

// "fr_FR.UTF-8", "de", "en_US@euro" ...: the primary language identifier of the
// ISO 639 code; "C", "POSIX", empty and unknown codes give 9 (English).
int LanguageIdFromLocale(std::string_view locale);
// A kernel release such as "6.1.0-18-amd64" as a GetVersion word. The build is
// kept below 0x8000, because a set top bit means a non-NT Windows to callers.
std::uint32_t VersionWordFromRelease(std::string_view release);
// The load from the text of /proc/meminfo; -1 when MemTotal or MemAvailable is
// missing or the total is 0.
int MemoryLoadFromMeminfo(std::string_view meminfo);

}  // namespace quorvane
