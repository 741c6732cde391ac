// The installation request: a file list whose xWhat holds the request word (by
// the language setting) and a block of facts about the machine, with the
// inventory of the program folder and of its "DB" folder, addressed to the
// server's installation receiver. Main thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "objects/files.h"

namespace quorvane {

struct MachineFacts {
  std::string windows_folder;
  std::string computer_name;
  std::string computer_ip;  // empty when the lookup fails
  std::uint64_t physical_memory_bytes = 0;
  std::uint32_t memory_load_percent = 0;
  std::uint32_t version_word = 0;
};

MachineFacts CollectMachineFacts();

// Total physical memory in bytes, 0 when unknown (platform file).
std::uint64_t PhysicalMemoryBytes();

// 1234567 -> "1,234,567"; 0 -> "0".
std::string GroupThousands(std::uint64_t value);

// The lines that follow the request word, each introduced by LF CR LF, no line
// break at the end.
std::string InformationBlock(const MachineFacts& facts, std::string_view partner_site,
                             std::string_view partner_name);

// Every folder below the program folder other than "DB" itself (listed first by
// the request) and the installer's frame folders, as program-relative names
// ("Sub\\many"), sorted; links are not followed. The server compares the
// inventory with its package, so a folder left out would be sent again whole
// at every update.
inline constexpr std::size_t kMaxInventoryFolders = 10000;
std::vector<std::string> InventoryFolders();

// The whole request, created under `parent` (the connection manager): request
// word, information block (partner values from "DB\customer.by.zub"), the
// inventory (the program folder, "DB", then every other folder) and the
// routing properties.
std::unique_ptr<TSOFilesList> BuildInstallRequest(TZelObject& parent, const MachineFacts& facts);

}  // namespace quorvane
