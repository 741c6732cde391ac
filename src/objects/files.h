// Files and file inventories as messages: a file list (the installation request
// and its inventory), a whole file with its contents, and the descriptions of
// shared files (one offered by another user, one of this user). Not thread-safe;
// the object's lock guards its state.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "model/zel_object.h"
#include "objects/enums.h"

namespace quorvane {

class TSOFilesList : public TZelObject {
 public:
  explicit TSOFilesList(TZelObject* parent = nullptr);
  static const ClassInfo& StaticClass();
  int TypeCode() const override { return tvo_FilesList; }

  // Appends one line to each list: the folder, name and version trimmed and
  // upper-cased, the size in decimal.
  void AddFile(std::string_view folder, std::string_view name, std::string_view version,
               std::int64_t size);
  // Adds the plain files of a folder below the program folder ("" for the
  // program folder itself); neither sub-folders nor hidden files, no descent.
  // Links, temporaries of interrupted writes and the diagnostic log are no
  // installed files and are left out; names are read back into Windows-1252.
  void AddFolder(std::string_view sub_folder);

  std::string xWhat;
  std::unique_ptr<TStringList> xFileDirs = std::make_unique<TStringList>();
  std::unique_ptr<TStringList> xFileNames = std::make_unique<TStringList>();
  std::unique_ptr<TStringList> xFileSizes = std::make_unique<TStringList>();
  std::unique_ptr<TStringList> xFileVersions = std::make_unique<TStringList>();
};

class TSOFile : public TZelObject {
 public:
  explicit TSOFile(TZelObject* parent = nullptr);
  static const ClassInfo& StaticClass();
  int TypeCode() const override { return tvo_xFile; }
  void DeclareProps() override;
  std::string Caption() const override;

  // Sets xFileName and xFileType from the path, then reads the whole file into
  // xData. False when it is missing or unreadable (xData and xFileSize unchanged).
  bool LoadFromDisk(const std::string& path);
  // Writes xData to the lower-cased path, creating missing folders. The old file
  // is replaced atomically: a failure leaves it whole. Never throws.
  bool SaveToDisk(const std::string& path);

  std::string xData;          // the file's bytes, unchanged
  std::string xRelativePath;  // with its trailing backslash, empty for the top folder
  std::string xFileName;
  std::string xFileType;  // lower-case extension with its dot
  std::int32_t xFileSize = 0;
};

class TZelSObjectRemoteFile : public TZelObject {
 public:
  explicit TZelSObjectRemoteFile(TZelObject* parent = nullptr);
  static const ClassInfo& StaticClass();
  int TypeCode() const override { return tvo_RemoteFile; }
  void DeclareProps() override;
  std::string Caption() const override { return xDescription; }

  std::string xsMERXIDOwner;
  std::string xDescription;
  std::string xFileName;
  std::string xFilePath;
  std::string xFileType;
  std::string xFileVersion;
  std::int32_t xFileSize = 0;
  std::int32_t xFileTime = 0;
  std::string xFileOwnerNickName;
  std::string xsConIP;
  std::int32_t xnConPort = 0;
  std::string xsProxyUserPass;
  std::string xsProxyUserName;
  std::string xsProxyConIP;
  std::int32_t xnProxyConPort = 0;
  TxTypeOfProxy xProxyType = toprx_Nop;
  TxSocksAuthentication xProxyTypeAuth = saxNoAuthentication;
};

class TZelSObjectLocalFile : public TZelObject {
 public:
  explicit TZelSObjectLocalFile(TZelObject* parent = nullptr);
  static const ClassInfo& StaticClass();
  int TypeCode() const override { return tvo_LocalFile; }
  void DeclareProps() override;
  std::string Caption() const override { return xDescription; }
  // A new identifier also names the owner: the current user, who is the null
  // identifier here as there is no application.
  void EnsureId() override;

  const std::string& xFileExtension() const { return file_extension_; }
  void SetFileExtension(std::string_view extension);  // stored lower-cased

  std::string xsMERXIDOwner;
  std::string xDescription;
  std::string xFileName;
  std::string xFilePath;
  TxTypeOfFileKind xFileKind = fkAudio;
  std::string xFileVersion;
  std::int32_t xFileTime = 0;
  std::int32_t xFileSize = 0;

 private:
  std::string file_extension_;
};

}  // namespace quorvane
