// The program folder (the folder of the running executable, with its trailing
// separator) and the mapping of program-relative names such as "DB\TRM\FST" to
// native paths. Reads are thread-safe; tests override the folder before starting threads.
#pragma once

#include <string>
#include <string_view>

#include "util/status.h"

namespace quorvane {

// The folder of the executable with a trailing separator. The reference stays
// valid for the life of the process, even after SetProgramFolder.
const std::string& ProgramFolder();

// Replaces the program folder for the whole process (tests, embedded runs).
// A missing trailing separator is added; an empty folder restores the
// executable's folder.
void SetProgramFolder(std::string folder);

// A program-relative name ("DB\TRM\FST") or a full path that starts with
// ProgramFolder() becomes a native path. On POSIX "\" becomes "/" and the part
// below the program folder is lower-cased (ASCII), because the file system
// distinguishes case and Windows does not, and turned from Windows-1252 into
// UTF-8, the encoding of POSIX file names; the program folder itself is kept as
// it is. An absolute path elsewhere only gets its separators converted.
std::string NativePath(std::string_view name);

// The reverse for a name read from the file system (one file or a relative
// folder path): Windows-1252, as every name in memory. On POSIX a name that is
// not UTF-8 of Windows-1252 characters keeps its bytes.
std::string NameFromNative(std::string_view native_name);

// A native path as text for messages and the log, which hold Windows-1252 and
// convert it for their file once: on POSIX its UTF-8 is converted here,
// characters outside Windows-1252 shown as '?'. Never to open a file with.
std::string NativePathText(std::string_view native_path);

// Ok when `native_path`, with every link on the way followed (a dangling one
// too, to what it names), stays inside the program folder; otherwise says
// where it leads. A link is outside when what it names is, whether that exists
// or not.
Status CheckInsideProgramFolder(const std::string& native_path);

// Whether `name`, taken as NativePath takes it, stays inside the program folder:
// no ".." leads above it and it is not an absolute path elsewhere. Names that
// come from the network are checked with this before anything is written.
bool IsBelowProgramFolder(std::string_view name);

}  // namespace quorvane
