// ESocketError: every socket failure, with the system's own French message texts
// (Windows-1252). The templates are kept here so that the texts stay the same on
// every platform; SystemErrorText gives the system's message for an error number.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace quorvane {

class ESocketError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Why an open failed, for the caller's decision and the diagnostic log.
enum class SocketFailure {
  kNone,
  kRefused,       // the target (or the relay) refused the connection
  kUnreachable,   // no route, network down, host unreachable
  kTimedOut,      // no answer within the connect time-out
  kRelayRefused,  // the relay answered the CONNECT request with a code other than 90
  kRelaySilent,   // the relay did not send its whole reply in time
  kOther,
};

// "refused", "unreachable" ... for the diagnostic log.
std::string_view SocketFailureText(SocketFailure failure);

class ESocketOpenError : public ESocketError {
 public:
  ESocketOpenError(const std::string& message, SocketFailure failure)
      : ESocketError(message), failure_(failure) {}
  SocketFailure failure() const { return failure_; }

 private:
  SocketFailure failure_;
};

// "Erreur socket Windows : <message> (<code>), avec l'API '<api>'".
std::string WinSockErrorText(int code, std::string_view api);
// The platform's message for an error number (errno, WSAGetLastError), in
// Windows-1252: socket_error_posix.cpp / socket_error_win32.cpp.
std::string SystemErrorText(int code);
// The platform's error number for a time-out (ETIMEDOUT, WSAETIMEDOUT).
int TimedOutErrorCode();

// The fixed messages.
std::string SocketAlreadyOpenText();   // "Socket déjà ouvert"
std::string CannotCreateSocketText();  // "Ne peut créer le nouveau socket"
std::string NoAddressText();           // "Aucune adresse spécifiée"
std::string
CannotChangeWhileActiveText();     // "Ne peut modifier la valeur lorsque le socket est actif"
std::string MustBeBlockingText();  // "Le socket doit être en mode bloquant"
std::string AsyncSocketErrorText(int code);  // "Erreur socket asynchrone <code>"

}  // namespace quorvane
