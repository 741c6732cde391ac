#include "objects/socks_info.h"

namespace quorvane {

const ClassInfo& TxSocksInfo::StaticClass() {
  static const ClassInfo info = MakeClassInfo(
      "TxSocksInfo", &TPersistent::StaticClass(),
      {Prop::Enum<&TxSocksInfo::Authentication>("Authentication", SocksAuthenticationEnum()),
       Prop::String<&TxSocksInfo::Address>("Address"),
       Prop::String<&TxSocksInfo::Password>("Password"), Prop::Integer<&TxSocksInfo::Port>("Port"),
       Prop::String<&TxSocksInfo::UserID>("UserID"),
       Prop::Enum<&TxSocksInfo::Version>("Version", TypeOfProxyEnum())});
  return info;
}

void TxSocksInfo::Assign(const TxSocksInfo& source) {
  Authentication = source.Authentication;
  Address = source.Address;
  Password = source.Password;
  Port = source.Port;
  UserID = source.UserID;
  Version = source.Version;
}

}  // namespace quorvane
