#include "objects/files.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

#include "model/zel_props.h"
#include "util/atomic_file.h"
#include "util/codec.h"
#include "util/diagnostic_log.h"
#include "util/file_version.h"
#include "util/program_folder.h"
#include "util/text.h"

namespace quorvane {

using namespace literals;
namespace fs = std::filesystem;

namespace {

// The whole file in one read into a buffer of its final size: a received
// installation file can be large, so no growing copies. Files whose size does
// not fit the 32-bit size property are refused.
std::optional<std::string> ReadFileBytes(const std::string& native_path) {
  std::error_code error;
  const fs::path path(native_path);
  if (!fs::is_regular_file(path, error)) return std::nullopt;
  const std::uintmax_t size = fs::file_size(path, error);
  if (error || size > static_cast<std::uintmax_t>(std::numeric_limits<std::int32_t>::max()))
    return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes(static_cast<std::size_t>(size), '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(size));
  if (static_cast<std::uintmax_t>(in.gcount()) != size) return std::nullopt;
  return bytes;
}

// Received paths are lower-cased, as Windows would not tell the cases apart; the
// program folder itself keeps its case, since it is a real folder on disk.
std::string LowerCasedPath(const std::string& path) {
  const std::string& folder = ProgramFolder();
  if (path.size() >= folder.size() &&
      SameText(std::string_view(path).substr(0, folder.size()), folder))
    return folder + LowerCase(std::string_view(path).substr(folder.size()));
  return LowerCase(path);
}

}  // namespace

// --- TSOFilesList ----------------------------------------------------------------------------

const ClassInfo& TSOFilesList::StaticClass() {
  using C = TSOFilesList;
  static const ClassInfo info = MakeClassInfo(
      "TSOFilesList", &TZelObject::StaticClass(),
      {Prop::String<&C::xWhat>("xWhat"), Prop::Object<&C::xFileDirs>("xFileDirs", "TStringList"),
       Prop::Object<&C::xFileNames>("xFileNames", "TStringList"),
       Prop::Object<&C::xFileSizes>("xFileSizes", "TStringList"),
       Prop::Object<&C::xFileVersions>("xFileVersions", "TStringList")});
  return info;
}

TSOFilesList::TSOFilesList(TZelObject* parent) : TZelObject(parent, StaticClass()) {}

void TSOFilesList::AddFile(std::string_view folder, std::string_view name, std::string_view version,
                           std::int64_t size) {
  xFileDirs->Add(UpperCase(Trim(folder)));
  xFileNames->Add(UpperCase(Trim(name)));
  xFileSizes->Add(std::to_string(size));
  xFileVersions->Add(UpperCase(Trim(version)));
}

void TSOFilesList::AddFolder(std::string_view sub_folder) {
  const std::string sub = Trim(sub_folder);
  const std::string folder = BaseFolder() + (sub.empty() ? std::string() : sub + "\\");
  struct Found {
    std::string name;
    std::string native_path;
    std::uintmax_t size;
  };
  std::vector<Found> found;
  try {
    std::error_code error;
    for (fs::directory_iterator it(NativePath(folder), error), end; !error && it != end;
         it.increment(error)) {
      std::error_code entry_error;
      if (it->is_symlink(entry_error) || !it->is_regular_file(entry_error)) continue;
      const std::string native_name = it->path().filename().string();
      if (native_name.empty() || native_name.front() == '.') continue;  // hidden
      if (IsTemporaryName(native_name) || IsDiagnosticLogFile(it->path().string())) continue;
      std::string name = NameFromNative(native_name);
      const std::uintmax_t size = it->file_size(entry_error);
      if (entry_error) continue;
      found.push_back({std::move(name), it->path().string(), size});
    }
  } catch (...) {
    HandleException();
    return;
  }
  // A directory search on Windows lists names in case-insensitive order.
  std::sort(found.begin(), found.end(),
            [](const Found& a, const Found& b) { return UpperCase(a.name) < UpperCase(b.name); });
  for (const Found& file : found)
    AddFile(sub, file.name, FileVersionText(file.native_path),
            static_cast<std::int64_t>(file.size));
}

// --- TSOFile -----------------------------------------------------------------------------------

const ClassInfo& TSOFile::StaticClass() {
  using C = TSOFile;
  static const ClassInfo info = MakeClassInfo(
      "TSOFile", &TZelObject::StaticClass(),
      {Prop::String<&C::xData>("xData"), Prop::String<&C::xRelativePath>("xRelativePath"),
       Prop::String<&C::xFileName>("xFileName"), Prop::String<&C::xFileType>("xFileType"),
       Prop::Integer<&C::xFileSize>("xFileSize", "TxFileSize")});
  return info;
}

TSOFile::TSOFile(TZelObject* parent) : TZelObject(parent, StaticClass()) {
  SetHeavy(true);
  DeclareProps();
}

void TSOFile::DeclareProps() {
  Props().DeclareProp("xData", "Data", 10, topr_CanBeFat, "Data");
  Props().DeclareProp("xFileName", "FileName", 10, topr_ColDisplay, "Nom");
  Props().DeclareProp("xFileType", "FileExt", 10, topr_ColDisplay, "Extention");
  Props().DeclareProp("xFileSize", "FileSize", 10, topr_ColDisplay, "Taille");
}

std::string TSOFile::Caption() const {
  return Translate("Fichier") + " " + xFileName + " " + std::to_string(xFileSize) + " octets" +
         " " + Translate("reçu de"_w) + " " + ZelUserFromNickName();
}

bool TSOFile::LoadFromDisk(const std::string& path) {
  const std::size_t slash = path.find_last_of("\\/:");
  xFileName = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::size_t dot = xFileName.rfind('.');
  xFileType = dot == std::string::npos ? std::string() : LowerCase(xFileName.substr(dot));
  try {
    CheckFat();
    std::optional<std::string> bytes = ReadFileBytes(NativePath(path));
    if (!bytes) return false;
    xData = std::move(*bytes);
    xFileSize = static_cast<std::int32_t>(xData.size());
    StoreFat(true);
    return true;
  } catch (...) {
    HandleException();
    return false;
  }
}

bool TSOFile::SaveToDisk(const std::string& path) {
  try {
    CheckFat();
    if (!WriteFileAtomically(NativePath(LowerCasedPath(path)), xData, true)) return false;
    StoreFat(false);
    return true;
  } catch (...) {
    HandleException();
    return false;
  }
}

// --- TZelSObjectRemoteFile -------------------------------------------------------------------

const ClassInfo& TZelSObjectRemoteFile::StaticClass() {
  using C = TZelSObjectRemoteFile;
  static const ClassInfo info = MakeClassInfo(
      "TZelSObjectRemoteFile", &TZelObject::StaticClass(),
      {Prop::String<&C::xsMERXIDOwner>("xsMERXIDOwner", "TSMERXIdentifier"),
       Prop::String<&C::xDescription>("xDescription"), Prop::String<&C::xFileName>("xFileName"),
       Prop::String<&C::xFilePath>("xFilePath"), Prop::String<&C::xFileType>("xFileType"),
       Prop::String<&C::xFileVersion>("xFileVersion"),
       Prop::Integer<&C::xFileSize>("xFileSize", "TxFileSize"),
       Prop::Integer<&C::xFileTime>("xFileTime", "TxFileDate"),
       Prop::String<&C::xFileOwnerNickName>("xFileOwnerNickName"),
       Prop::String<&C::xsConIP>("xsConIP"), Prop::Integer<&C::xnConPort>("xnConPort"),
       Prop::String<&C::xsProxyUserPass>("xsProxyUserPass"),
       Prop::String<&C::xsProxyUserName>("xsProxyUserName"),
       Prop::String<&C::xsProxyConIP>("xsProxyConIP"),
       Prop::Integer<&C::xnProxyConPort>("xnProxyConPort"),
       Prop::Enum<&C::xProxyType>("xProxyType", TypeOfProxyEnum()),
       Prop::Enum<&C::xProxyTypeAuth>("xProxyTypeAuth", SocksAuthenticationEnum())});
  return info;
}

TZelSObjectRemoteFile::TZelSObjectRemoteFile(TZelObject* parent)
    : TZelObject(parent, StaticClass()) {
  DeclareProps();
}

// The connection facts are shown as well when the application traces; there is
// no application here.
void TZelSObjectRemoteFile::DeclareProps() {
  constexpr std::uint8_t kTable = topr_ToDBE | topr_FromDBE;
  constexpr std::uint8_t kShownFromTable = topr_ColDisplay | topr_FromDBE;
  constexpr std::uint8_t kReach = topr_FromDBE;
  TZelProps& props = Props();
  props.DeclareProp("xsMERXIDOwner", "CUS_MERXID", 0, kTable, "IDPropriétaire"_w);
  props.DeclareProp("xFileOwnerNickName", "CUS_NICK_NAME", 50, kShownFromTable, "Utilisateur");
  props.DeclareProp("xDescription", "FIL_Description", 30, kDefaultRoles, "Description");
  props.DeclareProp("xFileName", "FIL_Name", 30, kDefaultRoles, "Nom");
  props.DeclareProp("xFilePath", "FIL_Path", 30, kTable, "Chemin");
  props.DeclareProp("xFileType", "FIL_Extention", 30, kDefaultRoles, "Extention");
  props.DeclareProp("xFileSize", "FIL_Size", 0, kDefaultRoles, "Taille");
  props.DeclareProp("xFileVersion", "FIL_Version", 30, kDefaultRoles, "Version");
  props.DeclareProp("xFileTime", "FIL_Time", 30, kDefaultRoles, "Date");
  props.DeclareProp("xsConIP", "CUS_IPADR", 15, kReach, "IP");
  props.DeclareProp("xnConPort", "CUS_PORTADR", 0, kReach, "Port");
  props.DeclareProp("xsProxyUserPass", "ProxyPassWord", 15, kReach, "ProxyPassWord");
  props.DeclareProp("xsProxyUserName", "ProxyUserName", 15, kReach, "ProxyUserName");
  props.DeclareProp("xsProxyConIP", "ProxyServer", 15, kReach, "ProxyServer");
  props.DeclareProp("xnProxyConPort", "ProxyPort", 0, kReach, "ProxyPort");
  props.DeclareProp("xProxyType", "ProxyType", 0, kReach, "Proxy");
  props.DeclareProp("xProxyTypeAuth", "ProxyTypeAuth", 0, kReach, "ProxyAuth");
}

// --- TZelSObjectLocalFile ---------------------------------------------------------------------

const ClassInfo& TZelSObjectLocalFile::StaticClass() {
  using C = TZelSObjectLocalFile;
  static const ClassInfo info = [] {
    PropertyInfo extension = Prop::String<&C::file_extension_>("xFileExtension");
    extension.access.set_string = [](TPersistent& o, std::string&& v) {
      static_cast<C&>(o).SetFileExtension(v);
    };
    return MakeClassInfo(
        "TZelSObjectLocalFile", &TZelObject::StaticClass(),
        {Prop::String<&C::xsMERXIDOwner>("xsMERXIDOwner", "TSMERXIdentifier"),
         Prop::String<&C::xDescription>("xDescription"), Prop::String<&C::xFileName>("xFileName"),
         Prop::String<&C::xFilePath>("xFilePath"), std::move(extension),
         Prop::Enum<&C::xFileKind>("xFileKind", TypeOfFileKindEnum()),
         Prop::String<&C::xFileVersion>("xFileVersion"),
         Prop::Integer<&C::xFileTime>("xFileTime", "TxFileDate"),
         Prop::Integer<&C::xFileSize>("xFileSize", "TxFileSize")});
  }();
  return info;
}

TZelSObjectLocalFile::TZelSObjectLocalFile(TZelObject* parent) : TZelObject(parent, StaticClass()) {
  DeclareProps();
}

void TZelSObjectLocalFile::DeclareProps() {
  TZelProps& props = Props();
  props.DeclareProp("xsMERXIDOwner", "CUS_MERXID", 0, topr_ToDBE | topr_FromDBE,
                    "IDPropriétaire"_w);
  props.DeclareProp("xFileName", "FIL_Name", 30, kDefaultRoles, "Nom");
  props.DeclareProp("xDescription", "FIL_Description", 30, kDefaultRoles, "Description");
  props.DeclareProp("xFilePath", "FIL_Path", 30, kDefaultRoles, "Chemin");
  props.DeclareProp("xFileExtension", "FIL_Extention", 30, kDefaultRoles, "Extention");
  props.DeclareProp("xFileSize", "FIL_Size", 0, kDefaultRoles, "Taille");
  props.DeclareProp("xFileVersion", "FIL_Version", 30, kDefaultRoles, "Version");
  props.DeclareProp("xFileKind", "FIL_Kind", 0, kDefaultRoles, "Catégorie"_w);
  props.DeclareProp("xFileTime", "FIL_Time", 30, kDefaultRoles, "Date");
}

void TZelSObjectLocalFile::SetFileExtension(std::string_view extension) {
  file_extension_ = LowerCase(extension);
}

void TZelSObjectLocalFile::EnsureId() {
  if (IdIsNull()) xsMERXIDOwner = std::string(kNullIdText);
  TZelObject::EnsureId();
}

}  // namespace quorvane
