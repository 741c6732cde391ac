#include "app/server_discovery.h"

#include <charconv>
#include <memory>

#include "app/page_title.h"
#include "objects/customer.h"
#include "settings/settings.h"
#include "settings/site.h"
#include "util/diagnostic_log.h"
#include "util/text.h"

namespace quorvane {
namespace {

constexpr std::string_view kLogLayer = "discovery";
constexpr std::size_t kTitleTail = 255;

}  // namespace

bool IsDottedIpv4(std::string_view text) {
  for (int part = 0; part < 4; ++part) {
    const std::size_t dot = part < 3 ? text.find('.') : text.size();
    if (dot == std::string_view::npos || dot == 0 || dot > 3) return false;
    int value = 0;
    auto [next, error] = std::from_chars(text.data(), text.data() + dot, value);
    if (error != std::errc() || next != text.data() + dot || value > 255) return false;
    text.remove_prefix(part < 3 ? dot + 1 : dot);
  }
  return text.empty();
}

std::optional<std::string> RelayAddressFromTitle(std::string_view title) {
  const std::size_t marker = title.find(kAddressMarker);
  if (marker == std::string_view::npos) return std::nullopt;
  const std::size_t start = marker + kAddressMarker.size() + 1;  // the separator
  if (start > title.size()) return std::nullopt;
  std::string_view rest = title.substr(start, kTitleTail);
  rest = rest.substr(0, rest.find('/'));
  std::string address = Trim(rest);
  if (!IsDottedIpv4(address)) return std::nullopt;
  return address;
}

void ApplyOwnerTitle(TZelSObjectPartner& partner, std::string_view title) {
  std::size_t at = title.find(kOwnerMarker);
  if (at == std::string_view::npos) return;
  partner.xsCompagnyName = std::string(title.substr(0, at));
  std::string_view rest = title.substr(at + kOwnerMarker.size(), kTitleTail);
  at = rest.find(kOwnerMarker);
  if (at != std::string_view::npos) partner.xsStartWeb = std::string(rest.substr(0, at));
}

void ClearUnknownPartner(TZelSObjectPartner& partner) {
  const std::string web = UpperCase(Trim(partner.xsStartWeb));
  const std::string company = UpperCase(Trim(partner.xsCompagnyName));
  if (web == "NULL" || company == "NULL" || company == kMakerName) {
    partner.xsStartWeb.clear();
    partner.xsCompagnyName.clear();
  }
}

TZelFoundServer::TZelFoundServer(InstallationUi& ui, PageFetchLimits limits)
    : ui_(ui), limits_(limits), search_window_(ui.OpenSearchWindow()) {}

TZelFoundServer::~TZelFoundServer() {
  ui_.CloseSearchWindow(search_window_);
}

std::string TZelFoundServer::FetchPageTitle(const std::string& url, std::string_view marker) {
  ui_.SetSearchProgress(search_window_, 0);
  const FetchedPage page = FetchPage(url, limits_, [this](std::uint32_t idle_ms) {
    const int percent = limits_.inactivity_ms == 0
                            ? 100
                            : static_cast<int>(idle_ms * 100ULL / limits_.inactivity_ms);
    ui_.SetSearchProgress(search_window_, percent);
    ui_.ProcessMessages();
  });
  if (!page.complete) {
    DiagnosticLog(kLogLayer, "page " + url + " not loaded: " + page.failure);
    return {};
  }
  // A browser shows the title of whatever page comes, an error page's too.
  if (page.http_status < 200 || page.http_status >= 300)
    DiagnosticLog(kLogLayer, "page " + url + " answered HTTP " + std::to_string(page.http_status));
  std::string title = PageTitle(page.content_type, page.body);
  if (title.find(marker) == std::string::npos) {
    DiagnosticLog(kLogLayer, "page " + url + " has no \"" + std::string(marker) +
                                 "\" in its title \"" + title.substr(0, 100) + "\"");
    return {};
  }
  return title;
}

void TZelFoundServer::FindServer(TZelObject& manager) {
  ui_.ShowSearchWindow(search_window_);
  const std::string address_title = FetchPageTitle(Site().address_page_url, kAddressMarker);
  if (!address_title.empty()) {
    if (std::optional<std::string> address = RelayAddressFromTitle(address_title)) {
      WriteSetting(kSettingProxyAddress, *address);
      DiagnosticLog(kLogLayer, "relay address " + *address);
    } else {
      DiagnosticLog(kLogLayer, "address page title holds no IPv4 address; setting 10 kept");
    }
  }

  const std::string partner_path = TZelObject::BaseFolder() + std::string(kPartnerFile);
  auto partner = std::make_unique<TZelSObjectPartner>(&manager);
  partner->Open();
  partner->LoadFromPath(partner_path);  // a missing file leaves it empty
  if (partner->IdIsNull()) {
    partner->EnsureId();
    const std::string owner_title = FetchPageTitle(Site().owner_page_url, kOwnerMarker);
    if (!owner_title.empty()) ApplyOwnerTitle(*partner, owner_title);
  }
  ClearUnknownPartner(*partner);
  if (!partner->SaveToPath(partner_path))
    DiagnosticLog(kLogLayer, "partner file could not be written");
  partner->Close();
}

}  // namespace quorvane
