#include "transport/frame.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "util/guid.h"
#include "util/program_folder.h"

namespace quorvane {

std::string FreshToken() {
  return FileSafeId(GuidToString(NewGuid()));
}

const ClassInfo& TxTrame::StaticClass() {
  static const ClassInfo info = MakeClassInfo("TxTrame", &TZelObject::StaticClass(), {});
  return info;
}

FrameFolders FrameFolders::Below(const std::string& root) {
  return {root + std::string(kFrameFolder), root + std::string(kPreparedFrameFolder)};
}

FrameFolders FrameFolders::Default() {
  return Below(TZelObject::BaseFolder());
}

FrameFolders FrameFolders::Resolved() const {
  return IsDefault() ? Default() : *this;
}

TxTrame::TxTrame(TZelObject* owner) : TxTrame(owner, FrameFolders()) {}

TxTrame::TxTrame(TZelObject* owner, FrameFolders folders)
    : TZelObject(owner, StaticClass()), folders_(std::move(folders)), object_id_(kNullIdText) {
  SetNotPersistent();
  SetName((owner != nullptr ? owner->Name() : std::string()) + "Trame" + FreshToken());
}

TxTrame::~TxTrame() {
  CloseStream();
  if (!path_.empty() && !IsNamed() && !IsPrepared() && !memory_frame_) {
    std::error_code ignored;
    std::filesystem::remove(NativePath(path_), ignored);
  }
}

void TxTrame::OpenFile(const char* mode) {
  CloseStream();
  const std::string native = NativePath(path_);
  file_ = std::fopen(native.c_str(), mode);
  if (file_ == nullptr)
    throw std::runtime_error("Impossible d'ouvrir le fichier " + path_ + ": " +
                             std::strerror(errno));
  size_ = 0;
}

void TxTrame::OpenForWrite(std::int32_t number, const TZelObject* object) {
  if (object != nullptr && object->IsAttached()) {
    object_id_ = object->GetId();
    object_caption_ = object->Caption();
    progress_ = object->on_transfer_progress;
  }
  number_ = number;
  if (IsNamed())
    path_ = folders_.Resolved().prepared + "\\" + dump_name_;
  else
    path_ = folders_.Resolved().frames + "\\" + Name() + "_" + std::to_string(number) + ".trm";
  OpenFile("w+b");
}

void TxTrame::OpenPrepared(const std::string& name) {
  number_ = 0;
  prepared_name_ = name;
  path_ = folders_.Resolved().prepared + "\\" + name;
  OpenFile("rb");
  std::fseek(file_, 0, SEEK_END);
  size_ = std::ftell(file_);
  std::fseek(file_, 0, SEEK_SET);
}

void TxTrame::OpenInMemory(std::int32_t number) {
  CloseStream();
  number_ = number;
  path_ = "(memory) " + Name() + "_" + std::to_string(number);
  in_memory_ = memory_frame_ = true;
  memory_.clear();
  memory_position_ = 0;
  size_ = 0;
}

void TxTrame::CloseStream() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
  if (in_memory_) size_ = 0;
  in_memory_ = false;
  std::string().swap(memory_);
  memory_position_ = 0;
}

bool TxTrame::WriteBytes(const void* bytes, std::size_t count) {
  if (in_memory_) {
    if (count == 0) return true;
    if (memory_position_ + count > memory_.size()) memory_.resize(memory_position_ + count);
    std::memcpy(memory_.data() + memory_position_, bytes, count);
    memory_position_ += count;
    size_ = static_cast<std::int64_t>(memory_.size());
    return true;
  }
  if (file_ == nullptr) return false;
  if (count == 0) return true;
  const std::size_t written = std::fwrite(bytes, 1, count, file_);
  size_ += static_cast<std::int64_t>(written);
  return written == count;
}

std::size_t TxTrame::ReadBytes(void* buffer, std::size_t count) {
  if (in_memory_) {
    const std::size_t n =
        std::min(count, memory_.size() - std::min(memory_position_, memory_.size()));
    if (n > 0) std::memcpy(buffer, memory_.data() + memory_position_, n);
    memory_position_ += n;
    return n;
  }
  if (file_ == nullptr || count == 0) return 0;
  return std::fread(buffer, 1, count, file_);
}

bool TxTrame::ReadAt(std::int64_t offset, void* buffer, std::size_t count) {
  if (in_memory_) {
    if (offset < 0 || static_cast<std::uint64_t>(offset) > memory_.size() ||
        count > memory_.size() - static_cast<std::size_t>(offset))
      return false;
    if (count > 0) std::memcpy(buffer, memory_.data() + offset, count);
    memory_position_ = static_cast<std::size_t>(offset) + count;
    return true;
  }
  if (file_ == nullptr || offset < 0) return false;
  if (std::fflush(file_) != 0 || std::fseek(file_, static_cast<long>(offset), SEEK_SET) != 0)
    return false;
  return std::fread(buffer, 1, count, file_) == count;
}

bool TxTrame::Rewind() {
  if (in_memory_) {
    memory_position_ = 0;
    return true;
  }
  if (file_ == nullptr) return false;
  const bool flushed = std::fflush(file_) == 0;
  std::fseek(file_, 0, SEEK_SET);
  return flushed;
}

std::int64_t TxTrame::Position() const {
  if (in_memory_) return static_cast<std::int64_t>(memory_position_);
  if (file_ == nullptr) return 0;
  const long position = std::ftell(file_);
  return position < 0 ? 0 : position;
}

std::int64_t TxTrame::Size() const {
  return IsOpen() ? size_ : 0;
}

std::int64_t TxTrame::Remaining() const {
  return IsOpen() ? Size() - Position() : 0;
}

bool TxTrame::AtEnd() const {
  return !IsOpen() || Position() >= Size();
}

void TxTrame::NotifyProgress() const {
  if (progress_) progress_(Position(), Size(), AtEnd());
}

}  // namespace quorvane
