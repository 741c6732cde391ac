// TZelObject: the base of every message object, object file and framework object.
// It carries an identifier, the routing properties every message travels with,
// a property list, a parent link and linked objects (which pass service links
// down a tree), persistence to a file and cloning through the object stream.
// Each object has its own recursive lock: the linked-object list is only read or
// changed under it, and subclasses guard their own state with it.
#pragma once

#include <array>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "model/incoming_objects.h"
#include "model/object_file_store.h"
#include "model/persistent.h"
#include "util/guid.h"

namespace quorvane {

class TZelProps;

// A list of name=value parameter lines; names are trimmed and upper-cased.
class TZelModuleParam : public TStringList {
 public:
  static const ClassInfo& StaticClass();
  const ClassInfo& Class() const override { return StaticClass(); }
  void AddParam(std::string_view name, std::string_view value);
};

// Called with (position, size, at end) while a frame carrying the object moves.
using TransferProgressHandler = std::function<void(std::int64_t, std::int64_t, bool)>;

// Framework type identifiers of the classes that set their own.
inline constexpr std::string_view kTypeIdZelObject = "{10000000-0000-0000-0000-000000000000}";
// The addressee texts of SetUsersTo.
inline constexpr std::string_view kServerUserId = "{00000000-0000-0000-0000-000000000002}";
inline constexpr std::string_view kAllUsersId = "{00000000-0000-0000-0000-000000000001}";

class TZelObject : public TPersistent {
 public:
  // parent may be null. Subclasses pass their own class table.
  explicit TZelObject(TZelObject* parent = nullptr, const ClassInfo& class_info = StaticClass());
  ~TZelObject() override;

  static const ClassInfo& StaticClass();
  const ClassInfo& Class() const override { return *class_info_; }
  bool IsRoutingStored() const override { return routing_stored_; }

  // --- virtual operations --------------------------------------------------
  virtual int TypeCode() const { return 0; }
  virtual void DeclareProps() {}
  virtual bool Open();
  virtual bool Close();
  virtual bool LoadFromFile();
  virtual bool SaveToFile();
  virtual bool Start();
  virtual bool Stop() { return true; }
  virtual std::string Caption() const { return {}; }
  virtual std::string PropsText() const;
  virtual void Refresh();
  virtual void DoRefresh() {}
  virtual std::string DisplayName() const;
  virtual int DispatchQuery(int a, int b);
  virtual void DispatchNotify(int which, int a, int b);
  virtual void BeforeClone() {}
  virtual void AfterClone() {}
  virtual void Cloned(TZelObject& /*copy*/) {}
  virtual void EnsureId();
  virtual void DefaultAction() {}
  virtual void SaveFatProps();
  virtual void LoadFatProps();
  virtual void DeleteFatProps();

  // --- names and identity --------------------------------------------------
  const std::string& Name() const { return name_; }
  // Refuses (std::invalid_argument) a text that is not a valid component name.
  void SetName(std::string name);
  std::int32_t Tag() const { return tag_; }
  void SetTag(std::int32_t tag) { tag_ = tag; }
  std::string FullName() const;
  void SetPersistName(std::string name) { persist_name_ = std::move(name); }
  const std::string& PersistName() const { return persist_name_; }
  void SetFileName(std::string name) { file_name_ = std::move(name); }

  const Guid& Id() const { return id_; }
  const std::string& GetId() const { return id_text_; }
  // Trims blanks; 38 characters are parsed (EConvertError when malformed), any
  // other length gives the null identifier.
  void SetId(std::string_view text);
  void SetId(const Guid& id);
  bool IdIsNull() const { return id_.IsNull(); }
  void CopyIdFrom(const TZelObject& other) { SetId(other.id_); }

  const std::string& TypeId() const { return type_id_; }
  void SetTypeId(std::string_view text);  // cut to 38 characters
  void NewTypeId();

  // --- tree and service links ----------------------------------------------
  void LinkTo(TZelObject* parent);
  TZelObject* Parent() const { return parent_; }
  std::vector<TZelObject*> LinkedObjects() const;
  void SetStackManager(IncomingObjectSink* stack);
  void SetDataTransfer(ObjectFileStore* transfer);
  void SetIdentification(TZelObject* identification);
  IncomingObjectSink* StackManager() const { return stack_manager_; }
  ObjectFileStore* DataTransfer() const { return data_transfer_; }
  TZelObject* Identification() const { return identification_; }

  // --- locking -------------------------------------------------------------
  void Lock() const { lock_.lock(); }
  void Unlock() const { lock_.unlock(); }
  bool TryLock() const { return lock_.try_lock(); }
  std::recursive_mutex& Mutex() const { return lock_; }

  // --- persistence ---------------------------------------------------------
  static std::string BaseFolder();
  std::string FileName() const;
  bool IsPersistent() const { return persistent_; }
  void SetNotPersistent() { persistent_ = false; }
  bool LoadFromPath(const std::string& path);
  bool SaveToPath(const std::string& path);
  FileSaveMode SaveMode() const { return save_mode_; }
  void SetSaveMode(FileSaveMode mode) { save_mode_ = mode; }
  std::uint8_t SendCompressionLevel() const { return send_compression_level_; }
  void SetSendCompressionLevel(std::uint8_t level) { send_compression_level_ = level; }
  std::uint8_t FileCompressionLevel() const { return file_compression_level_; }
  void SetFileCompressionLevel(std::uint8_t level) { file_compression_level_ = level; }
  void CheckFat();
  void StoreFat(bool delete_first);
  bool HasFat() const { return has_fat_; }

  // --- clone, text form ----------------------------------------------------
  // A copy through the object stream (same class and identifier), owned by the
  // caller. The class must be registered.
  std::unique_ptr<TZelObject> Clone();
  TZelProps& Props() { return *props_; }
  const TZelProps& Props() const { return *props_; }

  // --- addressing ----------------------------------------------------------
  void SetUserFrom(bool flag);
  void SetWhoFrom(const TZelObject* other);
  void SetUsersTo(int kind);
  void SetUsersToId(std::string_view id_text);
  void SetWhoTo(std::string_view text);
  void SetWhoServerTo(std::string_view text);
  void SetWhoAnswerTo(std::string_view text);
  void SetWhoAnswerToObject(const TZelObject* other);
  void SetAnswerUser(bool flag);
  void Post() { attached_ = false; }
  void PostAttached() { attached_ = true; }
  bool IsAttached() const { return attached_; }
  bool IsHeavy() const { return heavy_; }

  // Routing properties, for the senders and receivers above.
  std::int32_t ZelNumber() const { return zel_number_; }
  void SetZelNumber(std::int32_t n) { zel_number_ = n; }
  std::int32_t ZelConnexionID() const { return zel_connexion_id_; }
  void SetZelConnexionID(std::int32_t n) { zel_connexion_id_ = n; }
  const std::string& ZelUserFromID() const { return zel_user_from_id_; }
  const std::string& ZelUserAnswerID() const { return zel_user_answer_id_; }
  const std::string& ZelUserFromNickName() const { return zel_user_from_nick_name_; }
  void SetZelUserFromNickName(std::string nick) { zel_user_from_nick_name_ = std::move(nick); }
  const std::string& WhoFrom() const { return who_from_; }
  const std::string& WhoTo() const { return who_to_; }
  const std::string& WhoServerTo() const { return who_server_to_; }
  const std::string& WhoAnswerTo() const { return who_answer_to_; }
  TStringList& ZelUsersToID() { return *users_to_; }
  const TStringList& ZelUsersToID() const { return *users_to_; }
  TZelModuleParam& Param() { return *param_; }
  const TZelModuleParam& Param() const { return *param_; }

  // --- handlers --------------------------------------------------------------
  std::function<void(TZelObject&)> on_refresh;
  std::function<std::string(const TZelObject&)> on_display_name;
  std::function<int(TZelObject&, int, int)> on_query;
  std::function<void(TZelObject&, int, int, int)> on_notify;
  TransferProgressHandler on_transfer_progress;

  // --- messages and environment ------------------------------------------------
  void ShowMessageBox(const std::string& caption, const std::string& text, bool translate) const;
  bool AskQuestion(const std::string& caption, const std::string& text, bool translate) const;
  // There is no translation table in this program: the text comes back unchanged.
  std::string Translate(const std::string& text) const { return text; }
  void Trace(std::string_view method) const;
  bool IsTestMode() const { return false; }
  bool IsNoConnection() const { return false; }
  bool IsDevelopMode() const { return false; }
  // 1, 2 or 3 when the computer's name is one of the three target host names
  // (compared upper-cased), otherwise 2.
  int TargetNumber() const;
  // The host names come from the site values, which the program installs at start-up.
  static void SetTargetHostNames(const std::array<std::string, 3>& names);
  // Passes the exception being handled to the application; there is none, so it
  // is only noted on the debugger output.
  void HandleException(std::exception_ptr error = std::current_exception()) const;

 protected:
  void SetHeavy(bool heavy) { heavy_ = heavy; }
  void SetPictureProperty(std::string name) { picture_property_ = std::move(name); }
  void RefreshSelf();

 private:
  const ClassInfo* class_info_;
  std::string name_;
  std::int32_t tag_ = 0;
  Guid id_;
  std::string id_text_;
  std::int32_t zel_number_ = 0;
  std::string zel_user_from_id_;
  std::string zel_user_answer_id_;
  std::string zel_user_from_nick_name_;
  std::string who_from_;
  std::string who_to_;
  std::string who_server_to_;
  std::string who_answer_to_;
  std::unique_ptr<TStringList> users_to_;
  std::int32_t zel_connexion_id_ = -1;
  std::int32_t dpx_ = -1;
  std::int32_t dpy_ = -1;
  std::unique_ptr<TZelModuleParam> param_;

  mutable std::recursive_mutex lock_;
  std::int32_t refresh_stamp_ = -1;
  std::vector<TZelObject*> linked_;
  bool persistent_ = true;
  TZelObject* parent_ = nullptr;
  std::string file_name_;
  std::string picture_property_;
  bool routing_stored_ = true;
  std::unique_ptr<TZelProps> props_;
  FileSaveMode save_mode_ = FileSaveMode::Compressed;
  std::string persist_name_;
  std::uint8_t send_compression_level_ = 9;
  std::uint8_t file_compression_level_ = 9;
  bool has_fat_ = false;
  bool attached_ = true;
  bool heavy_ = false;
  IncomingObjectSink* stack_manager_ = nullptr;
  ObjectFileStore* data_transfer_ = nullptr;
  TZelObject* identification_ = nullptr;
  std::string type_id_{kTypeIdZelObject};
};

// True for letters, digits and "_", not starting with a digit (empty is allowed).
bool IsValidComponentName(std::string_view name);

}  // namespace quorvane
