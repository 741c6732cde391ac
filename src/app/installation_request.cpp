#include "app/installation_request.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "net/socket.h"
#include "objects/customer.h"
#include "objects/protocol.h"
#include "settings/settings.h"
#include "util/program_folder.h"
#include "util/system_info.h"
#include "util/text.h"

namespace quorvane {
namespace {

constexpr std::string_view kLineBreak = "\n\r\n";  // LF CR LF
constexpr std::size_t kSystemTextLimit = 400;

void AppendLine(std::string& block, std::string_view label, std::string_view value) {
  block += kLineBreak;
  block += label;
  block += value;
}

namespace fs = std::filesystem;

// Work folders of the installer itself, never part of an installation.
bool IsWorkFolder(const std::string& relative) {
  return SameText(relative, "DB\\TRM") || SameText(relative.substr(0, 7), "DB\\TRM\\");
}

}  // namespace

std::vector<std::string> InventoryFolders() {
  std::vector<std::string> folders;
  std::error_code error;
  const fs::path root = NativePath("");
  fs::recursive_directory_iterator it(root, fs::directory_options::none, error), end;
  for (; !error && it != end; it.increment(error)) {
    std::error_code entry_error;
    if (it->is_symlink(entry_error) || !it->is_directory(entry_error)) {
      if (it->is_symlink(entry_error)) it.disable_recursion_pending();
      continue;
    }
    std::string relative = NameFromNative(fs::relative(it->path(), root, entry_error).string());
    if (entry_error || relative.empty()) continue;
    for (char& c : relative)
      if (c == '/') c = '\\';
    if (IsWorkFolder(relative)) {
      it.disable_recursion_pending();
      continue;
    }
    if (relative.front() == '.') {  // hidden
      it.disable_recursion_pending();
      continue;
    }
    if (!SameText(relative, "DB")) folders.push_back(relative);
    if (folders.size() >= kMaxInventoryFolders) break;
  }
  std::sort(folders.begin(), folders.end());
  return folders;
}

MachineFacts CollectMachineFacts() {
  MachineFacts facts;
  facts.windows_folder = WindowsDirectory().substr(0, kSystemTextLimit);
  facts.computer_name = ComputerName().substr(0, kSystemTextLimit);
  facts.computer_ip = HostIpv4Address(facts.computer_name);
  facts.physical_memory_bytes = PhysicalMemoryBytes();
  facts.memory_load_percent = MemoryLoadPercent();
  facts.version_word = OsVersionWord();
  return facts;
}

std::string GroupThousands(std::uint64_t value) {
  std::string digits = std::to_string(value);
  for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3)
    digits.insert(at, ",");
  return digits;
}

std::string InformationBlock(const MachineFacts& facts, std::string_view partner_site,
                             std::string_view partner_name) {
  std::string block;
  AppendLine(block, "WinDir =", facts.windows_folder);
  AppendLine(block, "CmptrName =", facts.computer_name);
  AppendLine(block, "CmptrIP =", facts.computer_ip);
  const auto kilobytes = static_cast<std::uint64_t>(
      std::llround(static_cast<double>(facts.physical_memory_bytes) / 1024.0));
  AppendLine(block, "PhysMem =", GroupThousands(kilobytes) + " KB");
  AppendLine(block, "Mem =", std::to_string(facts.memory_load_percent) + " %");
  char version[16];
  std::snprintf(version, sizeof version, "%04X", facts.version_word);
  AppendLine(block, "Ver =", version);
  AppendLine(block, "PartnerSite =", Trim(partner_site));
  AppendLine(block, "PartnerName =", Trim(partner_name));
  return block;
}

std::unique_ptr<TSOFilesList> BuildInstallRequest(TZelObject& parent, const MachineFacts& facts) {
  auto request = std::make_unique<TSOFilesList>(&parent);
  std::string site;
  std::string name;
  {
    auto partner = std::make_unique<TZelSObjectPartner>(&parent);
    partner->Open();
    partner->LoadFromPath(TZelObject::BaseFolder() + "DB\\customer.by.zub");
    site = partner->xsStartWeb;
    name = partner->xsCompagnyName;
    partner->Close();
  }
  request->xWhat =
      std::string(IsEnglish() ? protocol::kWantInstallEnglish : protocol::kWantInstall);
  request->xWhat += InformationBlock(facts, site, name);
  request->AddFolder("");
  request->AddFolder("DB");
  for (const std::string& folder : InventoryFolders())
    request->AddFolder(folder);
  request->SetUserFrom(false);
  request->SetWhoFrom(&parent);
  request->SetWhoServerTo(protocol::kServerInstallReceiver);
  request->SetUsersTo(protocol::kServerUserNumber);
  request->SetWhoTo(protocol::kServerInstallReceiver);
  request->SetAnswerUser(false);
  request->SetWhoAnswerToObject(&parent);
  return request;
}

}  // namespace quorvane
