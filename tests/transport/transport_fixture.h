// A private program folder with the frame folders, the message classes registered,
// and helpers that move frames between buffers the way the connection threads do.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "model/object_stream.h"
#include "objects/register_classes.h"
#include "support/temp_folder.h"
#include "transport/connexion_buffer.h"
#include "transport/connexion_buffer_in.h"
#include "util/program_folder.h"

namespace quorvane::testing {

class TransportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scope_.emplace("qv_transport");
    folder_ = scope_->path();
    std::filesystem::create_directories(NativePath("DB\\TRM\\FST"));
    RegisterClasses();
  }
  void TearDown() override { scope_.reset(); }

  static std::vector<std::string> FilesIn(const std::string& relative) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(NativePath(relative)))
      if (e.is_regular_file()) names.push_back(e.path().filename().string());
    return names;
  }

  static std::string ReadFile(const std::string& native) {
    std::ifstream in(native, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  static void WriteFile(const std::string& native, const std::string& bytes) {
    std::ofstream out(native, std::ios::binary);
    out << bytes;
  }

  // Everything the send thread would write to the socket.
  static std::string Drain(TZelConnexionBuffer& buffer) {
    std::string wire;
    for (;;) {
      Chunk chunk = buffer.TakeChunkLocked(kMaxChunk);
      if (chunk.count <= 0) return wire;
      wire.append(chunk.block.get(), static_cast<std::size_t>(chunk.count));
    }
  }

  static void Deliver(TZelConnexionBufferIn& in, const std::string& bytes) {
    in.Receive(reinterpret_cast<const std::uint8_t*>(bytes.data()), static_cast<int>(bytes.size()));
    in.DeliverReady();
  }

  std::optional<ProgramFolderScope> scope_;
  std::filesystem::path folder_;
};

}  // namespace quorvane::testing
