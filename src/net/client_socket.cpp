#include "net/client_socket.h"

#include <stdexcept>

#include "util/text.h"

namespace quorvane {

const ClassInfo& TZelClientSocket::StaticClass() {
  static const ClassInfo info = MakeClassInfo("TZelClientSocket", &TZelObject::StaticClass(), {});
  return info;
}

TZelClientSocket::TZelClientSocket(TZelObject* owner, SocketConnector connector)
    : TZelObject(owner, StaticClass()),
      connector_(connector ? std::move(connector) : SocketConnector(&OpenSocketStream)) {
  SetName("Socket");
  SetTypeId(kTypeIdSocket);
  SetNotPersistent();
}

TZelClientSocket::~TZelClientSocket() {
  if (stream_) stream_->Shutdown();
  stream_.reset();
}

void TZelClientSocket::SetAddress(const std::string& address) {
  if (SameText(address, address_)) return;
  if (Active()) throw ESocketError(CannotChangeWhileActiveText());
  address_ = address;
}

void TZelClientSocket::SetService(const std::string& service) {
  if (SameText(service, service_)) return;
  if (Active()) throw ESocketError(CannotChangeWhileActiveText());
  service_ = service;
}

void TZelClientSocket::SetPort(int port) {
  if (port == port_) return;
  if (Active()) throw ESocketError(CannotChangeWhileActiveText());
  port_ = port;
}

void TZelClientSocket::SetTimeouts(int connect_ms, int socks_reply_ms) {
  target_.connect_timeout_ms = connect_ms;
  target_.socks_reply_timeout_ms = socks_reply_ms;
}

void TZelClientSocket::SetActive(bool value) {
  if (value == Active()) return;
  Activate(value);
}

void TZelClientSocket::Activate(bool value) {
  std::lock_guard guard(Mutex());
  if (!value) {
    // Wakes the threads; the descriptor stays until ReleaseStream.
    if (stream_) stream_->Shutdown();
    active_.store(false, std::memory_order_release);
    return;
  }
  if (port_ < 0 || port_ > 0xFFFF)
    throw std::out_of_range("port " + std::to_string(port_) + " out of range 0..65535");
  if (stream_) throw ESocketError(SocketAlreadyOpenText());
  target_.address = address_;
  target_.service = service_;
  target_.port = port_;
  try {
    stream_ = connector_(target_);
  } catch (const std::exception& error) {
    if (on_error) on_error(*this, error.what());
    throw;
  }
  if (!stream_) throw ESocketError(CannotCreateSocketText());
  active_.store(true, std::memory_order_release);
  if (on_connect) on_connect(*this);
}

void TZelClientSocket::ReleaseStream() {
  std::lock_guard guard(Mutex());
  active_.store(false, std::memory_order_release);
  stream_.reset();
}

std::string TZelClientSocket::LocalAddress() const {
  std::lock_guard guard(Mutex());
  return stream_ ? stream_->LocalAddress() : std::string();
}

std::string TZelClientSocket::RemoteAddress() const {
  std::lock_guard guard(Mutex());
  return Active() && stream_ ? stream_->RemoteAddress() : std::string();
}

}  // namespace quorvane
