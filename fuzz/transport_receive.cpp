// The incoming buffer over arbitrary bytes split arbitrarily: Receive and DeliverReady
// must never crash, hang or leak, whatever the peer sends. The first four bytes seed
// the split points; the rest is the byte stream of the connection.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "objects/register_classes.h"
#include "transport/connexion_buffer_in.h"
#include "transport/data_transfer.h"
#include "transport/objects_stack.h"
#include "util/program_folder.h"

namespace {

const std::filesystem::path& Folder() {
  static const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("qv_fuzz_receive_" + std::to_string(::getpid()));
  return folder;
}

void PrepareOnce() {
  static const bool prepared = [] {
    const auto& folder = Folder();
    std::filesystem::create_directories(folder);
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(Folder(), ignored);
    });
    quorvane::SetProgramFolder(folder.string() + "/");
    std::filesystem::create_directories(quorvane::NativePath("DB\\TRM\\FST"));
    quorvane::RegisterClasses();
    return true;
  }();
  (void)prepared;
}

// Removes the dumps of bad headers, which a buffer keeps on purpose.
void ClearDumps() {
  std::error_code ignored;
  for (const auto& e :
       std::filesystem::directory_iterator(quorvane::NativePath("DB\\TRM\\FST"), ignored))
    std::filesystem::remove(e.path(), ignored);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  PrepareOnce();
  if (size < 4) return 0;
  std::uint32_t state =
      data[0] | data[1] << 8 | data[2] << 16 | static_cast<std::uint32_t>(data[3]) << 24;
  state |= 1;
  data += 4;
  size -= 4;

  quorvane::TZelObjectsStackManagerIn stack(nullptr);
  quorvane::TZelDataTransfer transfer;
  {
    quorvane::TZelConnexionBufferIn in(nullptr);
    in.SetStackManager(&stack);
    in.SetDataTransfer(&transfer);
    // A small budget, so the memory checks and the back-pressure path run too.
    in.SetMemoryBudget(std::int64_t{4} << 20);
    std::size_t at = 0;
    while (at < size) {
      state ^= state << 13;
      state ^= state >> 17;
      state ^= state << 5;
      const std::size_t piece = std::min<std::size_t>(size - at, 1 + state % 64);
      in.Receive(data + at, static_cast<int>(piece));
      in.DeliverReady();
      // The exchange pops what arrived; the room it gives back lets waiting frames in.
      while (stack.Pop()) {
      }
      in.DeliverReady();
      at += piece;
    }
    if (in.FrameListCount() > 1) __builtin_trap();  // at most the frame in progress remains
    while (stack.Pop()) {
    }
    if (in.MemoryHeld() != 0) __builtin_trap();  // every charge given back
  }
  while (stack.Pop()) {
  }
  ClearDumps();
  return 0;
}
