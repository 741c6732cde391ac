#include "objects/conversations.h"

#include "model/zel_props.h"
#include "util/codec.h"
#include "util/guid.h"

namespace quorvane {

using namespace literals;

// --- TZelSObjectQueryAutorisation ----------------------------------------------------------

const ClassInfo& TZelSObjectQueryAutorisation::StaticClass() {
  using C = TZelSObjectQueryAutorisation;
  static const ClassInfo info = MakeClassInfo(
      "TZelSObjectQueryAutorisation", &TZelObject::StaticClass(),
      {Prop::Enum<&C::ZelTypeOfAutorisation>("ZelTypeOfAutorisation",
                                             TypeZelObjectAutorisationEnum()),
       Prop::Boolean<&C::ZelAnswer>("ZelAnswer"), Prop::Boolean<&C::ZelAccepted>("ZelAccepted"),
       Prop::String<&C::ZelNote>("ZelNote")});
  return info;
}

TZelSObjectQueryAutorisation::TZelSObjectQueryAutorisation(TZelObject* parent)
    : TZelObject(parent, StaticClass()) {}

std::string TZelSObjectQueryAutorisation::Caption() const {
  std::string text;
  switch (ZelTypeOfAutorisation) {
    case tvoa_WBN:
      text = Translate("Demande autorisation de session de PC Partage");
      break;
    case tvoa_PHONE:
      text = Translate("Appel téléphonique"_w);
      break;
    default:
      text = " " + Translate("inconnu");
      break;
  }
  const std::string& sender = ZelUserFromNickName();
  if (ZelAnswer) {
    text += " " + Translate(ZelAccepted ? "acceptée"_w : "refusée"_w) + " " + " " +
            Translate("par") + " " + sender;
  } else {
    text += " " + Translate("reçu de"_w) + " " + sender;
  }
  if (!ZelNote.empty()) text += " " + Translate("Note") + " : " + Translate(ZelNote);
  return text;
}

// --- TZelSObjectConversation ----------------------------------------------------------------

const ClassInfo& TZelSObjectConversation::StaticClass() {
  using C = TZelSObjectConversation;
  static const ClassInfo info = MakeClassInfo(
      "TZelSObjectConversation", &TZelObject::StaticClass(),
      {Prop::Boolean<&C::xChanged>("xChanged"), Prop::Object<&C::xLines>("xLines", "TStringList"),
       Prop::String<&C::xSpeakerSID1>("xSpeakerSID1", "TSMERXIdentifier"),
       Prop::String<&C::xSpeakerNickName1>("xSpeakerNickName1"),
       Prop::String<&C::xSpeakerSID2>("xSpeakerSID2", "TSMERXIdentifier"),
       Prop::String<&C::xSpeakerNickName2>("xSpeakerNickName2")});
  return info;
}

TZelSObjectConversation::TZelSObjectConversation(TZelObject* parent)
    : TZelObject(parent, StaticClass()) {
  DeclareProps();
}

void TZelSObjectConversation::DeclareProps() {
  Props().DeclareProp("xLines", "CON_Lines", 0, kDefaultRoles, "Conversation");
}

// The current user comes from the application object; without one it is the null
// identifier.
std::string TZelSObjectConversation::Caption() const {
  const std::string& other = kNullIdText != xSpeakerSID1 ? xSpeakerNickName1 : xSpeakerNickName2;
  return Translate("Conversation avec") + " " + other;
}

// --- TZelSObjectConversationItem ------------------------------------------------------------

const ClassInfo& TZelSObjectConversationItem::StaticClass() {
  using C = TZelSObjectConversationItem;
  static const ClassInfo info = MakeClassInfo(
      "TZelSObjectConversationItem", &TZelObject::StaticClass(),
      {Prop::Object<&C::xLines>("xLines", "TStringList"), Prop::String<&C::ZelWhat>("ZelWhat")});
  return info;
}

TZelSObjectConversationItem::TZelSObjectConversationItem(TZelObject* parent)
    : TZelObject(parent, StaticClass()) {}

}  // namespace quorvane
