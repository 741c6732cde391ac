#include "transport/frame.h"

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
  if (!path_.empty() && !IsNamed() && !IsPrepared()) {
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

void TxTrame::CloseStream() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
}

bool TxTrame::WriteBytes(const void* bytes, std::size_t count) {
  if (file_ == nullptr) return false;
  if (count == 0) return true;
  const std::size_t written = std::fwrite(bytes, 1, count, file_);
  size_ += static_cast<std::int64_t>(written);
  return written == count;
}

std::size_t TxTrame::ReadBytes(void* buffer, std::size_t count) {
  if (file_ == nullptr || count == 0) return 0;
  return std::fread(buffer, 1, count, file_);
}

bool TxTrame::ReadAt(std::int64_t offset, void* buffer, std::size_t count) {
  if (file_ == nullptr || offset < 0) return false;
  if (std::fflush(file_) != 0 || std::fseek(file_, static_cast<long>(offset), SEEK_SET) != 0)
    return false;
  return std::fread(buffer, 1, count, file_) == count;
}

bool TxTrame::Rewind() {
  if (file_ == nullptr) return false;
  const bool flushed = std::fflush(file_) == 0;
  std::fseek(file_, 0, SEEK_SET);
  return flushed;
}

std::int64_t TxTrame::Position() const {
  if (file_ == nullptr) return 0;
  const long position = std::ftell(file_);
  return position < 0 ? 0 : position;
}

std::int64_t TxTrame::Size() const {
  return file_ == nullptr ? 0 : size_;
}

std::int64_t TxTrame::Remaining() const {
  return file_ == nullptr ? 0 : Size() - Position();
}

bool TxTrame::AtEnd() const {
  return file_ == nullptr || Position() >= Size();
}

void TxTrame::NotifyProgress() const {
  if (progress_) progress_(Position(), Size(), AtEnd());
}

}  // namespace quorvane
