#include "objects/containers.h"

#include "model/object_stream.h"
#include "model/zel_props.h"

namespace quorvane {

// --- TZelSOObjectAsBlob ---------------------------------------------------------------------

const ClassInfo& TZelSOObjectAsBlob::StaticClass() {
  static const ClassInfo info = MakeClassInfo("TZelSOObjectAsBlob", &TZelObject::StaticClass(), {});
  return info;
}

TZelSOObjectAsBlob::TZelSOObjectAsBlob(TZelObject* parent) : TZelObject(parent, StaticClass()) {}

void TZelSOObjectAsBlob::WriteExtraProperties(ObjectWriter& writer,
                                              const std::string& prefix) const {
  writer.WritePropertyName(prefix, "ObjectData");
  writer.WriteBinary(data_);
}

// The received bytes replace the old ones whole: a shorter value must not leave
// the tail of a longer one behind.
bool TZelSOObjectAsBlob::ReadExtraProperty(std::string_view name, ObjectReader& reader) {
  if (name != "ObjectData") return false;
  data_ = reader.ReadBinaryValue();
  return true;
}

// --- TZelSOContainer --------------------------------------------------------------------------

const ClassInfo& TZelSOContainer::StaticClass() {
  static const ClassInfo info = MakeClassInfo(
      "TZelSOContainer", &TZelObject::StaticClass(),
      {Prop::Object<&TZelSOContainer::xRef>("xRef", "TZelSOObjectAsBlob", Stored::Never)});
  return info;
}

TZelSOContainer::TZelSOContainer(TZelObject* parent)
    : TZelObject(parent, StaticClass()), xRef(std::make_unique<TZelSOObjectAsBlob>(this)) {
  DeclareProps();
}

void TZelSOContainer::DeclareProps() {
  Props().DeclareProp("xRef", "OBJECTINSIDE", 0, kDefaultRoles, Translate("Description"));
}

void TZelSOContainer::SetObject(const TZelObject& object) {
  CopyIdFrom(object);
  // Written aside first: object may be the cached inner object dropped below.
  std::string bytes = ObjectToStream(object);
  xRef->Data() = std::move(bytes);
  inner_.reset();
}

std::unique_ptr<TZelObject> TZelSOContainer::ReadInner() const {
  if (xRef->Data().empty()) return nullptr;
  try {
    return ObjectFromStream(xRef->Data());
  } catch (...) {
    HandleException();
    return nullptr;
  }
}

TZelObject* TZelSOContainer::Object() {
  inner_.reset();
  inner_ = ReadInner();
  if (!inner_) return nullptr;
  inner_->SetStackManager(StackManager());
  inner_->SetDataTransfer(DataTransfer());
  inner_->SetIdentification(Identification());
  inner_->LinkTo(this);
  CopyIdFrom(*inner_);
  return inner_.get();
}

std::string TZelSOContainer::Caption() const {
  const auto inner = ReadInner();
  return inner ? inner->Caption() : std::string();
}

std::string TZelSOContainer::PropsText() const {
  const auto inner = ReadInner();
  return inner ? inner->PropsText() : std::string();
}

void TZelSOContainer::DefaultAction() {
  if (TZelObject* inner = Object()) inner->DefaultAction();
}

void TZelSOContainer::SaveFatProps() {
  if (TZelObject* inner = Object()) {
    inner->SaveFatProps();
    SetObject(*inner);
  }
}

void TZelSOContainer::LoadFatProps() {
  if (TZelObject* inner = Object()) {
    inner->LoadFatProps();
    SetObject(*inner);
  }
}

void TZelSOContainer::DeleteFatProps() {
  if (TZelObject* inner = Object()) inner->DeleteFatProps();
}

void TZelSOContainer::BeforeClone() {
  if (ObjectFileStore* transfer = DataTransfer()) transfer->Compress(xRef->Data(), 1);
}

void TZelSOContainer::AfterClone() {
  if (ObjectFileStore* transfer = DataTransfer()) transfer->Decompress(xRef->Data());
}

void TZelSOContainer::Cloned(TZelObject& copy) {
  auto* container = dynamic_cast<TZelSOContainer*>(&copy);
  if (container == nullptr) return;
  if (TZelObject* inner = Object()) container->SetObject(*inner);
}

}  // namespace quorvane
