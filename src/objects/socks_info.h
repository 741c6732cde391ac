// TxSocksInfo: the proxy settings record (kind, authentication, address, port,
// user identifier, password) that connections and the connected-user record
// carry. A plain value; the object holding it guards it with its own lock.
#pragma once

#include <cstdint>
#include <string>

#include "model/persistent.h"
#include "objects/enums.h"

namespace quorvane {

class TxSocksInfo : public TPersistent {
 public:
  static const ClassInfo& StaticClass();
  const ClassInfo& Class() const override { return StaticClass(); }

  // Copies all six values.
  void Assign(const TxSocksInfo& source);

  TxSocksAuthentication Authentication = saxNoAuthentication;
  std::string Address;
  std::string Password;
  std::int32_t Port = 0;
  std::string UserID;
  TxTypeOfProxy Version = toprx_Nop;
};

}  // namespace quorvane
