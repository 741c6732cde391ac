// Platform hooks behind program_folder.h, one definition of each per platform
// file (program_folder_posix.cpp, program_folder_win32.cpp). Private to util.
#pragma once

#include <string>
#include <string_view>

namespace quorvane::platform {

// The folder of the running executable, with its trailing separator.
std::string ExecutableFolder();
char PathSeparator();
bool IsAbsolutePath(std::string_view name);
// The native form of a name below the program folder (separators, case).
std::string NativeRelativePath(std::string_view relative);
// The Windows-1252 form of a native name read from the file system.
std::string NameFromNative(std::string_view native_name);
// The Windows-1252 text of a native path, for messages.
std::string NativePathText(std::string_view native_path);
// The native form of an absolute path outside the program folder (separators only).
std::string NativeSeparators(std::string_view path);

}  // namespace quorvane::platform
