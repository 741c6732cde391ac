#include "objects/answers.h"

#include "model/zel_props.h"
#include "objects/files.h"
#include "util/codec.h"

namespace quorvane {

using namespace literals;

// --- TZelSObjectAnswer ---------------------------------------------------------------

const ClassInfo& TZelSObjectAnswer::StaticClass() {
  static const ClassInfo info =
      MakeClassInfo("TZelSObjectAnswer", &TZelObject::StaticClass(),
                    {Prop::Object<&TZelSObjectAnswer::ZelItems>("ZelItems", "TStringList"),
                     Prop::String<&TZelSObjectAnswer::ZelWhat>("ZelWhat")});
  return info;
}

TZelSObjectAnswer::TZelSObjectAnswer(TZelObject* parent) : TZelObject(parent, StaticClass()) {
  DeclareProps();
}

void TZelSObjectAnswer::DeclareProps() {
  Props().DeclareProp("ZelWhat", "ANS_What", 1, kDefaultRoles, "What");
}

void TZelSObjectAnswer::AddItem(std::string_view name, std::string_view value) {
  std::string line(name);
  line += '=';
  line += value;
  ZelItems->Add(std::move(line));
}

// --- TZelSObjectDataSetAnswer -----------------------------------------------------------

const ClassInfo& TZelSObjectDataSetAnswer::StaticClass() {
  using C = TZelSObjectDataSetAnswer;
  static const ClassInfo info =
      MakeClassInfo("TZelSObjectDataSetAnswer", &TZelObject::StaticClass(),
                    {Prop::Integer<&C::xMaxRecordSize>("xMaxRecordSize"),
                     Prop::Object<&C::xCols>("xCols", "TZelCols"),
                     Prop::Object<&C::xRecords>("xRecords", "TZelRecords"),
                     Prop::Enum<&C::xItemType>("xItemType", TypeZelObjectEnum()),
                     Prop::Boolean<&C::xIsSearchResult>("xIsSearchResult")});
  return info;
}

// Both collections take the constructor's parent as their owner, as the tables
// they describe belong to whoever asked for them.
TZelSObjectDataSetAnswer::TZelSObjectDataSetAnswer(TZelObject* parent)
    : TZelObject(parent, StaticClass()),
      xCols(std::make_unique<TZelCols>(parent)),
      xRecords(std::make_unique<TZelRecords>(parent)) {
  xRecords->answer = this;
}

// --- TZelSObjectWait ----------------------------------------------------------------------

const ClassInfo& TZelSObjectWait::StaticClass() {
  using C = TZelSObjectWait;
  static const ClassInfo info = MakeClassInfo(
      "TZelSObjectWait", &TZelObject::StaticClass(),
      {Prop::String<&C::xsMERXIDOwner>("xsMERXIDOwner", "TSMERXIdentifier"),
       Prop::String<&C::xWhat>("xWhat"),
       Prop::String<&C::xFacProgress>("xFacProgress", "String", Stored::Never),
       Prop::Integer<&C::xMax>("xMax", "TxFileSize", std::nullopt, Stored::Never),
       Prop::Enum<&C::xTypeProcessing>("xTypeProcessing", TypeWaitProcessingEnum(), towp_Queued)});
  return info;
}

TZelSObjectWait::TZelSObjectWait(TZelObject* parent) : TZelObject(parent, StaticClass()) {
  DeclareProps();
}

void TZelSObjectWait::DeclareProps() {
  Props().DeclareProp("xsMERXIDOwner", "CUS_MERXID", 38, topr_ToDBE | topr_FromDBE,
                      "IDPropriétaire"_w);
  Props().DeclareProp("xWhat", "What", 30, topr_ColDisplay, "Description");
  Props().DeclareProp("xFacProgress", "FacProgress", 1, topr_ColDisplay, "Progression");
  Props().DeclareProp("xMax", "TotalSize", 0, topr_ColDisplay, "Taille");
  Props().DeclareProp("xTypeProcessing", "TypeProcessing", 0, topr_ColDisplay, "Etat");
}

// The transfer list that reports progress belongs to the application object,
// which this program never has: the percentage is 0.
std::string TZelSObjectWait::Caption() const {
  switch (xTypeProcessing) {
    case towp_Queued:
      return xWhat + " " + Translate("en attente") + " ...";
    case towp_Processing:
      return "0% " + xWhat + " " + Translate("en cours") + " ...";
    case towp_ErrorFileNotFound:
      return xWhat + " " + Translate("Fichier introuvable !");
    case towp_ErrorConNotFound:
      return xWhat + " " + Translate("Impossible de trouver une connexion directe !");
  }
  return {};
}

void TZelSObjectWait::FillFromRemoteFile(const TZelObject& file, const TZelObject& source) {
  CopyIdFrom(source);
  if (file.TypeCode() != tvo_RemoteFile) return;
  const auto* remote = dynamic_cast<const TZelSObjectRemoteFile*>(&file);
  if (remote == nullptr) return;
  xWhat = remote->xDescription;
  xMax = remote->xFileSize;
  xsMERXIDOwner = remote->xsMERXIDOwner;
}

}  // namespace quorvane
