// Shared fixture of the objects tests: a temporary program folder (with upper-case
// letters in its name, so case mapping below it shows) and settings file per
// test, the registered classes, and a store that records what a save writes.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "model/object_file_store.h"
#include "model/zel_object.h"
#include "support/temp_folder.h"

namespace quorvane::test {

// A string from a literal that may hold NUL bytes.
template <std::size_t N>
std::string Bytes(const char (&literal)[N]) {
  return std::string(literal, N - 1);
}

// The registered class names, in type-code order.
inline constexpr std::array<const char*, 18> kRegisteredNames = {
    "TZelObject",
    "TZelSObjectDataSetAnswer",
    "TZelSObjectCustomerIdentification",
    "TZelSObjectAnswer",
    "TZelSObjectQueryAutorisation",
    "TZelSOContainer",
    "TZelSOObjectAsBlob",
    "TZelSObjectConversation",
    "TZelSObjectConversationItem",
    "TSOFilesList",
    "TZelSObjectLocalFile",
    "TZelSObjectRemoteFile",
    "TZelSObjectWait",
    "TSOFile",
    "TRessourceAvatar",
    "TxRessourceBitmap",
    "TZelConnectedUser",
    "TZelSObjectPartner"};

// A property name as the stream writes it: length byte, then the name.
std::string StreamName(const std::string& name);

class ObjectsTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // The program folder, with its trailing separator.
  const std::string& Folder() const { return folder_; }

 private:
  std::optional<testing::ProgramFolderScope> scope_;
  std::string folder_;
};

// Records the stream a save to a file would write; Compress and Decompress
// reverse the bytes so that a missing or doubled call shows.
class RecordingStore : public ObjectFileStore {
 public:
  bool SaveObject(TZelObject& object, const std::string& path, FileSaveMode mode,
                  std::uint8_t level) override;
  bool LoadObject(TZelObject&, const std::string&) override { return false; }
  void Compress(std::string& bytes, std::uint8_t level) override;
  void Decompress(std::string& bytes) override;

  std::string saved_stream;
  int compress_calls = 0;
  int decompress_calls = 0;
  std::uint8_t last_level = 0;
};

// What a save to a file writes for the object.
std::string FileForm(TZelObject& object);

}  // namespace quorvane::test
