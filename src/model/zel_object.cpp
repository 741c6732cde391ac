#include "model/zel_object.h"

#include <algorithm>
#include <stdexcept>

#include "model/message_box.h"
#include "model/object_stream.h"
#include "model/stream_errors.h"
#include "model/zel_props.h"
#include "util/codec.h"
#include "util/debug_output.h"
#include "util/diagnostic_log.h"
#include "util/program_folder.h"
#include "util/system_info.h"
#include "util/text.h"

namespace quorvane {

using namespace literals;

// --- TZelModuleParam ---------------------------------------------------------

const ClassInfo& TZelModuleParam::StaticClass() {
  static const ClassInfo info = MakeClassInfo("TZelModuleParam", &TStringList::StaticClass(), {});
  return info;
}

void TZelModuleParam::AddParam(std::string_view name, std::string_view value) {
  Add(UpperCase(Trim(name)) + "=" + std::string(value));
}

// --- the published properties ----------------------------------------------

const ClassInfo& TZelObject::StaticClass() {
  static const ClassInfo info = [] {
    std::vector<PropertyInfo> props;
    PropertyInfo name = Prop::String<&TZelObject::name_>("Name", "TComponentName", Stored::Never);
    name.access.set_string = [](TPersistent& o, std::string&& v) {
      static_cast<TZelObject&>(o).SetName(std::move(v));
    };
    props.push_back(std::move(name));
    props.push_back(Prop::Integer<&TZelObject::tag_>("Tag", "Integer", 0));
    PropertyInfo id = Prop::String<&TZelObject::id_text_>("xSMERXID", "TSMERXIdentifier");
    id.access.set_string = [](TPersistent& o, std::string&& v) {
      static_cast<TZelObject&>(o).SetId(std::string_view(v));
    };
    props.push_back(std::move(id));
    props.push_back(PropertyInfo{"xLinkerSelf", "TZelObject", PropKind::Component});
    const auto routing = Stored::WhileRoutingStored;
    props.push_back(
        Prop::Integer<&TZelObject::zel_number_>("ZelNumber", "Integer", std::nullopt, routing));
    props.push_back(
        Prop::String<&TZelObject::zel_user_from_id_>("ZelUserFromID", "String", routing));
    props.push_back(
        Prop::String<&TZelObject::zel_user_answer_id_>("ZelUserAnswerID", "String", routing));
    props.push_back(Prop::String<&TZelObject::zel_user_from_nick_name_>("ZelUserFromNickName",
                                                                        "String", routing));
    props.push_back(Prop::String<&TZelObject::who_from_>("ZelTypeZelEventWhoFrom",
                                                         "TSMERXIdentifier", routing));
    props.push_back(
        Prop::String<&TZelObject::who_to_>("ZelTypeZelEventWhoTo", "TSMERXIdentifier", routing));
    props.push_back(Prop::String<&TZelObject::who_server_to_>("ZelTypeZelEventWhoServerTo",
                                                              "TSMERXIdentifier", routing));
    props.push_back(Prop::String<&TZelObject::who_answer_to_>("ZelTypeZelEventWhoAnswerTo",
                                                              "TSMERXIdentifier", routing));
    props.push_back(Prop::Object<&TZelObject::users_to_>("ZelUsersToID", "TStringList", routing));
    props.push_back(Prop::Integer<&TZelObject::zel_connexion_id_>("ZelConnexionID", "Integer",
                                                                  std::nullopt, routing));
    props.push_back(Prop::Integer<&TZelObject::dpx_>("ZelDPX", "Integer", -1));
    props.push_back(Prop::Integer<&TZelObject::dpy_>("ZelDPY", "Integer", -1));
    props.push_back(Prop::Object<&TZelObject::param_>("xaParam", "TZelModuleParam"));
    static const ClassInfo component = MakeClassInfo("TComponent", &TPersistent::StaticClass(), {});
    return MakeClassInfo("TZelObject", &component, std::move(props));
  }();
  return info;
}

// --- construction ------------------------------------------------------------

TZelObject::TZelObject(TZelObject* parent, const ClassInfo& class_info)
    : class_info_(&class_info),
      id_text_(kNullIdText),
      users_to_(std::make_unique<TStringList>()),
      param_(std::make_unique<TZelModuleParam>()) {
  props_ = std::make_unique<TZelProps>(*this);
  if (parent != nullptr) {
    stack_manager_ = parent->stack_manager_;
    data_transfer_ = parent->data_transfer_;
    identification_ = parent->identification_;
    LinkTo(parent);
  }
  name_ = class_info.name + "_" + FileSafeId(GuidToString(NewGuid()));
  props_->DeclareProp("xSMERXID", "MERXID", 0, topr_ToDBE | topr_FromDBE, "Numéro"_w);
}

TZelObject::~TZelObject() {
  {
    std::lock_guard guard(lock_);
    for (TZelObject* linked : linked_)
      linked->parent_ = nullptr;
    linked_.clear();
  }
  if (parent_ != nullptr) {
    std::lock_guard guard(parent_->lock_);
    auto& siblings = parent_->linked_;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
  }
}

bool IsValidComponentName(std::string_view name) {
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
    const bool digit = c >= '0' && c <= '9';
    if (!letter && !(digit && i > 0)) return false;
  }
  return true;
}

void TZelObject::SetName(std::string name) {
  if (!IsValidComponentName(name))
    throw std::invalid_argument("'" + name + "' n'est pas un nom de composant correct");
  name_ = std::move(name);
}

// --- identity ------------------------------------------------------------------

void TZelObject::SetId(std::string_view text) {
  const std::string trimmed = Trim(text);
  SetId(trimmed.size() == 38 ? GuidFromString(trimmed) : Guid{});
}

void TZelObject::SetId(const Guid& id) {
  id_ = id;
  id_text_ = GuidToString(id);
}

void TZelObject::SetTypeId(std::string_view text) {
  type_id_ = std::string(text.substr(0, 38));
}

void TZelObject::NewTypeId() {
  type_id_ = GuidToString(NewGuid());
}

void TZelObject::EnsureId() {
  if (IdIsNull()) SetId(NewGuid());
}

std::string TZelObject::FullName() const {
  std::string result = persist_name_.empty() ? name_ : persist_name_;
  for (const TZelObject* p = parent_; p != nullptr; p = p->parent_) {
    const std::string& part = p->persist_name_.empty() ? p->name_ : p->persist_name_;
    if (part.find("xSelf") == std::string::npos) result = part + "." + result;
  }
  return result;
}

// --- tree and links ---------------------------------------------------------------

void TZelObject::LinkTo(TZelObject* parent) {
  if (parent == nullptr) return;
  if (parent_ != nullptr) {
    std::lock_guard guard(parent_->lock_);
    auto& siblings = parent_->linked_;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
  }
  parent_ = parent;
  std::lock_guard guard(parent->lock_);
  if (std::find(parent->linked_.begin(), parent->linked_.end(), this) == parent->linked_.end())
    parent->linked_.push_back(this);
}

std::vector<TZelObject*> TZelObject::LinkedObjects() const {
  std::lock_guard guard(lock_);
  return linked_;
}

void TZelObject::SetStackManager(IncomingObjectSink* stack) {
  std::lock_guard guard(lock_);
  stack_manager_ = stack;
  for (TZelObject* linked : linked_)
    linked->SetStackManager(stack);
}

void TZelObject::SetDataTransfer(ObjectFileStore* transfer) {
  std::lock_guard guard(lock_);
  data_transfer_ = transfer;
  for (TZelObject* linked : linked_)
    linked->SetDataTransfer(transfer);
}

void TZelObject::SetIdentification(TZelObject* identification) {
  std::lock_guard guard(lock_);
  identification_ = identification;
  for (TZelObject* linked : linked_)
    linked->SetIdentification(identification);
}

// --- life cycle ------------------------------------------------------------------

bool TZelObject::Open() {
  if (persist_name_.empty() && file_name_.empty()) persistent_ = false;
  if (persistent_) LoadFromFile();
  return true;
}

bool TZelObject::Close() {
  SaveToFile();
  return true;
}

bool TZelObject::LoadFromFile() {
  return LoadFromPath(FileName());
}

bool TZelObject::SaveToFile() {
  if (!persistent_) return false;
  return SaveToPath(FileName());
}

bool TZelObject::Start() {
  RefreshSelf();
  return true;
}

// Without an application the refresh stamp is always -1.
void TZelObject::RefreshSelf() {
  constexpr std::int32_t kApplicationStamp = -1;
  if (refresh_stamp_ == kApplicationStamp) return;
  DoRefresh();
  if (on_refresh) on_refresh(*this);
  refresh_stamp_ = kApplicationStamp;
}

void TZelObject::Refresh() {
  RefreshSelf();
  if (!TryLock()) return;
  std::lock_guard guard(lock_, std::adopt_lock);
  for (TZelObject* linked : linked_)
    linked->Refresh();
}

std::string TZelObject::DisplayName() const {
  std::string name = on_display_name ? on_display_name(*this) : name_;
  return name.empty() ? ClassName() : name;
}

int TZelObject::DispatchQuery(int a, int b) {
  return on_query ? on_query(*this, a, b) : 1;
}

void TZelObject::DispatchNotify(int which, int a, int b) {
  if (on_notify) on_notify(*this, which, a, b);
}

std::string TZelObject::PropsText() const {
  TStringList lines;
  props_->FillStrings(lines);
  std::string text;
  for (std::size_t i = 0; i < lines.Count(); ++i) {
    if (i > 0) text += "\r\n";
    text += lines.Lines()[i];
  }
  return text;
}

// --- persistence -------------------------------------------------------------------

std::string TZelObject::BaseFolder() {
  return ProgramFolder();
}

std::string TZelObject::FileName() const {
  if (!file_name_.empty()) return BaseFolder() + file_name_ + ".zub";
  return BaseFolder() + "DB\\" + FullName() + ".zub";
}

bool TZelObject::LoadFromPath(const std::string& path) {
  if (data_transfer_ == nullptr) return false;
  return data_transfer_->LoadObject(*this, path);
}

bool TZelObject::SaveToPath(const std::string& path) {
  if (data_transfer_ == nullptr) return false;
  routing_stored_ = false;
  bool saved = false;
  try {
    saved = data_transfer_->SaveObject(*this, path, save_mode_, file_compression_level_);
  } catch (...) {
    HandleException();
  }
  routing_stored_ = true;
  return saved;
}

void TZelObject::SaveFatProps() {
  props_->SaveFat();
}
void TZelObject::LoadFatProps() {
  props_->LoadFat();
}
void TZelObject::DeleteFatProps() {
  props_->DeleteFat();
}

void TZelObject::CheckFat() {
  has_fat_ = props_->HasFat();
  if (has_fat_) LoadFatProps();
}

void TZelObject::StoreFat(bool delete_first) {
  if (!has_fat_) return;
  if (delete_first) DeleteFatProps();
  SaveFatProps();
}

// --- clone ------------------------------------------------------------------------------

std::unique_ptr<TZelObject> TZelObject::Clone() {
  BeforeClone();
  TBinStream stream;
  stream.WriteObject(*this);
  std::unique_ptr<TZelObject> copy = stream.ReadObject();
  copy->name_ = "Clone_de_" + name_;
  copy->stack_manager_ = stack_manager_;
  copy->data_transfer_ = data_transfer_;
  copy->identification_ = identification_;
  copy->LinkTo(parent_);
  AfterClone();
  Cloned(*copy);
  return copy;
}

// --- addressing -------------------------------------------------------------------------

void TZelObject::SetUserFrom(bool) {}  // needs an application's current user
void TZelObject::SetAnswerUser(bool) {}

void TZelObject::SetWhoFrom(const TZelObject* other) {
  if (other != nullptr) who_from_ = other->type_id_;
}

void TZelObject::SetUsersTo(int kind) {
  if (kind == 1) SetUsersToId(kServerUserId);
  if (kind == 3) SetUsersToId(kAllUsersId);
}

void TZelObject::SetUsersToId(std::string_view id_text) {
  users_to_->Clear();
  users_to_->Add(std::string(id_text));
}

void TZelObject::SetWhoTo(std::string_view text) {
  who_to_ = std::string(text.substr(0, 38));
}

void TZelObject::SetWhoServerTo(std::string_view text) {
  who_server_to_ = std::string(text.substr(0, 38));
}

void TZelObject::SetWhoAnswerTo(std::string_view text) {
  who_answer_to_ = std::string(text.substr(0, 38));
}

void TZelObject::SetWhoAnswerToObject(const TZelObject* other) {
  if (other != nullptr) SetWhoAnswerTo(other->type_id_);
}

// --- messages and environment ---------------------------------------------------------

void TZelObject::ShowMessageBox(const std::string& caption, const std::string& text,
                                bool translate) const {
  CurrentMessageBoxService().ShowMessage(translate ? Translate(caption) : caption,
                                         translate ? Translate(text) : text);
}

bool TZelObject::AskQuestion(const std::string& caption, const std::string& text,
                             bool translate) const {
  return CurrentMessageBoxService().AskQuestion(translate ? Translate(caption) : caption,
                                                translate ? Translate(text) : text);
}

void TZelObject::Trace(std::string_view method) const {
  DebugOutput("Object:" + name_ + " Method:" + std::string(method));
}

namespace {
std::mutex target_hosts_mutex;
std::array<std::string, 3> target_hosts;
}  // namespace

void TZelObject::SetTargetHostNames(const std::array<std::string, 3>& names) {
  std::lock_guard guard(target_hosts_mutex);
  target_hosts = names;
}

int TZelObject::TargetNumber() const {
  const std::string computer = UpperCase(ComputerName());
  std::array<std::string, 3> hosts;
  {
    std::lock_guard guard(target_hosts_mutex);
    hosts = target_hosts;
  }
  for (std::size_t i = 0; i < hosts.size(); ++i)
    if (!hosts[i].empty() && computer == UpperCase(hosts[i])) return static_cast<int>(i) + 1;
  return 2;
}

void TZelObject::HandleException(std::exception_ptr error) const {
  if (!error) return;
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    DiagnosticLog("model", "Object:" + name_ + " Exception:" + e.what());
  } catch (...) {
    DiagnosticLog("model", "Object:" + name_ + " Exception");
  }
}

}  // namespace quorvane
