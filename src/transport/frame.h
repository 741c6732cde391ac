// TxTrame: one frame (see frame_format.h) and the file that holds it while it is built
// or received: a numbered file in "DB\TRM" (deleted with the frame), a named dump
// in "DB\TRM\FST" (kept) or a prepared frame file in "DB\TRM\FST" (read-only, kept).
// A frame belongs to one buffer and is used under that buffer's lock.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "model/zel_object.h"

namespace quorvane {

// Program-relative folders of the frame files.
inline constexpr std::string_view kFrameFolder = "DB\\TRM";
inline constexpr std::string_view kPreparedFrameFolder = "DB\\TRM\\FST";

// The two folders of one connection's frame files, as paths NativePath maps
// ("\\" separators allowed). Each buffer takes them explicitly, so a server, a
// test or two installers in one process need not share "DB\\TRM".
struct FrameFolders {
  std::string frames;    // numbered frames, deleted with their frame
  std::string prepared;  // named dumps and prepared frames, kept

  // "DB\\TRM" and "DB\\TRM\\FST" below `root` (a folder with its trailing separator).
  static FrameFolders Below(const std::string& root);
  // Below the program folder as it is when called: the installer's folders.
  static FrameFolders Default();
  // Empty folders stand for the default, taken when a frame file is made, so
  // the program folder may still change after a buffer is built.
  bool IsDefault() const { return frames.empty() && prepared.empty(); }
  FrameFolders Resolved() const;
};

// The file-safe form of a fresh GUID: a token that makes file and object names unique.
std::string FreshToken();

class TxTrame : public TZelObject {
 public:
  explicit TxTrame(TZelObject* owner);
  TxTrame(TZelObject* owner, FrameFolders folders);
  ~TxTrame() override;

  static const ClassInfo& StaticClass();

  // Creates (or truncates) the frame's file for reading and writing. With an attached
  // object, the frame takes its identifier, caption and progress handler. Raises
  // std::runtime_error when the file cannot be created.
  void OpenForWrite(std::int32_t number, const TZelObject* object);
  // Opens the prepared frame file "DB\TRM\FST\<name>" read-only.
  void OpenPrepared(const std::string& name);
  // Holds the frame in memory instead of a file (a small received frame: no file
  // to create, write, flush and delete). Path() then names no real file.
  void OpenInMemory(std::int32_t number);
  bool InMemory() const { return memory_frame_; }
  void CloseStream();

  bool WriteBytes(const void* bytes, std::size_t count);
  std::size_t ReadBytes(void* buffer, std::size_t count);
  // Reads `count` bytes at `offset` (the position is left there); false when
  // they are not all there.
  bool ReadAt(std::int64_t offset, void* buffer, std::size_t count);
  // Flushes what was written and positions at 0; false when the flush failed.
  bool Rewind();
  std::int64_t Remaining() const;
  std::int64_t Position() const;
  std::int64_t Size() const;
  bool AtEnd() const;
  bool IsOpen() const { return file_ != nullptr || in_memory_; }
  void NotifyProgress() const;

  const std::string& Path() const { return path_; }
  FrameFolders Folders() const { return folders_.Resolved(); }
  std::int32_t Number() const { return number_; }
  const std::string& PreparedName() const { return prepared_name_; }
  const std::string& ObjectId() const { return object_id_; }
  const std::string& ObjectCaption() const { return object_caption_; }
  const std::string& DumpName() const { return dump_name_; }
  void SetDumpName(std::string name) { dump_name_ = std::move(name); }
  bool IsNamed() const { return !dump_name_.empty(); }
  bool IsPrepared() const { return !prepared_name_.empty(); }

  // Incoming side: filled from the header and the trailer.
  std::int64_t ExpectedLength() const { return expected_; }
  void SetExpectedLength(std::int64_t length) { expected_ = length; }
  char Compression() const { return compression_; }
  char Kind() const { return kind_; }
  void SetTrailer(char kind, char compression) {
    kind_ = kind;
    compression_ = compression;
  }
  // Incoming side: a payload write failed, so the frame must not be decoded.
  bool Failed() const { return failed_; }
  void SetFailed() { failed_ = true; }

 private:
  void OpenFile(const char* mode);

  FrameFolders folders_;
  std::string path_;
  std::int32_t number_ = 0;
  std::string prepared_name_;
  std::string object_id_;
  std::string object_caption_;
  std::FILE* file_ = nullptr;
  bool in_memory_ = false;     // open in memory
  bool memory_frame_ = false;  // made by OpenInMemory: no file to delete
  std::string memory_;         // the bytes of an in-memory frame
  std::size_t memory_position_ = 0;
  std::int64_t size_ = 0;  // bytes in the file, kept so Size never needs a seek
  std::int64_t expected_ = 0;
  char compression_ = ' ';
  char kind_ = ' ';
  std::string dump_name_;
  bool failed_ = false;
  TransferProgressHandler progress_;
};

}  // namespace quorvane
