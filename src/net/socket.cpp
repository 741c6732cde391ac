#include "net/socket.h"

#include <array>
#include <chrono>

#include "net/socks4.h"
#include "util/system_info.h"

namespace quorvane {

ConnectPoint ConnectPointOf(const SocketTarget& target) {
  ConnectPoint point{target.address, target.port, false};
  if (target.socks.Version != toprx_Nop && target.transport == kTransportTcp) {
    point.address = target.socks.Address;
    point.port = target.socks.Port;
    point.through_relay = true;
  }
  return point;
}

void NegotiateSocks4(ByteStream& stream, const std::string& target_address, int target_port,
                     const std::string& user_id, int reply_timeout_ms) {
  const std::vector<std::uint8_t> request =
      BuildSocks4Connect(target_address, target_port, user_id);
  const IoResult sent = stream.WriteAll(request.data(), request.size(), reply_timeout_ms);
  if (sent.status != IoStatus::kOk) {
    throw ESocketOpenError(
        WinSockErrorText(sent.error, "send") + " [SOCKS 4: " + IoStatusText(sent) + "]",
        sent.status == IoStatus::kTimeout ? SocketFailure::kRelaySilent : SocketFailure::kOther);
  }
  // The whole reply, however the relay cuts it, within one deadline.
  std::array<std::uint8_t, kSocks4ReplySize> reply{};
  std::size_t have = 0;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(reply_timeout_ms);
  while (have < reply.size()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    IoResult got{IoStatus::kTimeout, 0, 0};
    if (left > 0)
      got = stream.ReadSome(reply.data() + have, reply.size() - have, static_cast<int>(left));
    if (got.status != IoStatus::kOk) {
      throw ESocketOpenError(
          WinSockErrorText(got.status == IoStatus::kTimeout ? TimedOutErrorCode() : got.error,
                           "recv") +
              " [SOCKS 4: " + std::to_string(have) + " of 8 reply bytes, " + IoStatusText(got) +
              "]",
          SocketFailure::kRelaySilent);
    }
    have += got.count;
  }
  const Socks4Reply parsed = ParseSocks4Reply(reply);
  if (!parsed.Granted()) {
    throw ESocketOpenError("SOCKS 4: " + Socks4ReplyText(parsed) + " for " + target_address + ":" +
                               std::to_string(target_port),
                           SocketFailure::kRelayRefused);
  }
}

std::string ComputerIpAddress() {
  return HostIpv4Address(ComputerName());
}

}  // namespace quorvane
