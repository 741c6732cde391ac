// The socket platform seam: opening an outgoing TCP (or UDP) connection to a dotted
// IPv4 address, straight or through a SOCKS relay, as a ByteStream. One header;
// socket_posix.cpp and socket_win32.cpp. Host names are never resolved.
// Every wait is bounded: the connect by connect_timeout_ms, the relay's reply by
// socks_reply_timeout_ms. OpenSocketStream is safe from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "net/byte_stream.h"
#include "net/socket_error.h"
#include "objects/socks_info.h"

namespace quorvane {

inline constexpr int kConnectTimeoutMs = 15'000;
inline constexpr std::uint8_t kTransportTcp = 0;
inline constexpr std::uint8_t kTransportUdp = 1;

struct SocketTarget {
  std::string address;  // dotted IPv4 of the target
  std::string service;  // a service name ("http"); when set it gives the port
  int port = 0;
  std::uint8_t transport = kTransportTcp;
  TxSocksInfo socks;  // toprx_Nop: straight to the target
  int connect_timeout_ms = kConnectTimeoutMs;
  int socks_reply_timeout_ms = 10'000;
};

// Where a target is actually connected: itself, or the relay for SOCKS over TCP.
struct ConnectPoint {
  std::string address;
  int port = 0;
  bool through_relay = false;
};
ConnectPoint ConnectPointOf(const SocketTarget& target);

// Opens the connection (and negotiates SOCKS 4 when asked). Raises ESocketError:
// ESocketOpenError with the reason for connect and relay failures, NoAddressText for
// an empty address, the conversion error (std::invalid_argument) for a malformed
// target address in a SOCKS request. Nothing stays open when it raises.
std::unique_ptr<ByteStream> OpenSocketStream(const SocketTarget& target);

// The system's socket handle: a descriptor on POSIX, a SOCKET (pointer-sized) on
// Windows.
#ifdef _WIN32
using NativeSocket = std::uintptr_t;
#else
using NativeSocket = int;
#endif

// A stream over a socket that is already connected (an accepted one, one end of a
// socketpair); the stream owns the handle from now on.
std::unique_ptr<ByteStream> AdoptConnectedSocket(NativeSocket native_handle);

// The SOCKS 4 CONNECT exchange on a stream already connected to the relay: sends
// the request, then reads exactly 8 reply bytes within reply_timeout_ms. Raises
// ESocketOpenError (kRelaySilent, kRelayRefused) unless the relay granted it, so no
// reply byte is ever left for the frame stream. Portable: it only uses the stream.
void NegotiateSocks4(ByteStream& stream, const std::string& target_address, int target_port,
                     const std::string& user_id, int reply_timeout_ms);

// Dotted text of the first IPv4 address of a host name, empty when the lookup
// fails. Defined with the socket backend, which owns the socket library's start-up.
std::string HostIpv4Address(const std::string& host_name);

// The first IPv4 address of this computer's name, empty when the lookup fails.
std::string ComputerIpAddress();

}  // namespace quorvane
