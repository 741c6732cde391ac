#include "objects/customer.h"

#include "model/zel_props.h"
#include "util/codec.h"

namespace quorvane {

using namespace literals;

// --- TZelSObjectCustomerIdentification ----------------------------------------------------

const ClassInfo& TZelSObjectCustomerIdentification::StaticClass() {
  using C = TZelSObjectCustomerIdentification;
  const auto routing = Stored::WhileRoutingStored;
  static const ClassInfo info =
      MakeClassInfo("TZelSObjectCustomerIdentification", &TZelObject::StaticClass(),
                    {Prop::String<&C::xsLastName>("xsLastName"),
                     Prop::String<&C::xsFirstName>("xsFirstName"),
                     Prop::String<&C::xsNickName>("xsNickName"),
                     Prop::String<&C::xsStreet>("xsStreet"),
                     Prop::String<&C::xsCity>("xsCity"),
                     Prop::String<&C::xsState>("xsState"),
                     Prop::String<&C::xsZip>("xsZip"),
                     Prop::String<&C::xsCountry>("xsCountry"),
                     Prop::String<&C::xsPhone>("xsPhone"),
                     Prop::String<&C::xsPhoneMobil>("xsPhoneMobil"),
                     Prop::String<&C::xsWeb>("xsWeb"),
                     Prop::String<&C::xsMail>("xsMail"),
                     Prop::Enum<&C::xSex>("xSex", TypeOfSexEnum()),
                     Prop::Enum<&C::xTitle>("xTitle", TypeOfTitleNameEnum()),
                     Prop::Object<&C::xPhoto>("xPhoto", "TBitmap"),
                     Prop::Integer<&C::xnJob_ID>("xnJob_ID"),
                     Prop::String<&C::xsJobFunction>("xsJobFunction"),
                     Prop::String<&C::xsJobSpecialist>("xsJobSpecialist"),
                     Prop::String<&C::xsInterest>("xsInterest"),
                     Prop::Integer<&C::xtDateBirth>("xtDateBirth", "TxDate"),
                     Prop::Enum<&C::xFamilyStatus>("xFamilyStatus", TypeOfFamillyStatusEnum()),
                     Prop::Boolean<&C::xbAccepted>("xbAccepted", routing),
                     Prop::Boolean<&C::xbConnected>("xbConnected", routing),
                     Prop::String<&C::VxsJobName>("VxsJobName"),
                     Prop::String<&C::xsConIP>("xsConIP"),
                     Prop::Integer<&C::xnConPort>("xnConPort"),
                     Prop::String<&C::xsProxyUserPass>("xsProxyUserPass"),
                     Prop::String<&C::xsProxyUserName>("xsProxyUserName"),
                     Prop::String<&C::xsProxyConIP>("xsProxyConIP"),
                     Prop::Integer<&C::xnProxyConPort>("xnProxyConPort"),
                     Prop::Enum<&C::xProxyType>("xProxyType", TypeOfProxyEnum()),
                     Prop::Enum<&C::xProxyTypeAuth>("xProxyTypeAuth", SocksAuthenticationEnum()),
                     Prop::String<&C::xsAvatarName>("xsAvatarName"),
                     Prop::Object<&C::xAvatar>("xAvatar", "TBitmap"),
                     Prop::Boolean<&C::xbIsUs>("xbIsUs", routing),
                     Prop::Integer<&C::xnIDLanguage>("xnIDLanguage")});
  return info;
}

TZelSObjectCustomerIdentification::TZelSObjectCustomerIdentification(TZelObject* parent)
    : TZelObject(parent, StaticClass()) {
  DeclareProps();
}

void TZelSObjectCustomerIdentification::DeclareProps() {
  constexpr auto kAll = kDefaultRoles;
  constexpr std::uint8_t kTable = topr_ToDBE | topr_FromDBE;
  constexpr std::uint8_t kShownFromTable = topr_ColDisplay | topr_FromDBE;
  TZelProps& props = Props();
  props.DeclareProp("xsLastName", "LAST_NAME", 30, kAll, "Nom");
  props.DeclareProp("xsFirstName", "FIRST_NAME", 30, kAll, "Prénom"_w);
  props.DeclareProp("xsNickName", "NICK_NAME", 30, kAll, "Surnom");
  props.DeclareProp("xsStreet", "ADDRESS", 30, kAll, "Adresse");
  props.DeclareProp("xsCity", "CITY", 30, kAll, "Ville");
  props.DeclareProp("xsState", "STATE", 30, kAll, "Etat");
  props.DeclareProp("xsZip", "ZIP", 30, kAll, "Code postal");
  props.DeclareProp("xsCountry", "COUNTRY", 30, kAll, "Pays");
  props.DeclareProp("xsPhone", "TELEPHONE", 30, kAll, "Téléphone"_w);
  props.DeclareProp("xsPhoneMobil", "TELMOBILE", 30, kAll, "Mobile");
  props.DeclareProp("xsWeb", "WebPage", 20, kAll, "Site");
  props.DeclareProp("xsMail", "MAIL", 30, kAll, "E-Mail");
  props.DeclareProp("xSex", "SEX", 0, kAll, "Sexe");
  props.DeclareProp("xTitle", "Title", 0, kAll, "Titre");
  props.DeclareProp("xPhoto", "PICTURE", 0, kAll, "Photo");
  props.DeclareProp("xnJob_ID", "Job_ID", 0, kTable, "IDJob");
  props.DeclareProp("xsJobFunction", "Job_Function", 30, kAll, "Fonction");
  props.DeclareProp("xsJobSpecialist", "Job_Specialist", 30, kAll, "Spécialité"_w);
  props.DeclareProp("xsInterest", "Interest", 30, kAll, "Centre d'intérêt"_w);
  props.DeclareProp("xtDateBirth", "DateBirth", 0, kAll, "Date de naissance");
  props.DeclareProp("xFamilyStatus", "FamilyStatus", 0, kAll, "Status familial");
  props.DeclareProp("xbConnected", "Connected", 0, kShownFromTable, "En ligne");
  props.DeclareProp("VxsJobName", "Job_Name", 250, kShownFromTable, "Profession");
  props.DeclareProp("xsConIP", "IPAdr", 15, topr_FromDBE, "IP");
  props.DeclareProp("xnConPort", "PortAdr", 0, topr_FromDBE, "Port");
  props.DeclareProp("xsProxyUserPass", "ProxyPassWord", 15, kTable, "ProxyPassWord");
  props.DeclareProp("xsProxyUserName", "ProxyUserName", 15, kTable, "ProxyUserName");
  props.DeclareProp("xsProxyConIP", "ProxyServer", 15, kTable, "ProxyServer");
  props.DeclareProp("xnProxyConPort", "ProxyPort", 0, kTable, "ProxyPort");
  props.DeclareProp("xProxyType", "ProxyType", 0, kTable, "Proxy");
  props.DeclareProp("xProxyTypeAuth", "ProxyTypeAuth", 0, kTable, "ProxyAuth");
  props.DeclareProp("xsAvatarName", "AvatarName", 10, kTable, "Nom de l'avatar");
  props.DeclareProp("xAvatar", "AvatarPicture", 0, kTable, "Avatar");
  props.DeclareProp("xbIsUs", "IsUs", 0, kTable, "Nous");
  props.DeclareProp("xnIDLanguage", "IDLanguage", 0, kTable, "IDLanguage");
  SetPictureProperty("xPhoto");
}

std::string TZelSObjectCustomerIdentification::Caption() const {
  return xsNickName + " " + xsLastName + " " + xsFirstName;
}

// --- TZelSObjectPartner ---------------------------------------------------------------------

const ClassInfo& TZelSObjectPartner::StaticClass() {
  using C = TZelSObjectPartner;
  static const ClassInfo info =
      MakeClassInfo("TZelSObjectPartner", &TZelObject::StaticClass(),
                    {Prop::String<&C::xsCompagnyName>("xsCompagnyName"),
                     Prop::String<&C::xsStartWeb>("xsStartWeb"),
                     Prop::String<&C::xsIDCustomer>("xsIDCustomer", "TSMERXIdentifier")});
  return info;
}

TZelSObjectPartner::TZelSObjectPartner(TZelObject* parent) : TZelObject(parent, StaticClass()) {
  DeclareProps();
}

void TZelSObjectPartner::DeclareProps() {
  Props().DeclareProp("xsCompagnyName", "CompagnyName", 50, kDefaultRoles, "Title");
  Props().DeclareProp("xsStartWeb", "WebSite", 50, kDefaultRoles, "Site");
  Props().DeclareProp("xsIDCustomer", "CUS_MERXID", 0, kDefaultRoles, "IDCustomer");
}

// --- TZelConnectedUser -------------------------------------------------------------------------

const ClassInfo& TZelConnectedUser::StaticClass() {
  static const ClassInfo info = MakeClassInfo("TZelConnectedUser", &TZelObject::StaticClass(), {});
  return info;
}

TZelConnectedUser::TZelConnectedUser(TZelObject* parent) : TZelObject(parent, StaticClass()) {
  SetName("ConnectedUser_" + FileSafeId(GuidToString(NewGuid())));
  SetTypeId(kTypeIdConnectedUser);
}

std::string TZelConnectedUser::DisplayName() const {
  return TZelObject::DisplayName() + "Nck[" + nick_name + "] ID[" + GuidToString(user_id) +
         "] Cmptr[" + computer_name + "] I[" + ip_address + "] P[" + std::to_string(port) +
         "] xI[" + socks_info->Address + "] xP[" + std::to_string(socks_info->Port) + "]";
}

}  // namespace quorvane
