// Site values: the few addresses that differ between a vendor's installations
// (relay LAN prefix, web page URLs, built-in server host names). Compiled-in
// defaults, overridden key by key by an optional "site.toml" in the program
// folder, read once on first use. Site() is safe from any thread; ReloadSiteValues
// must not run while another thread uses the values.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace quorvane {

struct SiteValues {
  // Three dotted octets and a trailing dot; the relay targets are prefix + "1" to "3".
  std::string relay_lan_prefix = "192.168.0.";
  std::string address_page_url = "http://www.quorvane.com/ip.htm";
  std::string owner_page_url = "http://www.quorvane.net/getowner.htm";
  std::array<std::string, 3> target_host_names = {"QRVSRV1", "QRVSRV2", "QRVSRV3"};
  // Seconds without any object or byte after which the installation gives up;
  // only tests shorten it.
  int install_idle_seconds = 180;
  // Bytes that the received objects of one connection (on the incoming stack and
  // being decoded) may hold together before its receive thread stops reading.
  std::int64_t connection_memory_budget = std::int64_t{1} << 30;
  // The vendor's Ed25519 public key in base64: when set, only files listed in a
  // manifest signed by it are installed. Empty: manifests are ignored.
  std::string package_public_key;
};

// Strings are Windows-1252. The reference stays valid for the life of the process.
const SiteValues& Site();

// Reads "site.toml" again (tests write one into their own program folder).
void ReloadSiteValues();

}  // namespace quorvane
