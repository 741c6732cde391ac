// The words of the installation protocol, shared by the installer and the server:
// the control words carried in `ZelWhat` of answers, the request words carried in
// `xWhat` of file lists, the item names of answers, and the fixed identifiers used
// to route objects. Code spells these only through this header.
#pragma once

#include <string_view>

#include "model/zel_object.h"

namespace quorvane::protocol {

// Control words of TZelSObjectAnswer::ZelWhat.
inline constexpr std::string_view kAuthentication = "Atfctn";  // both ways, first on a connection
inline constexpr std::string_view kHeaderInfo = "HeaderInfo";  // announces a large object
inline constexpr std::string_view kFastFrame = "FastTrame";    // send a prepared frame file
inline constexpr std::string_view kInstallBegin = "DebutInstall";  // items: file count, byte count
inline constexpr std::string_view kPhase2 = "Phase2";
inline constexpr std::string_view kPhase3 = "Phase3";
inline constexpr std::string_view kInstallEnd = "Fin";
inline constexpr std::string_view kInstallEndMessage = "FinMessage";  // item 0: text for the user
// Before "DebutInstall": the vendor's signed list of the package's files
// (transport/package_manifest.h gives its lines).
inline constexpr std::string_view kPackageManifest = "PackageManifest";

// Request words of TSOFilesList::xWhat (the information block may follow).
inline constexpr std::string_view kCustomerInformation = "CustomerInformation";
inline constexpr std::string_view kWantInstall = "WantCustomerInstall";
inline constexpr std::string_view kWantInstallEnglish = "WantCustomerInstallEnglish";

// Item names of answers ("name=value" lines of ZelItems).
inline constexpr std::string_view kItemId = "MERXID";    // an identifier in registry form
inline constexpr std::string_view kItemCaption = "Def";  // caption of an announced object

// The server user's identifier (every byte zero but the last, which is 2); the
// object model routes user number 1 to it.
inline constexpr std::string_view kServerUserId = quorvane::kServerUserId;
// Number of the server user in SetUsersTo.
inline constexpr int kServerUserNumber = 1;

// Routing addresses (framework type identifiers of the server's receivers).
inline constexpr std::string_view kServerInstallReceiver = "{10000000-0000-0000-1000-000000000003}";
inline constexpr std::string_view kServerIdentificationReceiver =
    "{10000000-0000-0000-0000-100000000022}";

// The program-relative name of the updater as delivered, and as started.
inline constexpr std::string_view kDeliveredUpdater = "upd.zub";
inline constexpr std::string_view kStartedUpdater = "upd.Exe";

}  // namespace quorvane::protocol
