// A private program folder with the frame folders, the message classes registered,
// and helpers that move frames between buffers the way the connection threads do.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "model/object_stream.h"
#include "objects/register_classes.h"
#include "transport/connexion_buffer.h"
#include "transport/connexion_buffer_in.h"
#include "util/program_folder.h"

namespace quorvane::testing {

class TransportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    folder_ = std::filesystem::temp_directory_path() /
              ("qv_transport_" + std::to_string(::getpid()) + "_" + info->test_suite_name() + "_" +
               info->name());
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
    SetProgramFolder(folder_.string() + "/");
    std::filesystem::create_directories(NativePath("DB\\TRM\\FST"));
    setenv("QUORVANE_SETTINGS", (folder_ / "settings.toml").c_str(), 1);
    RegisterClasses();
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

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

  std::filesystem::path folder_;
};

}  // namespace quorvane::testing
