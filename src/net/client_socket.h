// TZelClientSocket: the client socket component a connection item owns. It keeps
// the target settings (Address, Service, Port, SOCKS settings, transport), opens
// the connection through a connector (the platform socket by default; tests give
// an in-memory one) and owns the resulting stream.
// Thread rules: the owner's thread sets, activates and releases it; any thread may
// read Active and call DeactivateSocket, which only shuts the stream down so that
// threads still holding it wake up. The stream is freed by ReleaseStream or the
// destructor, after the threads that use it have ended.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "model/zel_object.h"
#include "net/socket.h"

namespace quorvane {

inline constexpr std::string_view kTypeIdSocket = "{10000000-0000-0000-0000-200000000003}";

// Opens one connection; raises ESocketError (and the conversion errors) on failure.
using SocketConnector = std::function<std::unique_ptr<ByteStream>(const SocketTarget&)>;

class TZelClientSocket : public TZelObject {
 public:
  explicit TZelClientSocket(TZelObject* owner = nullptr, SocketConnector connector = {});
  ~TZelClientSocket() override;

  static const ClassInfo& StaticClass();

  // Address and Service compare without regard to case, Port plainly; changing a
  // value while active raises ESocketError(CannotChangeWhileActiveText()).
  const std::string& Address() const { return address_; }
  void SetAddress(const std::string& address);
  const std::string& Service() const { return service_; }
  void SetService(const std::string& service);
  int Port() const { return port_; }
  void SetPort(int port);

  TxSocksInfo& Socks() { return target_.socks; }
  std::uint8_t Transport() const { return target_.transport; }
  void SetTransport(std::uint8_t transport) { target_.transport = transport; }
  void SetTimeouts(int connect_ms, int socks_reply_ms);

  bool Active() const { return active_.load(std::memory_order_acquire); }
  // Opens (raises on failure, leaving Active false and nothing open) or deactivates.
  void SetActive(bool value);
  void ActivateSocket() { SetActive(true); }
  void DeactivateSocket() { SetActive(false); }

  // The open stream, or null; stays valid until ReleaseStream.
  ByteStream* Stream() const { return stream_.get(); }
  // Frees the stream (closes the descriptor). Only once no thread uses it.
  void ReleaseStream();

  std::string LocalAddress() const;
  std::string RemoteAddress() const;

  std::function<void(TZelClientSocket&)> on_connect;
  std::function<void(TZelClientSocket&, const std::string&)> on_error;

 private:
  void Activate(bool value);

  std::string address_;
  std::string service_;
  int port_ = 0;
  SocketTarget target_;
  SocketConnector connector_;
  std::unique_ptr<ByteStream> stream_;
  std::atomic<bool> active_{false};
};

}  // namespace quorvane
