#include "net/socket_error.h"

#include "net/byte_stream.h"
#include "util/codec.h"

namespace quorvane {

using literals::operator""_w;

std::string_view SocketFailureText(SocketFailure failure) {
  switch (failure) {
    case SocketFailure::kNone:
      return "none";
    case SocketFailure::kRefused:
      return "refused";
    case SocketFailure::kUnreachable:
      return "unreachable";
    case SocketFailure::kTimedOut:
      return "timed out";
    case SocketFailure::kRelayRefused:
      return "relay refused the target";
    case SocketFailure::kRelaySilent:
      return "relay silent";
    case SocketFailure::kOther:
      return "failed";
  }
  return "failed";
}

std::string IoStatusText(const IoResult& result) {
  switch (result.status) {
    case IoStatus::kOk:
      return "ok";
    case IoStatus::kTimeout:
      return "timed out";
    case IoStatus::kClosed:
      return "closed";
    case IoStatus::kError:
      return "error " + std::to_string(result.error);
  }
  return "error";
}

std::string WinSockErrorText(int code, std::string_view api) {
  return "Erreur socket Windows : " + SystemErrorText(code) + " (" + std::to_string(code) +
         "), avec l'API '" + std::string(api) + "'";
}

std::string SocketAlreadyOpenText() {
  return "Socket déjà ouvert"_w;
}
std::string CannotCreateSocketText() {
  return "Ne peut créer le nouveau socket"_w;
}
std::string NoAddressText() {
  return "Aucune adresse spécifiée"_w;
}
std::string CannotChangeWhileActiveText() {
  return "Ne peut modifier la valeur lorsque le socket est actif";
}
std::string MustBeBlockingText() {
  return "Le socket doit être en mode bloquant"_w;
}
std::string AsyncSocketErrorText(int code) {
  return "Erreur socket asynchrone " + std::to_string(code);
}

}  // namespace quorvane
