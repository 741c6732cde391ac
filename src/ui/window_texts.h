// The texts the installation windows show, in Windows-1252, so that every
// backend says the same thing. Only the download window has English variants.
#pragma once

#include <string>

namespace quorvane {

inline constexpr const char* kConnectingText = "Connecting ...";
inline constexpr const char* kSearchCaption = "Recherche du serveur optimal";
inline constexpr const char* kSearchMessage = "Searching optimal server ";
inline constexpr const char* kDialogYes = "Oui";
inline constexpr const char* kDialogNo = "Non";
inline constexpr const char* kDialogOk = "Ok";

struct DownloadWindowTexts {
  std::string caption;        // window caption
  std::string title;          // bold heading of the top panel
  std::string title_explain;  // line under the heading
  std::string installation;   // "Avancement de l'installation :"
  std::string phases[3];      // database, services, kernel: phases 1 to 3
  std::string details;        // caption of the detail group
};

DownloadWindowTexts DownloadTexts(bool english);

}  // namespace quorvane
