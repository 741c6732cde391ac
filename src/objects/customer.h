// The people and parties of the protocol: the customer's identity card, the
// reseller (partner) record and a connected user as the server describes it.
// Not thread-safe; the object's lock guards its state.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "model/zel_object.h"
#include "objects/enums.h"
#include "objects/socks_info.h"
#include "util/guid.h"

namespace quorvane {

class TZelSObjectCustomerIdentification : public TZelObject {
 public:
  explicit TZelSObjectCustomerIdentification(TZelObject* parent = nullptr);
  static const ClassInfo& StaticClass();
  int TypeCode() const override { return tvo_CustomerIdentification; }
  void DeclareProps() override;
  // Nick name, last name, first name, separated by blanks.
  std::string Caption() const override;

  std::string xsLastName;
  std::string xsFirstName;
  std::string xsNickName;
  std::string xsStreet;
  std::string xsCity;
  std::string xsState;
  std::string xsZip;
  std::string xsCountry;
  std::string xsPhone;
  std::string xsPhoneMobil;
  std::string xsWeb;
  std::string xsMail;
  TxTypeOfSex xSex = tos_nop;
  TxTypeOfTitleName xTitle = totn_M;
  std::unique_ptr<TBitmap> xPhoto = std::make_unique<TBitmap>();
  std::int32_t xnJob_ID = 0;
  std::string xsJobFunction;
  std::string xsJobSpecialist;
  std::string xsInterest;
  std::int32_t xtDateBirth = 0;
  TxTypeOfFamillyStatus xFamilyStatus = tofs_nop;
  bool xbAccepted = false;   // travels on the wire, never in files
  bool xbConnected = false;  // likewise
  std::string VxsJobName;
  std::string xsConIP;
  std::int32_t xnConPort = 0;
  std::string xsProxyUserPass;
  std::string xsProxyUserName;
  std::string xsProxyConIP;
  std::int32_t xnProxyConPort = 0;
  TxTypeOfProxy xProxyType = toprx_Nop;
  TxSocksAuthentication xProxyTypeAuth = saxNoAuthentication;
  std::string xsAvatarName;
  std::unique_ptr<TBitmap> xAvatar = std::make_unique<TBitmap>();
  bool xbIsUs = false;  // likewise
  std::int32_t xnIDLanguage = 0;
};

class TZelSObjectPartner : public TZelObject {
 public:
  explicit TZelSObjectPartner(TZelObject* parent = nullptr);
  static const ClassInfo& StaticClass();
  int TypeCode() const override { return tvo_Partner; }
  void DeclareProps() override;

  std::string xsCompagnyName;
  std::string xsStartWeb;
  std::string xsIDCustomer;
};

inline constexpr std::string_view kTypeIdConnectedUser = "{10000000-0000-0000-0000-200000000001}";

// None of its fields is published: a received connected user carries only the
// base properties.
class TZelConnectedUser : public TZelObject {
 public:
  explicit TZelConnectedUser(TZelObject* parent = nullptr);
  static const ClassInfo& StaticClass();
  int TypeCode() const override { return tvo_ConnectedUser; }
  // The base display name followed by the user's connection facts.
  std::string DisplayName() const override;

  std::string ip_address;
  std::string computer_name;
  std::string nick_name;
  Guid user_id;
  std::int32_t port = 0;
  std::unique_ptr<TxSocksInfo> socks_info = std::make_unique<TxSocksInfo>();
};

}  // namespace quorvane
