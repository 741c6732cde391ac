// Server discovery: before it connects, the installer reads from two web pages
// where the server's relay is reachable (the address page, whose title holds
// "ip.fic", a separator and an IPv4 address) and who distributed it (the owner
// page, whose title holds company name and web site separated by "qrvne"). The
// address becomes the SOCKS proxy address (setting 10); the partner is kept in
// "DB\customer.by.zub". Main thread only.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "app/page_fetch.h"
#include "model/zel_object.h"
#include "ui/installation_ui.h"

namespace quorvane {

class TZelSObjectPartner;

inline constexpr std::string_view kAddressMarker = "ip.fic";
inline constexpr std::string_view kOwnerMarker = "qrvne";
inline constexpr std::string_view kPartnerFile = "DB\\customer.by.zub";
// The maker's own name: a partner of that name is no partner.
inline constexpr std::string_view kMakerName = "FARNWICK";

// Owns the search window for its lifetime (created hidden, shown by FindServer).
class TZelFoundServer {
 public:
  explicit TZelFoundServer(InstallationUi& ui, PageFetchLimits limits = {});
  ~TZelFoundServer();
  TZelFoundServer(const TZelFoundServer&) = delete;
  TZelFoundServer& operator=(const TZelFoundServer&) = delete;

  // The whole discovery. manager: the partner object's parent, through which it
  // reaches the data-transfer object that reads and writes its file.
  void FindServer(TZelObject& manager);

  // The page's title when it contains the marker, else empty (page not loaded,
  // inactive for the inactivity limit, past the overall deadline, another title).
  std::string FetchPageTitle(const std::string& url, std::string_view marker);

 private:
  InstallationUi& ui_;
  PageFetchLimits limits_;
  WindowRef search_window_ = kNoWindow;
};

// The relay address in an address page title: the text after the marker and its
// one separator character (at most 255 characters), cut at the first "/", trimmed.
// Nothing unless that is a dotted IPv4 address.
std::optional<std::string> RelayAddressFromTitle(std::string_view title);

// "a.b.c.d", four decimal numbers 0 to 255 of at most three digits.
bool IsDottedIpv4(std::string_view text);

// Owner page title: the company name before the first marker, the web site
// between the first and the second; without a marker nothing changes.
void ApplyOwnerTitle(TZelSObjectPartner& partner, std::string_view title);

// "NULL" for either field, or the maker's own name as the company (any case,
// blanks around), clears both fields.
void ClearUnknownPartner(TZelSObjectPartner& partner);

}  // namespace quorvane
