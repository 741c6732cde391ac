// A read-only view of an input file for quorvane-inspect. Large files are mapped
// rather than read, so recognising a file's form touches only its first bytes
// and the pages of a valid file can be given back as soon as the object has
// been read from them. Single-threaded; one InputFile per open file.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quorvane::inspect {

class InputFile {
 public:
  // Opens and maps path (native, relative to the current folder). Throws
  // InspectError "Cannot read PATH: <reason>" when it cannot.
  explicit InputFile(const std::string& path);
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  const std::string& Path() const { return path_; }
  // Empty after Release.
  std::string_view Bytes() const { return {static_cast<const char*>(data_), size_}; }
  // Unmaps the file: its pages no longer count against the process.
  void Release();

 private:
  std::string path_;
  void* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace quorvane::inspect
