#include "app/installation_request.h"

#include <cmath>
#include <cstdio>

#include "objects/customer.h"
#include "objects/protocol.h"
#include "settings/settings.h"
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

}  // namespace

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
